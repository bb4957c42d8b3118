#include "UiLib/CContainerUI.h"

#include <algorithm>
#include <string_view>

#include "UiLib/CBoxLayout.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {

CContainerUI::~CContainerUI() {
    UiGuard guard;
    for (CControlUI* c : items_) {
        delete c;
    }
    items_.clear();
}

int CContainerUI::GetCount() const {
    UiGuard guard;
    return static_cast<int>(items_.size());
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    UiGuard guard;
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        return nullptr;
    }
    return items_[index];
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
    UiGuard guard;
    auto it = std::find(items_.begin(), items_.end(), control);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

bool CContainerUI::Add(CControlUI* control) {
    UiGuard guard;
    return AddAt(control, static_cast<int>(items_.size()));
}

bool CContainerUI::AddAt(CControlUI* control, int index) {
    UiGuard guard;
    if (control == nullptr || control == this) {
        return false;
    }
    index = std::clamp(index, 0, static_cast<int>(items_.size()));
    items_.insert(items_.begin() + index, control);
    control->SetManager(manager_, this);
    control->SetInternVisible(IsVisible());
    NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* control, bool keep) {
    UiGuard guard;
    int index = GetItemIndex(control);
    return index >= 0 && RemoveAt(index, keep);
}

bool CContainerUI::RemoveAt(int index, bool keep) {
    UiGuard guard;
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        return false;
    }
    CControlUI* control = items_[index];
    items_.erase(items_.begin() + index);
    if (keep) {
        control->SetManager(nullptr, nullptr);
    } else {
        delete control;
    }
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll() {
    UiGuard guard;
    std::vector<CControlUI*> old;
    old.swap(items_);
    for (CControlUI* c : old) {
        delete c;
    }
    scrollPos_ = 0;
    NeedUpdate();
}

Rect CContainerUI::GetInset() const {
    UiGuard guard;
    return inset_;
}

void CContainerUI::SetInset(const Rect& rc) {
    UiGuard guard;
    inset_ = rc;
    NeedUpdate();
}

int CContainerUI::GetChildPadding() const {
    UiGuard guard;
    return childPadding_;
}

void CContainerUI::SetChildPadding(int padding) {
    UiGuard guard;
    childPadding_ = padding;
    NeedUpdate();
}

std::string CContainerUI::GetOwnVirtualWnd() const {
    UiGuard guard;
    return virtualWnd_;
}

void CContainerUI::SetVirtualWnd(const std::string& name) {
    UiGuard guard;
    virtualWnd_ = name;
}

bool CContainerUI::HasVScrollBar() const {
    UiGuard guard;
    return vscroll_;
}

void CContainerUI::EnableVScrollBar(bool enable) {
    UiGuard guard;
    vscroll_ = enable;
    NeedUpdate();
}

int CContainerUI::GetScrollPos() const {
    UiGuard guard;
    return scrollPos_;
}

int CContainerUI::GetScrollRange() const {
    UiGuard guard;
    const Rect inner = rcItem_.Deflate(inset_);
    return std::max(contentHeight_ - inner.Height(), 0);
}

void CContainerUI::SetScrollPos(int pos) {
    UiGuard guard;
    pos = std::clamp(pos, 0, GetScrollRange());
    if (pos == scrollPos_) {
        return;
    }
    scrollPos_ = pos;
    SetPos(rcItem_);
    Invalidate();
}

void CContainerUI::SetPos(const Rect& rc) {
    UiGuard guard;
    CControlUI::SetPos(rc);
    Rect inner = rcItem_.Deflate(inset_);
    contentHeight_ = ArrangeChildren(inner, scrollPos_);
    if (vscroll_ && contentHeight_ > inner.Height()) {
        // The bar takes a strip on the right; arrange again in the narrower space.
        Rect narrow = inner;
        narrow.right = std::max(narrow.left, narrow.right - kScrollBarWidth);
        scrollPos_ = std::clamp(scrollPos_, 0, std::max(contentHeight_ - inner.Height(), 0));
        contentHeight_ = ArrangeChildren(narrow, scrollPos_);
    } else {
        scrollPos_ = 0;
    }
    CBoxLayout::PlaceFloats(rcItem_, items_);
}

int CContainerUI::ArrangeChildren(const Rect& inner, int /*scrollOffset*/) {
    CBoxLayout::ArrangeStacked(inner, items_);
    return inner.Height();
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    UiGuard guard;
    CControlUI::SetManager(manager, parent);
    for (CControlUI* c : items_) {
        c->SetManager(manager, this);
    }
}

CControlUI* CContainerUI::FindControl(const std::string& name) {
    UiGuard guard;
    if (name_ == name) {
        return this;
    }
    for (CControlUI* c : items_) {
        if (CControlUI* found = c->FindControl(name)) {
            return found;
        }
    }
    return nullptr;
}

CControlUI* CContainerUI::FindControlAt(Point pt) {
    UiGuard guard;
    if (!IsVisible() || !rcItem_.Contains(pt)) {
        return nullptr;
    }
    // Later children are painted on top, so they are asked first; floats before the flow.
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
            if ((*it)->IsFloat() != (pass == 0)) {
                continue;
            }
            if (CControlUI* found = (*it)->FindControlAt(pt)) {
                return found;
            }
        }
    }
    return mouseEnabled_ ? this : nullptr;
}

bool CContainerUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "inset") {
        if (auto r = ParseRect(value)) {
            inset_ = *r;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "childpadding") {
        if (auto v = ParseInt(value)) {
            childPadding_ = *v;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "virtualwnd") {
        virtualWnd_ = value;
    } else if (key == "vscrollbar") {
        if (auto b = ParseBool(value)) {
            vscroll_ = *b;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "hscrollbar") {
        if (!ParseBool(value)) {
            ReportBadValue(name, value);
        }
        // Nothing in the skin is wider than its container; no horizontal scrolling.
    } else {
        return CControlUI::SetAttribute(name, value);
    }
    return true;
}

void CContainerUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    if (event.type == UiEvent::ScrollWheel && vscroll_ && GetScrollRange() > 0) {
        SetScrollPos(scrollPos_ + (event.wParam != 0 ? -40 : 40));
        return;
    }
    CControlUI::DoEvent(event);
}

void CContainerUI::DoPaint(Painter& painter, const Rect& clip) {
    UiGuard guard;
    const Rect visible = rcItem_.Intersect(clip);
    if (visible.IsEmpty()) {
        return;
    }
    // The border goes over the children, so a child filling the container does not hide it.
    PaintBkColor(painter);
    PaintBkImage(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    painter.PushClip(visible);
    for (CControlUI* c : items_) {
        if (c->IsVisible() && !c->IsFloat()) {
            c->DoPaint(painter, visible);
        }
    }
    for (CControlUI* c : items_) {
        if (c->IsVisible() && c->IsFloat()) {
            c->DoPaint(painter, visible);
        }
    }
    PaintScrollBar(painter);
    painter.PopClip();
    PaintBorder(painter);
}

void CContainerUI::PaintScrollBar(Painter& painter) {
    const Rect inner = rcItem_.Deflate(inset_);
    if (!vscroll_ || contentHeight_ <= inner.Height() || inner.Height() <= 0) {
        return;
    }
    const int track = inner.Height();
    const int thumb = std::max(24, track * track / contentHeight_);
    const int range = contentHeight_ - track;
    const int top = inner.top + (track - thumb) * scrollPos_ / std::max(range, 1);
    painter.FillRect({inner.right - kScrollBarWidth + 1, top, inner.right - 1, top + thumb},
                     0xFFC4CBD2);
}

}  // namespace UiLib
