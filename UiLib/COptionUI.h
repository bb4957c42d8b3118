// A radio button (with a group) or a check box (without).
//
// Selection rules: selecting an option of a group deselects the other options of that group in
// the same control tree, and only the newly selected option reports "selectchanged"; an option
// without a group reports "selectchanged" at every change of its state; setting an option to the
// state it already has reports nothing. Clicking a selected radio button changes nothing.
#pragma once

#include "UiLib/CButtonUI.h"

namespace UiLib {

class COptionUI : public CButtonUI {
  public:
    std::string GetClass() const override { return "OptionUI"; }

    bool IsSelected() const;
    void Selected(bool selected);
    std::string GetGroup() const;
    void SetGroup(const std::string& group);

    bool SetAttribute(const std::string& name, const std::string& value) override;
    bool Activate() override;

  protected:
    void PaintStatusImage(Painter& painter) override;
    Color CurrentTextColor() const override;

  private:
    bool selected_ = false;
    std::string group_;
    std::string selectedImage_;
    std::string selectedHotImage_;
    std::string selectedDisabledImage_;
    std::string halfSelectedImage_;
    std::string halfSelectedHotImage_;
    Color selectedTextColor_ = 0;
};

}  // namespace UiLib
