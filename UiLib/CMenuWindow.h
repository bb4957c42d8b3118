// A popup menu window built from a menu layout (a Window holding a Menu of MenuElement items).
//
// It is a real popup: placed exactly at the screen point the caller gives (moved only to stay
// on the screen), without decoration, holding the pointer grab. It closes after a click on an
// item without sub-items, a press anywhere outside the open menus (another window of the
// program, the desktop, another program), Escape, or when its owner closes. Items with
// sub-items open them as a second menu beside the item, on hover or click; a click on a
// sub-item acts as a click on an item of the first menu.
//
// Life: make it with new and call Init; from then on the menu owns itself and is deleted on the
// user interface thread after it has closed (an item's action runs first: OnMenuItemClick, where
// a derived menu posts its message to the owner with PostToOwner). Init that fails deletes it too.
#pragma once

#include <memory>
#include <vector>

#include "UiLib/WindowImplBase.h"

namespace UiLib {

class CMenuUI;
class CMenuElementUI;

class CMenuWindow : public WindowImplBase {
  public:
    CMenuWindow();
    ~CMenuWindow() override;

    // Creates and shows the menu with its top-left corner at `screenPoint`. `anchor` (the
    // button that opened it) is kept for derived menus; when the menu has no room below the
    // point it opens above the anchor. False when the layout has no Menu or there is no host;
    // the menu is then deleted.
    bool Init(WindowImplBase* owner, const std::string& layout, Point screenPoint,
              CControlUI* anchor = nullptr);
    CMenuUI* GetMenu() const { return menu_; }
    // The anchor while it exists, else null.
    CControlUI* GetAnchor() const;
    // The open sub-menu, null when none.
    CMenuWindow* GetSubMenu() const;
    // Posts a message to the owner by handle (harmless when the owner is gone).
    bool PostToOwner(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "MenuWnd"; }

    // Closes the menu with its sub-menus.
    void Dismiss();
    void HostFocusLost() override { Dismiss(); }
    void HostMouseMove(Point pt) override;

  protected:
    void HandleNotify(TNotifyUI& msg) override;
    // An item without sub-items was clicked (also a sub-item); the menu closes afterwards.
    virtual void OnMenuItemClick(CMenuElementUI* item);
    void OnFinalMessage() override;
    void OnPopupDismiss() override;
    void OnPopupKey(WPARAM key) override;

  private:
    CMenuWindow* Root();
    // The user chose `item`: the menus hide and let the pointer go, the action runs, they close.
    void ItemChosen(CMenuElementUI* item);
    void OpenSubMenu(CMenuElementUI* item);
    void CloseSubMenu();
    // Gives the borrowed sub-items back to their item before this tree goes.
    void ReturnBorrowedItems();
    CMenuElementUI* ItemAt(Point pt) const;
    void SizeToItems(Point screenPoint, int anchorTop);

    std::string layout_;
    CMenuUI* menu_ = nullptr;
    CControlUI* anchor_ = nullptr;
    std::weak_ptr<int> anchorAlive_;
    WindowHandle ownerHandle_ = 0;
    CMenuWindow* parentMenu_ = nullptr;  // set on sub-menus
    bool deleteOnClose_ = true;          // sub-menus belong to their parent menu
    std::unique_ptr<CMenuWindow> subMenu_;
    CMenuElementUI* subItem_ = nullptr;      // the item whose sub-menu is open
    std::vector<CMenuElementUI*> borrowed_;  // sub-items shown here, owned by their item
    CMenuElementUI* hoverItem_ = nullptr;
};

}  // namespace UiLib
