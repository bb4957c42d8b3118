#include "UiLib/CLabelUI.h"

#include <string_view>

#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

namespace {
constexpr Color kDefaultTextColor = 0xFF333333;
constexpr Color kDefaultDisabledTextColor = 0xFFA8B0B8;
}  // namespace

CLabelUI::CLabelUI() = default;

int CLabelUI::GetFont() const {
    UiGuard guard;
    return font_;
}

void CLabelUI::SetFont(int index) {
    UiGuard guard;
    font_ = index;
    Invalidate();
}

Color CLabelUI::GetTextColor() const {
    UiGuard guard;
    return textColor_;
}

void CLabelUI::SetTextColor(Color c) {
    UiGuard guard;
    textColor_ = c;
    Invalidate();
}

Rect CLabelUI::GetTextPadding() const {
    UiGuard guard;
    return textPadding_;
}

void CLabelUI::SetTextPadding(const Rect& rc) {
    UiGuard guard;
    textPadding_ = rc;
    Invalidate();
}

uint32_t CLabelUI::GetTextStyle() const {
    UiGuard guard;
    return textStyle_;
}

bool CLabelUI::IsShowHtml() const {
    UiGuard guard;
    return showHtml_;
}

void CLabelUI::SetShowHtml(bool html) {
    UiGuard guard;
    showHtml_ = html;
    Invalidate();
}

bool CLabelUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    const std::string_view val = value;
    if (key == "font") {
        auto v = ParseInt(value);
        if (v && *v >= 0) {
            font_ = *v;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "textcolor" || key == "disabledtextcolor") {
        auto c = ParseColor(value);
        if (!c) {
            ReportBadValue(name, value);
        } else if (key == "textcolor") {
            textColor_ = *c;
        } else {
            disabledTextColor_ = *c;
        }
    } else if (key == "textpadding") {
        if (auto r = ParseRect(value)) {
            textPadding_ = *r;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "align") {
        textStyle_ &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
        if (val == "center") {
            textStyle_ |= DT_CENTER;
        } else if (val == "right") {
            textStyle_ |= DT_RIGHT;
        } else if (val != "left") {
            ReportBadValue(name, value);
        }
    } else if (key == "valign") {
        textStyle_ &= ~(DT_VCENTER | DT_BOTTOM);
        if (val == "vcenter" || val == "center") {
            textStyle_ |= DT_VCENTER;
        } else if (val == "bottom") {
            textStyle_ |= DT_BOTTOM;
        } else if (val != "top") {
            ReportBadValue(name, value);
        }
    } else if (key == "endellipsis") {
        if (auto b = ParseBool(value)) {
            textStyle_ = *b ? (textStyle_ | DT_END_ELLIPSIS) : (textStyle_ & ~DT_END_ELLIPSIS);
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "multiline") {
        if (auto b = ParseBool(value)) {
            textStyle_ = *b ? ((textStyle_ | DT_WORDBREAK) & ~DT_SINGLELINE)
                            : ((textStyle_ | DT_SINGLELINE) & ~DT_WORDBREAK);
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "showhtml") {
        if (auto b = ParseBool(value)) {
            showHtml_ = *b;
        } else {
            ReportBadValue(name, value);
        }
    } else {
        return CControlUI::SetAttribute(name, value);
    }
    return true;
}

Color CLabelUI::CurrentTextColor() const {
    if (!enabled_) {
        return disabledTextColor_ != 0 ? disabledTextColor_ : kDefaultDisabledTextColor;
    }
    return textColor_ != 0 ? textColor_ : kDefaultTextColor;
}

void CLabelUI::PaintText(Painter& painter) {
    if (text_.empty()) {
        return;
    }
    Rect rc = rcItem_.Deflate(textPadding_);
    painter.DrawText(rc, text_, font_, CurrentTextColor(), textStyle_, showHtml_);
}

}  // namespace UiLib
