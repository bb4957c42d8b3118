// A progress bar: the track (bkimage) and the filled part (foreimage) drawn over the share of the
// width that the value reaches between min and max.
#pragma once

#include "UiLib/CLabelUI.h"

namespace UiLib {

class CProgressUI : public CLabelUI {
  public:
    CProgressUI();
    std::string GetClass() const override { return "ProgressUI"; }

    int GetMinValue() const;
    int GetMaxValue() const;
    int GetValue() const;
    void SetMinValue(int v);
    void SetMaxValue(int v);
    // Kept within min..max.
    void SetValue(int v);

    bool SetAttribute(const std::string& name, const std::string& value) override;

  protected:
    void PaintStatusImage(Painter& painter) override;

  private:
    int min_ = 0;
    int max_ = 100;
    int value_ = 0;
    std::string foreImage_;
};

}  // namespace UiLib
