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

CMenuWindow::~CMenuWindow() = default;

bool CMenuWindow::Init(WindowImplBase* owner, const std::string& layout, Point screenPoint,
                       CControlUI* anchor) {
    layout_ = layout;
    anchor_ = anchor;
    if (Create(owner, "", screenPoint.x, screenPoint.y, 0, 0, true) == 0) {
        return false;
    }
    menu_ = FindMenu(pm_.GetRoot());
    if (menu_ == nullptr) {
        ReportFault(layout + ": no Menu in the menu layout");
        return false;
    }
    // The height follows the visible items; the width is the layout's.
    const Rect rc = GetWindowRect();
    const int height = menu_->GetContentHeight();
    if (height > 0 && GetNativeWindow() != nullptr) {
        GetNativeWindow()->SetBounds({rc.left, rc.top, rc.right, rc.top + height});
        pm_.SetClientSize({rc.Width(), height});
    }
    ShowWindow(true);
    return true;
}

void CMenuWindow::Dismiss() {
    if (subMenu_ && !subMenu_->IsClosed()) {
        return;  // the pointer went to the sub-menu
    }
    Close(IDCANCEL);
}

void CMenuWindow::HandleNotify(TNotifyUI& msg) {
    if (msg.sType != "itemclick") {
        WindowImplBase::HandleNotify(msg);
        return;
    }
    auto* item = dynamic_cast<CMenuElementUI*>(msg.pSender);
    if (item == nullptr) {
        return;
    }
    if (item->GetSubItemCount() > 0) {
        OpenSubMenu(item);
        return;
    }
    OnMenuItemClick(item);
    Close(IDOK);
}

void CMenuWindow::OnMenuItemClick(CMenuElementUI* /*item*/) {}

void CMenuWindow::OpenSubMenu(CMenuElementUI* item) {
    if (subMenu_ && !subMenu_->IsClosed()) {
        subMenu_->Close(IDCANCEL);
    }
    subMenu_ = std::make_unique<CMenuWindow>();
    const Rect itemRc = item->GetPos();
    const Rect wnd = GetWindowRect();
    if (!subMenu_->Init(this, layout_, {wnd.left + itemRc.right, wnd.top + itemRc.top}, item)) {
        return;
    }
    CMenuUI* menu = subMenu_->GetMenu();
    menu->RemoveAll();
    // The sub-menu shows the sub-items themselves; they stay owned by their parent item and are
    // handed back before the sub-menu's tree is destroyed.
    for (int i = 0; i < item->GetSubItemCount(); ++i) {
        CMenuElementUI* sub = item->GetSubItemAt(i);
        menu->Add(sub);
        subMenu_->subSource_.push_back(sub);
    }
    const Rect rc = subMenu_->GetWindowRect();
    const int height = menu->GetContentHeight();
    if (height > 0 && subMenu_->GetNativeWindow() != nullptr) {
        subMenu_->GetNativeWindow()->SetBounds({rc.left, rc.top, rc.right, rc.top + height});
        subMenu_->pm_.SetClientSize({rc.Width(), height});
    }
}

void CMenuWindow::OnFinalMessage() {
    // Give borrowed sub-items back to their parent item before the tree goes.
    if (menu_ != nullptr) {
        UiGuard guard;
        for (CMenuElementUI* sub : subSource_) {
            menu_->Remove(sub, true);
        }
        subSource_.clear();
    }
    if (subMenu_ && !subMenu_->IsClosed()) {
        subMenu_->Close(IDCANCEL);
    }
}

}  // namespace UiLib
