// A button that paints the frames of a GIF of the skin in turn ("normalgiffile"), switching with
// control timer 15 whose period is the current frame's delay.
#pragma once

#include "UiLib/CButtonUI.h"

namespace UiLib {

class CButtonGifUI : public CButtonUI {
  public:
    static constexpr UINT kFrameTimerId = 15;

    std::string GetClass() const override { return "ButtonGifUI"; }
    bool SetAttribute(const std::string& name, const std::string& value) override;
    void DoEvent(TEventUI& event) override;
    void SetVisible(bool visible) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;

    int GetFrameCount() const;
    int GetCurrentFrame() const;

  protected:
    void PaintStatusImage(Painter& painter) override;

  private:
    void StartTimer();
    std::string gifFile_;
    int frame_ = 0;
    bool timerRunning_ = false;
};

}  // namespace UiLib
