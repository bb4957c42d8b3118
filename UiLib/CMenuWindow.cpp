#include "UiLib/CMenuWindow.h"

#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/UiLock.h"

namespace UiLib {
namespace {

CMenuUI* FindMenu(CControlUI* c) {
    if (c == nullptr) {
        return nullptr;
    }
    if (auto* m = dynamic_cast<CMenuUI*>(c)) {
        return m;
    }
    if (CContainerUI* container = c->AsContainer()) {
        for (int i = 0; i < container->GetCount(); ++i) {
            if (CMenuUI* m = FindMenu(container->GetItemAt(i))) {
                return m;
            }
        }
    }
    return nullptr;
}

}  // namespace

CMenuWindow::CMenuWindow() {
    SetPopupMenuWindow();
}

CMenuWindow::~CMenuWindow() = default;

bool CMenuWindow::Init(WindowImplBase* owner, const std::string& layout, Point screenPoint,
                       CControlUI* anchor) {
    layout_ = layout;
    anchor_ = anchor;
    if (anchor != nullptr) {
        anchorAlive_ = anchor->AliveToken();
    }
    ownerHandle_ = owner != nullptr ? owner->GetHWND() : 0;
    if (Create(owner, "", screenPoint.x, screenPoint.y, 0, 0, true) == 0) {
        if (deleteOnClose_) {
            delete this;
        }
        return false;
    }
    menu_ = FindMenu(pm_.GetRoot());
    if (menu_ == nullptr) {
        ReportFault(layout + ": no Menu in the menu layout");
        HandleMessage(WM_CLOSE, IDCANCEL, 0);  // deletes the menu afterwards
        return false;
    }
    int anchorTop = screenPoint.y;
    if (anchor != nullptr && owner != nullptr) {
        anchorTop = owner->ClientToScreen({0, anchor->GetPos().top}).y;
    }
    SizeToItems(screenPoint, anchorTop);
    ShowWindow(true);
    if (parentMenu_ == nullptr && !GetNativeWindow()->GrabPointer(true)) {
        ReportFault("the menu could not grab the pointer");
    }
    BeginPopupTracking();
    return true;
}

void CMenuWindow::SizeToItems(Point screenPoint, int anchorTop) {
    INativeWindow* native = GetNativeWindow();
    IUiHost* host = IUiHost::Current();
    if (native == nullptr || host == nullptr) {
        return;
    }
    // The height follows the visible items; the width is the layout's.
    const Rect rc = GetWindowRect();
    const int w = rc.Width();
    const int content = menu_->GetContentHeight();
    const int h = content > 0 ? content : rc.Height();
    // Kept on the screen: leftwards (beside its parent for a sub-menu) when there is no room to
    // the right, above the anchor when there is none below.
    const Rect screen = host->ScreenRect();
    int x = screenPoint.x;
    int y = screenPoint.y;
    if (x + w > screen.right) {
        x = parentMenu_ != nullptr ? parentMenu_->GetWindowRect().left - w : screen.right - w;
    }
    x = std::max(x, screen.left);
    if (y + h > screen.bottom) {
        y = anchorTop - h;
    }
    y = std::max(std::min(y, screen.bottom - h), screen.top);
    native->SetBounds({x, y, x + w, y + h});
    pm_.SetClientSize({w, h});
}

CControlUI* CMenuWindow::GetAnchor() const {
    return anchorAlive_.expired() ? nullptr : anchor_;
}

CMenuWindow* CMenuWindow::GetSubMenu() const {
    return subMenu_ && !subMenu_->IsClosed() ? subMenu_.get() : nullptr;
}

bool CMenuWindow::PostToOwner(UINT msg, WPARAM wParam, LPARAM lParam) const {
    return PostMessage(ownerHandle_, msg, wParam, lParam);
}

CMenuWindow* CMenuWindow::Root() {
    CMenuWindow* m = this;
    while (m->parentMenu_ != nullptr) {
        m = m->parentMenu_;
    }
    return m;
}

void CMenuWindow::Dismiss() {
    Root()->Close(IDCANCEL);
}

void CMenuWindow::OnPopupDismiss() {
    Close(IDCANCEL);
}

void CMenuWindow::OnPopupKey(WPARAM key) {
    if (key == VK_ESCAPE) {
        Close(IDCANCEL);  // this level only: a sub-menu goes back to its parent
    }
}

CMenuElementUI* CMenuWindow::ItemAt(Point pt) const {
    for (CControlUI* c = pm_.FindControl(pt); c != nullptr; c = c->GetParent()) {
        if (auto* item = dynamic_cast<CMenuElementUI*>(c);
            item != nullptr && c->GetParent() == menu_) {
            return item;
        }
    }
    return nullptr;
}

void CMenuWindow::HostMouseMove(Point pt) {
    WindowImplBase::HostMouseMove(pt);
    if (IsClosed() || !IsInputEnabled() || menu_ == nullptr) {
        return;
    }
    CMenuElementUI* item = ItemAt(pt);
    if (item == hoverItem_) {
        return;
    }
    hoverItem_ = item;
    if (item != nullptr && item->IsEnabled() && item->GetSubItemCount() > 0) {
        OpenSubMenu(item);
    } else if (item != nullptr) {
        CloseSubMenu();  // another item: its sub-menu goes; off the menu it stays
    }
}

void CMenuWindow::HandleNotify(TNotifyUI& msg) {
    if (msg.sType != "itemclick") {
        WindowImplBase::HandleNotify(msg);
        return;
    }
    auto* item = dynamic_cast<CMenuElementUI*>(msg.pSender);
    if (item == nullptr || !item->IsEnabled()) {
        return;
    }
    if (item->GetSubItemCount() > 0) {
        OpenSubMenu(item);
        return;
    }
    if (parentMenu_ == nullptr) {
        ItemChosen(item);
        return;
    }
    // A sub-item: the first menu acts on it once this call has unwound, as closing the first
    // menu closes this one.
    const WindowHandle root = Root()->GetHWND();
    if (IUiHost* host = IUiHost::Current()) {
        host->Post([root, item] {
            if (auto* menu = dynamic_cast<CMenuWindow*>(FromHandle(root))) {
                menu->ItemChosen(item);
            }
        });
    }
}

void CMenuWindow::ItemChosen(CMenuElementUI* item) {
    // The menus go out of the way first: the action may open a window of its own.
    for (CMenuWindow* m = this; m != nullptr; m = m->GetSubMenu()) {
        m->EndPopupTracking();
        if (INativeWindow* native = m->GetNativeWindow()) {
            native->GrabPointer(false);
            native->Show(false);
        }
    }
    OnMenuItemClick(item);
    Close(IDOK);
}

void CMenuWindow::OnMenuItemClick(CMenuElementUI* /*item*/) {}

void CMenuWindow::OpenSubMenu(CMenuElementUI* item) {
    if (GetSubMenu() != nullptr && subItem_ == item) {
        return;
    }
    CloseSubMenu();
    auto sub = std::make_unique<CMenuWindow>();
    sub->parentMenu_ = this;
    sub->deleteOnClose_ = false;
    const Rect itemRc = item->GetPos();
    const Point at = ClientToScreen({GetWindowRect().Width(), itemRc.top});
    if (!sub->Init(this, layout_, at, item)) {
        return;
    }
    // The sub-menu shows the sub-items themselves; they stay owned by their item and are given
    // back before the sub-menu's tree goes.
    {
        UiGuard guard;
        sub->menu_->RemoveAll();
        for (int i = 0; i < item->GetSubItemCount(); ++i) {
            CMenuElementUI* subItem = item->GetSubItemAt(i);
            sub->menu_->Add(subItem);
            sub->borrowed_.push_back(subItem);
        }
    }
    sub->SizeToItems(at, at.y + itemRc.Height());
    subMenu_ = std::move(sub);
    subItem_ = item;
}

void CMenuWindow::CloseSubMenu() {
    if (!subMenu_) {
        return;
    }
    std::unique_ptr<CMenuWindow> sub = std::move(subMenu_);
    subItem_ = nullptr;
    sub->CloseSubMenu();
    sub->ReturnBorrowedItems();
    if (!sub->IsClosed()) {
        sub->HandleMessage(WM_CLOSE, IDCANCEL, 0);
    }
}

void CMenuWindow::ReturnBorrowedItems() {
    if (menu_ == nullptr) {
        return;
    }
    UiGuard guard;
    for (CMenuElementUI* item : borrowed_) {
        menu_->Remove(item, true);
    }
    borrowed_.clear();
}

void CMenuWindow::OnFinalMessage() {
    CloseSubMenu();
    ReturnBorrowedItems();
    hoverItem_ = nullptr;
    if (deleteOnClose_) {
        // After the call that closed the menu has unwound.
        if (IUiHost* host = IUiHost::Current()) {
            host->Post([this] { delete this; });
        }
    }
}

}  // namespace UiLib
