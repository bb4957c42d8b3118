#include "UiLib/CProgressUI.h"

#include <algorithm>
#include <string_view>

#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

CProgressUI::CProgressUI() {
    textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

int CProgressUI::GetMinValue() const {
    UiGuard guard;
    return min_;
}

int CProgressUI::GetMaxValue() const {
    UiGuard guard;
    return max_;
}

int CProgressUI::GetValue() const {
    UiGuard guard;
    return value_;
}

void CProgressUI::SetMinValue(int v) {
    UiGuard guard;
    min_ = v;
    value_ = std::max(value_, min_);
    Invalidate();
}

void CProgressUI::SetMaxValue(int v) {
    UiGuard guard;
    max_ = v;
    value_ = std::min(value_, std::max(max_, min_));
    Invalidate();
}

void CProgressUI::SetValue(int v) {
    UiGuard guard;
    v = std::clamp(v, min_, std::max(max_, min_));
    if (v == value_) {
        return;
    }
    value_ = v;
    Invalidate();
}

bool CProgressUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "min" || key == "max" || key == "value") {
        auto v = ParseInt(value);
        if (!v) {
            ReportBadValue(name, value);
        } else if (key == "min") {
            min_ = *v;
        } else if (key == "max") {
            max_ = *v;
        } else {
            value_ = *v;
        }
        value_ = std::clamp(value_, min_, std::max(max_, min_));
    } else if (key == "foreimage") {
        foreImage_ = value;
    } else if (key == "hor") {
        if (!ParseBool(value)) {
            ReportBadValue(name, value);
        }
    } else {
        return CLabelUI::SetAttribute(name, value);
    }
    return true;
}

void CProgressUI::PaintStatusImage(Painter& painter) {
    if (foreImage_.empty() || max_ <= min_ || value_ <= min_) {
        return;
    }
    const long long span = max_ - min_;
    const int width =
        static_cast<int>(static_cast<long long>(rcItem_.Width()) * (value_ - min_) / span);
    if (width <= 0) {
        return;
    }
    Rect filled = rcItem_;
    filled.right = filled.left + width;
    painter.PushClip(filled);
    // The fill keeps its rounded end: it is drawn over its own width, not clipped from the
    // full bar, unless it is narrower than its two corners.
    painter.DrawImage(filled, foreImage_);
    painter.PopClip();
}

}  // namespace UiLib
