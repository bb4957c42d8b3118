// One line of text (or a picture through bkimage): font, colours, padding, alignment, ellipsis.
#pragma once

#include "UiLib/CControlUI.h"

namespace UiLib {

class CLabelUI : public CControlUI {
  public:
    CLabelUI();
    std::string GetClass() const override { return "LabelUI"; }

    int GetFont() const;
    void SetFont(int index);
    Color GetTextColor() const;
    void SetTextColor(Color c);
    Rect GetTextPadding() const;
    void SetTextPadding(const Rect& rc);
    uint32_t GetTextStyle() const;
    bool IsShowHtml() const;
    void SetShowHtml(bool html);

    bool SetAttribute(const std::string& name, const std::string& value) override;

  protected:
    void PaintText(Painter& painter) override;
    // The colour of the text in the current state.
    virtual Color CurrentTextColor() const;

    int font_ = -1;
    Color textColor_ = 0;
    Color disabledTextColor_ = 0;
    Rect textPadding_;
    uint32_t textStyle_ = DT_VCENTER | DT_SINGLELINE;
    bool showHtml_ = false;
};

}  // namespace UiLib
