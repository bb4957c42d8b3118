#include "UiLib/CMenuElementUI.h"

#include <string_view>

#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

CMenuElementUI::CMenuElementUI() = default;

CMenuElementUI::~CMenuElementUI() {
    RemoveAllSubItems();
}

bool CMenuElementUI::Add(CControlUI* control) {
    UiGuard guard;
    return AddAt(control, GetCount());
}

bool CMenuElementUI::AddAt(CControlUI* control, int index) {
    UiGuard guard;
    if (auto* sub = dynamic_cast<CMenuElementUI*>(control)) {
        AddSubItem(sub);
        return true;
    }
    return CListContainerElementUI::AddAt(control, index);
}

void CMenuElementUI::AddSubItem(CMenuElementUI* item) {
    UiGuard guard;
    if (item != nullptr) {
        subItems_.push_back(item);
    }
}

int CMenuElementUI::GetSubItemCount() const {
    UiGuard guard;
    return static_cast<int>(subItems_.size());
}

CMenuElementUI* CMenuElementUI::GetSubItemAt(int index) const {
    UiGuard guard;
    return index >= 0 && index < static_cast<int>(subItems_.size()) ? subItems_[index] : nullptr;
}

void CMenuElementUI::RemoveAllSubItems() {
    UiGuard guard;
    for (CMenuElementUI* item : subItems_) {
        delete item;
    }
    subItems_.clear();
}

bool CMenuElementUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    auto color = [&](Color& out) {
        if (auto c = ParseColor(value)) {
            out = *c;
        } else {
            ReportBadValue(name, value);
        }
    };
    if (key == "font") {
        if (auto v = ParseInt(value); v && *v >= 0) {
            font_ = *v;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "textcolor") {
        color(textColor_);
    } else if (key == "hottextcolor") {
        color(hotTextColor_);
    } else if (key == "disabledtextcolor") {
        color(disabledTextColor_);
    } else if (key == "textpadding") {
        if (auto r = ParseRect(value)) {
            textPadding_ = *r;
        } else {
            ReportBadValue(name, value);
        }
    } else {
        return CListContainerElementUI::SetAttribute(name, value);
    }
    return true;
}

void CMenuElementUI::PaintText(Painter& painter) {
    if (text_.empty()) {
        return;
    }
    Color color = textColor_;
    if (!enabled_) {
        color = disabledTextColor_;
    } else if (hotTextColor_ != 0 && IsHotItem()) {
        color = hotTextColor_;
    }
    painter.DrawText(rcItem_.Deflate(textPadding_), text_, font_, color,
                     DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

}  // namespace UiLib
