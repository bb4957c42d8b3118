// The popup menu through the offscreen host: placed at the given screen point (kept on screen),
// holding the pointer grab, closed by a press outside (in another window or outside the
// program), Escape or its owner closing; an item posts its message to the owner and the menu
// deletes itself; sub-menus open on hover and their items act as the first menu's.
#include <gtest/gtest.h>

#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuUI.h"
#include "UiLib/CMenuWindow.h"
#include "UiLib/OffscreenHost.h"
#include "tests/uilib/TestWindows.h"

namespace UiLib {
namespace {

using uilibtest::TestWindow;
using Menus = uilibtest::WindowTestBase;

constexpr UINT kItemMessage = WM_USER + 3;

struct MenuLog {
    std::vector<std::string> clicked;
    int deleted = 0;
};

// Posts its item's message to the owner, as the assist menu does.
class PostingMenu : public CMenuWindow {
  public:
    explicit PostingMenu(MenuLog* log) : log_(log) {}
    ~PostingMenu() override { ++log_->deleted; }

  protected:
    void OnMenuItemClick(CMenuElementUI* item) override {
        log_->clicked.push_back(item->GetName());
        PostToOwner(kItemMessage, log_->clicked.size());
    }

  private:
    MenuLog* log_;
};

Point Centre(CControlUI* c) {
    const Rect rc = c->GetPos();
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

class MenuFixture : public Menus {
  protected:
    void SetUp() override {
        owner_.Create(nullptr, "", 0, 0, 900, 600);
        owner_.ShowWindow();
        owner_.GetPaintManager().UpdateLayout();
    }
    PostingMenu* Open(Point at) {
        auto* menu = new PostingMenu(&log_);
        const bool ok =
            menu->Init(&owner_, "xml/menu.xml", at, owner_.GetPaintManager().FindControl("okbtn"));
        EXPECT_TRUE(ok);
        handle_ = ok ? menu->GetHWND() : 0;
        host_.PumpMessages();
        return ok ? menu : nullptr;
    }
    bool MenuOpen() const { return WindowImplBase::IsWindow(handle_); }

    TestWindow owner_;
    MenuLog log_;
    WindowHandle handle_ = 0;
};

TEST_F(MenuFixture, OpensAtTheGivenPointGrabsThePointerAndAnItemPostsToTheOwner) {
    PostingMenu* menu = Open({100, 200});
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->GetWindowRect(), (Rect{100, 200, 250, 264}));  // two visible items + inset
    const auto state = OffscreenHost::StateOf(*menu);
    EXPECT_TRUE(state.popupMenu && state.shown && state.grabbed);
    EXPECT_EQ(WindowImplBase::TopPopup(), menu);
    ASSERT_TRUE(host_.Click(*menu, "item_settings"));
    host_.PumpMessages();
    EXPECT_EQ(log_.clicked, std::vector<std::string>{"item_settings"});
    EXPECT_EQ(owner_.messages, std::vector<UINT>{kItemMessage});
    EXPECT_FALSE(MenuOpen());
    EXPECT_EQ(log_.deleted, 1);  // it deleted itself
    EXPECT_EQ(WindowImplBase::TopPopup(), nullptr);
}

TEST_F(MenuFixture, APressOutsideClosesItAndGoesNoFurther) {
    // Outside the program: the press reaches the grabbing menu outside its rectangle.
    ASSERT_NE(Open({100, 200}), nullptr);
    EXPECT_TRUE(host_.ClickOutside());
    host_.PumpMessages();
    EXPECT_FALSE(MenuOpen());
    EXPECT_EQ(log_.deleted, 1);
    EXPECT_FALSE(host_.ClickOutside());  // nothing holds the grab any more
    // In the owner: the menu closes and the button under the press is not clicked.
    ASSERT_NE(Open({100, 200}), nullptr);
    host_.ClickAt(owner_, Centre(owner_.GetPaintManager().FindControl("okbtn")));
    host_.PumpMessages();
    EXPECT_FALSE(MenuOpen());
    EXPECT_FALSE(owner_.IsClosed());
    EXPECT_TRUE(log_.clicked.empty());
    // The next press in the owner is the owner's again.
    EXPECT_TRUE(host_.Click(owner_, "okbtn"));
    EXPECT_TRUE(owner_.IsClosed());
}

TEST_F(MenuFixture, EscapeClosesTheMenuNotTheWindowBehindIt) {
    owner_.SetCloseOnKey(VK_ESCAPE, IDCANCEL);
    ASSERT_NE(Open({100, 200}), nullptr);
    host_.PressKey(owner_, VK_ESCAPE);  // the keyboard focus is still in the owner
    host_.PumpMessages();
    EXPECT_FALSE(MenuOpen());
    EXPECT_FALSE(owner_.IsClosed());
}

TEST_F(MenuFixture, ItStaysOnTheScreenAndClosesWithItsOwner) {
    // No room below: above the anchor; no room to the right: moved left.
    PostingMenu* menu = Open({1850, 1050});
    ASSERT_NE(menu, nullptr);
    const int anchorTop = owner_.GetPaintManager().FindControl("okbtn")->GetPos().top;
    EXPECT_EQ(menu->GetWindowRect(), (Rect{1770, anchorTop - 64, 1920, anchorTop}));
    owner_.Close(IDOK);
    host_.PumpMessages();
    host_.PumpMessages();
    EXPECT_FALSE(MenuOpen());
    EXPECT_EQ(log_.deleted, 1);
}

TEST_F(MenuFixture, SubMenusOpenOnHoverAndTheirItemsActAsTheFirstMenus) {
    PostingMenu* menu = Open({100, 200});
    ASSERT_NE(menu, nullptr);
    CPaintManagerUI& pm = menu->GetPaintManager();
    pm.UpdateLayout();
    menu->HostMouseMove(Centre(pm.FindControl("item_language")));
    CMenuWindow* sub = menu->GetSubMenu();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->GetWindowRect(), (Rect{250, 232, 400, 296}));  // beside its item
    EXPECT_EQ(sub->GetMenu()->GetCount(), 2);
    EXPECT_EQ(WindowImplBase::TopPopup(), sub);
    // Another item closes it; the sub-items go back to their item.
    menu->HostMouseMove(Centre(pm.FindControl("item_settings")));
    EXPECT_EQ(menu->GetSubMenu(), nullptr);
    auto* language = dynamic_cast<CMenuElementUI*>(pm.FindControl("item_language"));
    ASSERT_EQ(language->GetSubItemCount(), 2);
    EXPECT_EQ(language->GetSubItemAt(1)->GetParent(), nullptr);
    // Escape closes only the sub-menu; a click on a sub-item is an item of the first menu.
    menu->HostMouseMove(Centre(pm.FindControl("item_language")));
    ASSERT_NE(menu->GetSubMenu(), nullptr);
    host_.PressKey(owner_, VK_ESCAPE);
    host_.PumpMessages();
    EXPECT_EQ(menu->GetSubMenu(), nullptr);
    EXPECT_TRUE(MenuOpen());
    menu->HostMouseMove(Centre(pm.FindControl("item_settings")));
    menu->HostMouseMove(Centre(pm.FindControl("item_language")));
    sub = menu->GetSubMenu();
    ASSERT_NE(sub, nullptr);
    ASSERT_TRUE(host_.Click(*sub, "lang_fr"));
    host_.PumpMessages();
    host_.PumpMessages();
    EXPECT_EQ(log_.clicked, std::vector<std::string>{"lang_fr"});
    EXPECT_EQ(owner_.messages, std::vector<UINT>{kItemMessage});
    EXPECT_FALSE(MenuOpen());
    EXPECT_EQ(log_.deleted, 1);
}

TEST_F(Menus, ALayoutWithoutAMenuFailsAndTheMenuIsGone) {
    TestWindow owner;
    owner.Create(nullptr, "", 0, 0, 0, 0);
    MenuLog log;
    auto* menu = new PostingMenu(&log);
    EXPECT_FALSE(menu->Init(&owner, "xml/dlg.xml", {0, 0}));
    host_.PumpMessages();
    EXPECT_EQ(log.deleted, 1);
    EXPECT_EQ(WindowImplBase::TopPopup(), nullptr);
}

}  // namespace
}  // namespace UiLib
