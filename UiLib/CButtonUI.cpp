#include "UiLib/CButtonUI.h"

#include <string_view>

#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

CButtonUI::CButtonUI() {
    textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

std::string CButtonUI::GetNormalImage() const {
    UiGuard guard;
    return normalImage_;
}

void CButtonUI::SetNormalImage(const std::string& image) {
    UiGuard guard;
    normalImage_ = image;
    Invalidate();
}

bool CButtonUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    auto color = [&](Color& out) {
        if (auto c = ParseColor(value)) {
            out = *c;
        } else {
            ReportBadValue(name, value);
        }
    };
    if (key == "normalimage") {
        normalImage_ = value;
    } else if (key == "hotimage") {
        hotImage_ = value;
    } else if (key == "pushedimage") {
        pushedImage_ = value;
    } else if (key == "focusedimage") {
        focusedImage_ = value;
    } else if (key == "disabledimage") {
        disabledImage_ = value;
    } else if (key == "foreimage") {
        foreImage_ = value;
    } else if (key == "hotforeimage") {
        hotForeImage_ = value;
    } else if (key == "hottextcolor") {
        color(hotTextColor_);
    } else if (key == "pushedtextcolor") {
        color(pushedTextColor_);
    } else if (key == "focusedtextcolor") {
        color(focusedTextColor_);
    } else {
        return CLabelUI::SetAttribute(name, value);
    }
    return true;
}

void CButtonUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    if (!enabled_) {
        CControlUI::DoEvent(event);
        return;
    }
    switch (event.type) {
        case UiEvent::ButtonDown:
        case UiEvent::DblClick:
            buttonState_ |= UISTATE_PUSHED;
            Invalidate();
            break;
        case UiEvent::ButtonUp: {
            const bool wasPushed = (buttonState_ & UISTATE_PUSHED) != 0;
            buttonState_ &= ~UISTATE_PUSHED;
            Invalidate();
            if (wasPushed && rcItem_.Contains(event.ptMouse)) {
                Activate();
            }
            break;
        }
        case UiEvent::MouseMove:
            break;
        default:
            CControlUI::DoEvent(event);
            break;
    }
}

bool CButtonUI::Activate() {
    UiGuard guard;
    if (!CControlUI::Activate()) {
        return false;
    }
    SendNotify("click");
    return true;
}

Color CButtonUI::CurrentTextColor() const {
    if (enabled_) {
        if ((buttonState_ & UISTATE_PUSHED) != 0 && pushedTextColor_ != 0) {
            return pushedTextColor_;
        }
        if ((buttonState_ & UISTATE_HOT) != 0 && hotTextColor_ != 0) {
            return hotTextColor_;
        }
        if (focused_ && focusedTextColor_ != 0) {
            return focusedTextColor_;
        }
    }
    return CLabelUI::CurrentTextColor();
}

void CButtonUI::PaintStatusImage(Painter& painter) {
    // The most specific image of the state that the layout gives; the normal one otherwise.
    const std::string* image = &normalImage_;
    if (!enabled_) {
        if (!disabledImage_.empty()) {
            image = &disabledImage_;
        }
    } else if ((buttonState_ & UISTATE_PUSHED) != 0 && !pushedImage_.empty()) {
        image = &pushedImage_;
    } else if ((buttonState_ & UISTATE_HOT) != 0 && !hotImage_.empty()) {
        image = &hotImage_;
    } else if (focused_ && !focusedImage_.empty()) {
        image = &focusedImage_;
    }
    if (!image->empty()) {
        painter.DrawImage(rcItem_, *image);
    }
    const std::string& fore =
        enabled_ && (buttonState_ & UISTATE_HOT) != 0 && !hotForeImage_.empty() ? hotForeImage_
                                                                                : foreImage_;
    if (!fore.empty()) {
        // A disabled button shows its picture faded, so the state reads at a glance.
        ParsedImage parsed = ParseImageString(fore);
        if (!enabled_) {
            parsed.image.fade = parsed.image.fade * 90 / 255;
        }
        if (!parsed.image.Picture().empty()) {
            painter.DrawImage(rcItem_, parsed.image);
        }
    }
}

}  // namespace UiLib
