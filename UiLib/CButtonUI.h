// A push button: state images (normal, hot, pushed, focused, disabled), a fore image, state text
// colours, and "click" when the mouse is pressed and released over it.
#pragma once

#include "UiLib/CLabelUI.h"

namespace UiLib {

class CButtonUI : public CLabelUI {
  public:
    CButtonUI();
    std::string GetClass() const override { return "ButtonUI"; }

    bool SetAttribute(const std::string& name, const std::string& value) override;
    void DoEvent(TEventUI& event) override;
    bool Activate() override;
    std::string GetNormalImage() const;
    void SetNormalImage(const std::string& image);

  protected:
    void PaintStatusImage(Painter& painter) override;
    Color CurrentTextColor() const override;

    std::string normalImage_;
    std::string hotImage_;
    std::string pushedImage_;
    std::string focusedImage_;
    std::string disabledImage_;
    std::string foreImage_;
    std::string hotForeImage_;
    Color hotTextColor_ = 0;
    Color pushedTextColor_ = 0;
    Color focusedTextColor_ = 0;
};

}  // namespace UiLib
