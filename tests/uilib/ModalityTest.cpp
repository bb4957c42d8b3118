// Modal runs keep every window behind them from input (clicks, keys, the window manager's close),
// windows may refuse a close by its origin, and bound click handlers claim a click or leave it
// to the default close.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "tests/uilib/TestWindows.h"

namespace UiLib {
namespace {

using uilibtest::TestWindow;
using Modality = uilibtest::WindowTestBase;

TEST_F(Modality, AModalPopupKeepsEveryWindowBehindItFromInput) {
    TestWindow main;
    main.Create(nullptr, "", 0, 0, 900, 600);
    main.ShowWindow();
    main.SetCloseOnKey(VK_ESCAPE, IDCANCEL);
    TestWindow other;  // a second top-level window, not the popup's owner
    other.Create(nullptr, "", 0, 0, 0, 0);
    other.ShowWindow();
    TestWindow progress;
    progress.CreatePopup(&main, 500, 250);

    std::vector<std::string> seen;
    int step = 0;
    host_.SetIdleHandler([&] {
        switch (step++) {
            case 0:
                EXPECT_TRUE(OffscreenHost::StateOf(progress).modal);
                EXPECT_FALSE(main.IsInputEnabled());
                EXPECT_FALSE(OffscreenHost::StateOf(main).inputEnabled);
                EXPECT_FALSE(host_.Click(main, "okbtn"));
                EXPECT_FALSE(host_.Click(other, "okbtn"));
                EXPECT_FALSE(host_.TypeText(main, "EditOther", L"x"));
                // Input that does reach a disabled window (a real display may deliver it) is
                // dropped by the window itself.
                main.HostMouseMove({200, 130});
                EXPECT_TRUE(main.HostButtonDown({200, 130}, 0, false));
                main.HostButtonUp({200, 130});
                host_.PressKey(main, VK_ESCAPE);
                host_.RequestClose(main);  // Alt+F4 on the window behind
                EXPECT_FALSE(main.IsClosed());
                EXPECT_TRUE(main.closeAsks.empty());
                EXPECT_GE(OffscreenHost::StateOf(progress).presents, 1);  // raised instead
                return true;
            case 1: {
                // A question owned by the modal window: that one is kept from input too, and
                // comes back when the question ends; the main window stays out of reach.
                TestWindow question;
                question.CreatePopup(&progress, 300, 200);
                host_.SetIdleHandler([&] {
                    EXPECT_FALSE(progress.IsInputEnabled());
                    EXPECT_FALSE(host_.Click(progress, "okbtn"));
                    EXPECT_TRUE(host_.Click(question, "okbtn"));
                    return true;
                });
                EXPECT_EQ(question.ShowModal(), static_cast<UINT>(IDOK));
                EXPECT_TRUE(progress.IsInputEnabled());
                EXPECT_FALSE(main.IsInputEnabled());
                host_.SetIdleHandler([&] { return host_.Click(progress, "cancelbtn"); });
                return true;
            }
            default:
                return false;
        }
    });
    EXPECT_EQ(progress.ShowModal(), static_cast<UINT>(IDCANCEL));
    host_.SetIdleHandler(nullptr);
    EXPECT_EQ(step, 2);
    for (const auto& e : main.events) {
        EXPECT_EQ(e.find("click"), std::string::npos) << e;
    }
    EXPECT_EQ(main.GetPaintManager().FindControl("EditOther")->GetText(), L"");
    EXPECT_FALSE(main.IsClosed());
    // Afterwards both windows take input again.
    EXPECT_TRUE(main.IsInputEnabled());
    EXPECT_TRUE(OffscreenHost::StateOf(other).inputEnabled);
    EXPECT_TRUE(host_.Click(other, "okbtn"));
    EXPECT_TRUE(other.IsClosed());
}

// A progress window: the window manager's close is refused while its worker runs; the worker's
// own WM_CLOSE ends the run.
TEST_F(Modality, AWindowMayRefuseACloseFromTheWindowManager) {
    TestWindow main;
    main.Create(nullptr, "", 0, 0, 900, 600);
    TestWindow progress;
    progress.refuseSystemClose = true;
    const WindowHandle h = progress.CreatePopup(&main, 500, 250);
    int step = 0;
    host_.SetIdleHandler([&] {
        if (step++ == 0) {
            host_.RequestClose(progress);
            host_.PumpMessages();
            EXPECT_FALSE(progress.IsClosed());
            WindowImplBase::PostMessage(h, WM_CLOSE, 8, 0);  // the worker's result
        }
        return step < 3;
    });
    EXPECT_EQ(progress.ShowModal(), 8u);
    host_.SetIdleHandler(nullptr);
    EXPECT_EQ(progress.closeAsks,
              (std::vector<CloseOrigin>{CloseOrigin::System, CloseOrigin::Program}));
    // Without refusal the window manager's close ends a window with Cancel.
    TestWindow plain;
    plain.Create(nullptr, "", 0, 0, 0, 0);
    host_.SetIdleHandler([&] {
        host_.RequestClose(plain);
        return true;
    });
    EXPECT_EQ(plain.ShowModal(), static_cast<UINT>(IDCANCEL));
    host_.SetIdleHandler(nullptr);
    EXPECT_EQ(plain.closeAsks, std::vector<CloseOrigin>{CloseOrigin::System});
}

// A popup that deletes itself when it is gone: the modal run still returns its result and gives
// the owner its input back.
class SelfDeleting : public TestWindow {
  public:
    explicit SelfDeleting(bool* deleted) : deleted_(deleted) {}
    ~SelfDeleting() override { *deleted_ = true; }

