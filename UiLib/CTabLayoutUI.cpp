#include "UiLib/CTabLayoutUI.h"

#include <string_view>

#include "UiLib/CBoxLayout.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

int CTabLayoutUI::GetCurSel() const {
    UiGuard guard;
    return curSel_;
}

void CTabLayoutUI::ShowSelected() {
    const bool shown = IsVisible();
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        items_[i]->SetInternVisible(shown && i == curSel_);
    }
}

bool CTabLayoutUI::SelectItem(int index) {
    int old = 0;
    {
        UiGuard guard;
        if (index < 0 || index >= static_cast<int>(items_.size())) {
            return false;
        }
        if (index == curSel_) {
            return true;
        }
        old = curSel_;
        curSel_ = index;
        ShowSelected();
        NeedUpdate();
        Invalidate();
        SendNotify("tabselect", static_cast<WPARAM>(index), old);
    }
    return true;
}

bool CTabLayoutUI::Add(CControlUI* control) {
    UiGuard guard;
    return AddAt(control, static_cast<int>(items_.size()));
}

bool CTabLayoutUI::AddAt(CControlUI* control, int index) {
    UiGuard guard;
    if (!CContainerUI::AddAt(control, index)) {
        return false;
    }
    // The first page is selected until the page that selectedid names arrives; a page inserted
    // before the selected one keeps the selection on the same page.
    index = GetItemIndex(control);
    if (curSel_ < 0) {
        curSel_ = index;
    } else if (index <= curSel_) {
        ++curSel_;
    }
    if (index == initialSel_ && index == static_cast<int>(items_.size()) - 1) {
        curSel_ = index;
        initialSel_ = -1;
    }
    ShowSelected();
    return true;
}

bool CTabLayoutUI::RemoveAt(int index, bool keep) {
    UiGuard guard;
    if (!CContainerUI::RemoveAt(index, keep)) {
        return false;
    }
    if (items_.empty()) {
        curSel_ = -1;
    } else if (index < curSel_ || curSel_ >= static_cast<int>(items_.size())) {
        curSel_ = std::max(curSel_ - 1, 0);
    }
    ShowSelected();
    return true;
}

void CTabLayoutUI::RemoveAll() {
    UiGuard guard;
    CContainerUI::RemoveAll();
    curSel_ = -1;
}

bool CTabLayoutUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "selectedid") {
        auto v = ParseInt(value);
        if (!v || *v < 0) {
            ReportBadValue(name, value);
            return true;
        }
        // Pages are added after the attributes; remember the choice until the page exists.
        if (*v < static_cast<int>(items_.size())) {
            curSel_ = *v;
            ShowSelected();
        } else {
            initialSel_ = *v;
        }
        return true;
    }
    return CContainerUI::SetAttribute(name, value);
}

void CTabLayoutUI::SetVisible(bool visible) {
    UiGuard guard;
    CContainerUI::SetVisible(visible);
    ShowSelected();
}

int CTabLayoutUI::ArrangeChildren(const Rect& inner, int /*scrollOffset*/) {
    CBoxLayout::ArrangeStacked(inner, items_);
    return inner.Height();
}

}  // namespace UiLib
