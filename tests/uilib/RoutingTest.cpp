// Notification routing: delegates bound by name, virtual windows, list notifications, and
// handlers that change the tree.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "UiLib/CButtonUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CNotifyPump.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/CTabLayoutUI.h"

namespace UiLib {
namespace {

class Panel : public CNotifyPump {
  public:
    std::vector<std::string> seen;
    void HandleNotify(TNotifyUI& msg) override {
        seen.push_back(msg.sType + ":" + (msg.pSender ? msg.pSender->GetName() : ""));
    }
};

class Window : public CNotifyPump, public INotifyUI {
  public:
    std::vector<std::string> seen;
    void Notify(TNotifyUI& msg) override { NotifyPump(msg); }
    void HandleNotify(TNotifyUI& msg) override {
        seen.push_back(msg.sType + ":" + msg.pSender->GetName());
    }
    void OnBack(TNotifyUI& msg) { clicks.push_back(msg.pSender->GetName()); }
    std::vector<std::string> clicks;
};

constexpr const char* kLayout = R"(<Window><VerticalLayout>
    <Button name="BtnBackHome" />
    <TabLayout name="TabMain">
      <VerticalLayout virtualwnd="VrtWndPanel"><Button name="BtnImport" /></VerticalLayout>
      <VerticalLayout virtualwnd="VrtWndRestore">
        <HorizontalLayout><Button name="BtnCopyRestore" /></HorizontalLayout>
        <List name="BackupFileList">
          <ListContainerElement name="i0"><Label name="l0" /></ListContainerElement>
          <ListContainerElement name="i1" />
        </List>
      </VerticalLayout>
    </TabLayout></VerticalLayout></Window>)";

class Routing : public ::testing::Test {
  protected:
    void SetUp() override {
        pm_.AttachDialog(CDialogBuilder().CreateFromText(kLayout, &pm_));
        pm_.AddNotifier(&window_);
        window_.AddVirtualWnd("VrtWndPanel", &home_);
        window_.AddVirtualWnd("VrtWndRestore", &restore_);
    }
    CButtonUI* Button(const char* name) { return dynamic_cast<CButtonUI*>(pm_.FindControl(name)); }
    CPaintManagerUI pm_;
    Window window_;
    Panel home_;
    Panel restore_;
};

TEST_F(Routing, DelegateRunsBeforeTheWindowAndVirtualWindowsGetTheirControls) {
    ASSERT_TRUE(pm_.Bind("BtnBackHome", "click", CDelegate(&window_, &Window::OnBack)));
    EXPECT_FALSE(pm_.Bind("NoSuchButton", "click", CDelegate(&window_, &Window::OnBack)));
    Button("BtnBackHome")->Activate();
    EXPECT_EQ(window_.clicks, std::vector<std::string>{"BtnBackHome"});
    EXPECT_EQ(window_.seen, std::vector<std::string>{"click:BtnBackHome"});

    Button("BtnImport")->Activate();
    Button("BtnCopyRestore")->Activate();  // on a hidden tab page: a hidden control does nothing
    EXPECT_TRUE(restore_.seen.empty());
    dynamic_cast<CTabLayoutUI*>(pm_.FindControl("TabMain"))->SelectItem(1);
    Button("BtnCopyRestore")->Activate();  // nested below the virtual window's container
    EXPECT_EQ(home_.seen, std::vector<std::string>{"click:BtnImport"});
    EXPECT_EQ(restore_.seen, std::vector<std::string>{"click:BtnCopyRestore"});
    EXPECT_EQ(window_.seen, (std::vector<std::string>{"click:BtnBackHome", "tabselect:TabMain"}));
}

TEST_F(Routing, DelegatesFireOnlyForTheirEventAndUnbindByOwner) {
    pm_.Bind("BtnBackHome", "selectchanged", CDelegate(&window_, &Window::OnBack));
    Button("BtnBackHome")->Activate();
    EXPECT_TRUE(window_.clicks.empty());
    pm_.Bind("BtnBackHome", "click", CDelegate(&window_, &Window::OnBack));
    Button("BtnBackHome")->Unbind(&window_);
    Button("BtnBackHome")->Activate();
    EXPECT_TRUE(window_.clicks.empty());
}

TEST_F(Routing, RemovedVirtualWindowFallsBackToTheWindow) {
    EXPECT_FALSE(window_.AddVirtualWnd("VrtWndPanel", &restore_));  // the name is taken
    EXPECT_TRUE(window_.RemoveVirtualWnd("VrtWndPanel"));
    Button("BtnImport")->Activate();
    EXPECT_TRUE(home_.seen.empty());
    EXPECT_EQ(window_.seen, std::vector<std::string>{"click:BtnImport"});
}

TEST_F(Routing, ListItemsSelectAndClickThroughTheirLabels) {
    pm_.SetClientSize({200, 300});
    dynamic_cast<CTabLayoutUI*>(pm_.FindControl("TabMain"))->SelectItem(1);
    pm_.UpdateLayout();
    auto* list = dynamic_cast<CListUI*>(pm_.FindControl("BackupFileList"));
    std::vector<std::pair<WPARAM, LPARAM>> selects;
    list->Bind("itemselect",
               CDelegate([&](TNotifyUI& m) { selects.emplace_back(m.wParam, m.lParam); }));
    restore_.seen.clear();
    const Rect label = pm_.FindControl("l0")->GetPos();
    const Point p{label.left + 2, label.top + 2};
    pm_.OnButtonDown(p, 0, false);
    pm_.OnButtonUp(p);
    EXPECT_EQ(list->GetCurSel(), 0);
    ASSERT_EQ(selects.size(), 1u);
    EXPECT_EQ(selects[0], (std::pair<WPARAM, LPARAM>{0, -1}));
    EXPECT_EQ(restore_.seen,
              (std::vector<std::string>{"itemselect:BackupFileList", "itemclick:i0"}));
    list->SelectItem(0);  // already selected: nothing
    EXPECT_EQ(selects.size(), 1u);
}

TEST_F(Routing, AHandlerMayEmptyTheListThatRaisedTheNotification) {
    auto* list = dynamic_cast<CListUI*>(pm_.FindControl("BackupFileList"));
    int calls = 0;
    list->GetItemAt(1)->Bind("itemclick", CDelegate([&](TNotifyUI&) {
                                 ++calls;
                                 list->RemoveAll();  // deletes the sender
                             }));
    list->GetItemAt(1)->SendNotify("itemclick");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(list->GetCurSel(), -1);
    EXPECT_TRUE(restore_.seen.empty());  // the deleted sender is not routed further
}

TEST_F(Routing, ControlsBuiltOutsideTheWindowJoinItsRouting) {
    std::unique_ptr<CControlUI> card(CDialogBuilder().CreateFromText(
        R"(<VerticalLayout><Button name="BtnRetry" /></VerticalLayout>)", &pm_));
    auto* retry = dynamic_cast<CButtonUI*>(card->FindControl("BtnRetry"));
    int clicks = 0;
    retry->Bind("click", CDelegate([&](TNotifyUI&) { ++clicks; }));
    retry->Activate();  // not in a window yet: only its own handlers
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(home_.seen.empty());
    auto* home = dynamic_cast<CContainerUI*>(pm_.FindControl("BtnImport")->GetParent());
    home->Add(card.release());
    retry->Activate();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(home_.seen, std::vector<std::string>{"click:BtnRetry"});
    EXPECT_EQ(pm_.FindControl("BtnRetry"), retry);
}

}  // namespace
}  // namespace UiLib
