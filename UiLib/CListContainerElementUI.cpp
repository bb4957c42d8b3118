#include "UiLib/CListContainerElementUI.h"

#include "UiLib/CListUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"

namespace UiLib {

CListUI* CListContainerElementUI::GetOwnerList() const {
    UiGuard guard;
    return dynamic_cast<CListUI*>(parent_);
}

int CListContainerElementUI::GetIndex() const {
    UiGuard guard;
    CListUI* list = GetOwnerList();
    return list == nullptr ? -1 : list->GetItemIndex(const_cast<CListContainerElementUI*>(this));
}

bool CListContainerElementUI::IsSelected() const {
    UiGuard guard;
    return selected_;
}

void CListContainerElementUI::SetSelectedState(bool selected) {
    UiGuard guard;
    selected_ = selected;
    Invalidate();
}

void CListContainerElementUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    if (!enabled_ || !mouseEnabled_) {
        CVerticalLayoutUI::DoEvent(event);
        return;
    }
    switch (event.type) {
        case UiEvent::ButtonDown:
        case UiEvent::DblClick:
            if (CListUI* list = GetOwnerList()) {
                list->SelectItem(GetIndex());
            }
            buttonState_ |= UISTATE_PUSHED;
            break;
        case UiEvent::ButtonUp:
            if ((buttonState_ & UISTATE_PUSHED) != 0 && rcItem_.Contains(event.ptMouse)) {
                SendNotify("itemclick");
            }
            buttonState_ &= ~UISTATE_PUSHED;
            break;
        default:
            CVerticalLayoutUI::DoEvent(event);
            break;
    }
}

bool CListContainerElementUI::IsHotItem() const {
    if (manager_ == nullptr) {
        return false;
    }
    for (CControlUI* c = manager_->GetHot(); c != nullptr; c = c->GetParent()) {
        if (c == this) {
            return true;
        }
    }
    return false;
}

CListUI* CListContainerElementUI::ColourList() const {
    for (CControlUI* c = parent_; c != nullptr; c = c->GetParent()) {
        if (auto* list = dynamic_cast<CListUI*>(c)) {
            return list;
        }
    }
    return nullptr;
}

void CListContainerElementUI::PaintBkColor(Painter& painter) {
    CListUI* list = ColourList();
    if (list != nullptr && mouseEnabled_) {
        const ListItemColors colors = list->GetItemColors();
        Color bk = colors.bk;
        if (selected_ && colors.selectedBk != 0) {
            bk = colors.selectedBk;
        } else if (enabled_ && IsHotItem() && colors.hotBk != 0) {
            bk = colors.hotBk;
        } else if (colors.altBk && GetIndex() % 2 == 1 && colors.hotBk != 0) {
            bk = colors.hotBk;
        }
        if (bk != 0) {
            painter.FillRect(rcItem_, bk);
        }
    }
    CVerticalLayoutUI::PaintBkColor(painter);
}

void CListContainerElementUI::PaintBorder(Painter& painter) {
    CVerticalLayoutUI::PaintBorder(painter);
    if (CListUI* list = ColourList()) {
        const Color line = list->GetItemColors().line;
        if (line != 0) {
            painter.FillRect({rcItem_.left, rcItem_.bottom - 1, rcItem_.right, rcItem_.bottom},
                             line);
        }
    }
}

}  // namespace UiLib