  protected:
    void OnFinalMessage() override { delete this; }

  private:
    bool* deleted_;
};

TEST_F(Modality, AWindowDeletedByItsOwnCloseEndsItsModalRunCleanly) {
    TestWindow main;
    main.Create(nullptr, "", 0, 0, 900, 600);
    bool deleted = false;
    auto* popup = new SelfDeleting(&deleted);
    const WindowHandle h = popup->CreatePopup(&main, 300, 200);
    host_.SetIdleHandler([h] { return WindowImplBase::PostMessage(h, WM_CLOSE, 3, 0); });
    EXPECT_EQ(popup->ShowModal(), 3u);
    host_.SetIdleHandler(nullptr);
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(main.IsInputEnabled());
}

// The progress window's cancel: a handler on "closebtn" asks first; it claims the click while
// the question is answered "no" and falls back to the default close otherwise, in two ways.
class CancelAsking : public TestWindow {
  public:
    bool answer = false;
    int asked = 0;
    bool explicitDefault = false;

  protected:
    void InitWindow() override {
        pm_.Bind("closebtn", "click", CDelegate(this, &CancelAsking::OnCancel));
        pm_.Bind("okbtn", "click", CDelegate(this, &CancelAsking::OnOk));
    }
    bool OnCancel(TNotifyUI& msg) {
        ++asked;
        if (answer && explicitDefault) {
            WindowImplBase::OnClick(msg);  // the base's close, called from the handler
            return true;
        }
        return !answer;  // claimed ("no": stay); not claimed: the default close follows
    }
    void OnOk(TNotifyUI&) { ++oks; }

  public:
    int oks = 0;
};

TEST_F(Modality, BoundClickHandlersClaimAClickOrLeaveItToTheDefaultClose) {
    for (bool explicitDefault : {false, true}) {
        CancelAsking w;
        w.explicitDefault = explicitDefault;
        w.Create(nullptr, "", 0, 0, 0, 0);
        int step = 0;
        host_.SetIdleHandler([&] {
            if (step++ == 0) {
                EXPECT_TRUE(host_.Click(w, "closebtn"));
                host_.PumpMessages();
                EXPECT_FALSE(w.IsClosed());  // "no": claimed, nothing else saw it
                w.answer = true;
            }
            return host_.Click(w, "closebtn");
        });
        EXPECT_EQ(w.ShowModal(), static_cast<UINT>(IDCANCEL)) << explicitDefault;
        EXPECT_EQ(w.asked, 2);
        // The claimed click reached neither the window's receivers nor its default handling.
        EXPECT_EQ(std::count(w.events.begin(), w.events.end(), "click:closebtn"),
                  explicitDefault ? 0 : 1);
    }
    // A handler returning nothing leaves the click to the window: okbtn still closes with OK.
    CancelAsking w;
    w.Create(nullptr, "", 0, 0, 0, 0);
    host_.SetIdleHandler([&] { return host_.Click(w, "okbtn"); });
    EXPECT_EQ(w.ShowModal(), static_cast<UINT>(IDOK));
    EXPECT_EQ(w.oks, 1);
    host_.SetIdleHandler(nullptr);
}

}  // namespace
}  // namespace UiLib
