#include "UiLib/CListUI.h"

#include <string_view>

#include "UiLib/CListContainerElementUI.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

CListUI::CListUI() {
    vscroll_ = true;
}

int CListUI::GetCurSel() const {
    UiGuard guard;
    return curSel_;
}

bool CListUI::SelectItem(int index) {
    UiGuard guard;
    if (index == curSel_) {
        return true;
    }
    if (index < -1 || index >= static_cast<int>(items_.size())) {
        return false;
    }
    const int old = curSel_;
    if (auto* prev = dynamic_cast<CListContainerElementUI*>(GetItemAt(old))) {
        prev->SetSelectedState(false);
    }
    curSel_ = index;
    if (auto* item = dynamic_cast<CListContainerElementUI*>(GetItemAt(index))) {
        item->SetSelectedState(true);
        // Scroll the item into view.
        const Rect inner = rcItem_.Deflate(inset_);
        const Rect pos = item->GetPos();
        if (pos.top < inner.top) {
            SetScrollPos(scrollPos_ - (inner.top - pos.top));
        } else if (pos.bottom > inner.bottom) {
            SetScrollPos(scrollPos_ + (pos.bottom - inner.bottom));
        }
    }
    Invalidate();
    SendNotify("itemselect", static_cast<WPARAM>(index), old);
    return true;
}

ListItemColors CListUI::GetItemColors() const {
    UiGuard guard;
    return colors_;
}

bool CListUI::AddAt(CControlUI* control, int index) {
    UiGuard guard;
    const int count = static_cast<int>(items_.size());
    if (!CVerticalLayoutUI::AddAt(control, index)) {
        return false;
    }
    if (curSel_ >= 0 && std::min(std::max(index, 0), count) <= curSel_) {
        ++curSel_;
    }
    return true;
}

bool CListUI::RemoveAt(int index, bool keep) {
    UiGuard guard;
    if (!CVerticalLayoutUI::RemoveAt(index, keep)) {
        return false;
    }
    if (index == curSel_) {
        curSel_ = -1;
    } else if (index < curSel_) {
        --curSel_;
    }
    return true;
}

void CListUI::RemoveAll() {
    UiGuard guard;
    CVerticalLayoutUI::RemoveAll();
    curSel_ = -1;
}

bool CListUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    const std::string_view val = value;
    auto color = [&](Color& out) {
        if (auto c = ParseColor(value)) {
            out = *c;
        } else {
            ReportBadValue(name, value);
        }
    };
    if (key == "itembkcolor") {
        color(colors_.bk);
    } else if (key == "itemhotbkcolor") {
        color(colors_.hotBk);
    } else if (key == "itemselectedbkcolor") {
        color(colors_.selectedBk);
    } else if (key == "itemlinecolor") {
        color(colors_.line);
    } else if (key == "itemtextcolor") {
        color(colors_.text);
    } else if (key == "itemhottextcolor") {
        color(colors_.hotText);
    } else if (key == "itemselectedtextcolor") {
        color(colors_.selectedText);
    } else if (key == "itemaltbk" || key == "multipleitem") {
        auto b = ParseBool(value);
        if (!b) {
            ReportBadValue(name, value);
        } else if (key == "itemaltbk") {
            colors_.altBk = *b;
        }
    } else if (key == "header") {
        // The lists of the skin have no header row; "hidden" is the only form they use.
        if (val != "hidden" && val != "true" && val != "false") {
            ReportBadValue(name, value);
        }
    } else if (key == "itemalign" || key == "itemtextpadding" || key == "itemcheckimgsize" ||
               key == "itemiconimgsize" || key == "menu" || key == "itemfont") {
        // Attributes of text items; the items of the skin are containers with their own labels.
    } else {
        return CVerticalLayoutUI::SetAttribute(name, value);
    }
    return true;
}

}  // namespace UiLib
