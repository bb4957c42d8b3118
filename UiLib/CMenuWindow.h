// A popup menu window built from a menu layout (a Window holding a Menu of MenuElement items).
// It opens with its top-left corner at a screen point, raises "itemclick" through its own
// Notify (derived menus act on it), opens the sub-items of an item as a second menu, and closes
// after a click on an item without sub-items or when it loses the pointer.
#pragma once

#include <memory>

#include "UiLib/WindowImplBase.h"

namespace UiLib {

class CMenuUI;
class CMenuElementUI;

class CMenuWindow : public WindowImplBase {
  public:
    CMenuWindow() = default;
    ~CMenuWindow() override;

    // Creates and shows the menu. The anchor (the button that opened it) is remembered only
    // for derived menus. False when the layout has no Menu.
    bool Init(WindowImplBase* owner, const std::string& layout, Point screenPoint,
              CControlUI* anchor = nullptr);
    CMenuUI* GetMenu() const { return menu_; }
    CControlUI* GetAnchor() const { return anchor_; }

    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "MenuWnd"; }

    // The host calls this when the menu loses the pointer grab (a click elsewhere).
    void Dismiss();
    void HostFocusLost() override { Dismiss(); }

  protected:
    void HandleNotify(TNotifyUI& msg) override;
    // An item without sub-items was clicked; the menu closes afterwards.
    virtual void OnMenuItemClick(CMenuElementUI* item);
    void OnFinalMessage() override;

  private:
    void OpenSubMenu(CMenuElementUI* item);
    std::string layout_;
    CMenuUI* menu_ = nullptr;
    CControlUI* anchor_ = nullptr;
    std::unique_ptr<CMenuWindow> subMenu_;
    std::vector<CMenuElementUI*> subSource_;  // items the sub-menu shows (owned by the parent item)
};

}  // namespace UiLib
