// Worker threads change controls while the user interface thread lays out, paints and handles
// the mouse: no data race (the suite is also run under ThreadSanitizer), no lost update, and the
// repaint requests reach the user interface thread.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UiLib/CButtonGifUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/CSubtreeSlot.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/TDuiTimer.h"
#include "UiLib/UiRef.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"

namespace UiLib {
namespace {

class SkinWindow : public WindowImplBase {
  public:
    explicit SkinWindow(std::string layout) : layout_(std::move(layout)) {}
    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "UIThreadTest"; }

  private:
    std::string layout_;
};

class Threads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tolvane::skin::RegisterSkin();
        ASSERT_TRUE(CResourceArchive::UseResource(101, "ZIPRES"));
    }
    OffscreenHost host_;
};

TEST_F(Threads, WorkersUpdateProgressLabelsListsAndStylesWhileTheWindowPaints) {
    SkinWindow progress("xml\\ProWndRestore.xml");
    SkinWindow viewer("xml\\ViewWnd.xml");
    SkinWindow main("xml\\skin.xml");
    ASSERT_NE(progress.Create(nullptr, "", 0, 0, 500, 300), 0u);
    ASSERT_NE(viewer.Create(nullptr, "", 0, 0, 550, 350), 0u);
    ASSERT_NE(main.Create(nullptr, "", 0, 0, 0, 0), 0u);
    auto* bar = dynamic_cast<CProgressUI*>(progress.GetPaintManager().FindControl("progress"));
    auto* percent = dynamic_cast<CLabelUI*>(progress.GetPaintManager().FindControl("LblPercent"));
    auto* list = dynamic_cast<CListUI*>(viewer.GetPaintManager().FindControl("ViewList"));
    CControlUI* status = main.GetPaintManager().FindControl("BtnBackHome");
    ASSERT_TRUE(bar && percent && list && status);

    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    workers.emplace_back([&] {
        for (int i = 0; i <= 100; ++i) {
            bar->SetValue(i);
            percent->SetText(std::to_wstring(i) + L"%");
            std::this_thread::yield();
        }
    });
    workers.emplace_back([&] {
        for (int round = 0; round < 20; ++round) {
            list->RemoveAll();
            for (int i = 0; i < 30; ++i) {
                auto* item = new CListContainerElementUI();
                item->SetFixedHeight(30);
                auto* label = new CLabelUI();
                label->SetText(L"line " + std::to_wstring(i));
                item->Add(label);
                list->Add(item);
            }
        }
    });
    workers.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            status->SetVisible(i % 2 == 0);
            main.GetPaintManager().FindControl("BtnCopyBackup")->SetEnabled(i % 3 == 0);
        }
    });
    int paints = 0;
    // This thread is the user interface thread: it paints and tracks the mouse until the
    // workers are done.
    std::thread joiner([&] {
        for (auto& w : workers) {
            w.join();
        }
        stop = true;
    });
    while (!stop) {
        for (WindowImplBase* w :
             {static_cast<WindowImplBase*>(&progress), static_cast<WindowImplBase*>(&viewer),
              static_cast<WindowImplBase*>(&main)}) {
            cairo_surface_destroy(host_.Render(*w));
            w->HostMouseMove({100, 120});
        }
        host_.PumpMessages();
        ++paints;
    }
    joiner.join();
    EXPECT_GT(paints, 0);
    EXPECT_EQ(bar->GetValue(), 100);
    EXPECT_EQ(percent->GetText(), L"100%");
    EXPECT_EQ(list->GetCount(), 30);
    EXPECT_FALSE(status->IsVisible());  // the last change (199) hid it
    // The list is on the viewer's second page.
    dynamic_cast<CTabLayoutUI*>(viewer.GetPaintManager().FindControl("TabMain"))->SelectItem(1);
    viewer.GetPaintManager().UpdateLayout();
    EXPECT_EQ(list->GetItemAt(29)->GetPos().Height(), 30);
}

TEST_F(Threads, MessagesPostedFromManyThreadsAllArriveInEachThreadsOrder) {
    class Counter : public WindowImplBase {
      public:
        std::string GetSkinFile() override { return "xml/MessageBox_Error.xml"; }
        std::string GetWindowClassName() const override { return "UICounter"; }
        std::vector<std::vector<int>> seen = std::vector<std::vector<int>>(4);
        LRESULT HandleMessage(UINT msg, WPARAM w, LPARAM l) override {
            if (msg == WM_USER + 5) {
                seen[w].push_back(static_cast<int>(l));
                return 0;
            }
            return WindowImplBase::HandleMessage(msg, w, l);
        }
    } counter;
    const WindowHandle h = counter.Create(nullptr, "", 0, 0, 0, 0);
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([h, t] {
            for (int i = 0; i < 250; ++i) {
                WindowImplBase::PostMessage(h, WM_USER + 5, static_cast<WPARAM>(t), i);
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    host_.PumpMessages();
    for (int t = 0; t < 4; ++t) {
        ASSERT_EQ(counter.seen[t].size(), 250u);
        for (int i = 0; i < 250; ++i) {
            EXPECT_EQ(counter.seen[t][i], i);
        }
    }
}

// The phone card: the user interface thread rebuilds it at every tab switch, in another tab's
// container, while the connection timer (holding the device lock) writes its status through the
// slot; the close takes the device lock and stops the timer. No use after free, no deadlock.
class CardOwner {
  public:
    std::mutex deviceLock;
    CSubtreeSlot card;
    std::atomic<int> updates{0};
    std::atomic<int> missed{0};
    int tick = 0;  // under deviceLock
    void OnConnectedTimer() {
        std::lock_guard lock(deviceLock);
        ++tick;
        const bool ok = tick % 2 == 0;
        const bool wrote = card.With([&](CControlUI& root) {
            root.FindControl("VLayoutPhoneStatus")->SetStyle(ok ? "ConnectOK" : "Connecting");
            root.FindControl("LblStatus")->SetText(ok ? L"Connected" : L"Connect Fail");
            root.FindControl("LblStatus")->SetStyle(ok ? "LblConnectOK" : "LblConnectError");
            root.FindControl("GifConnecting")->SetVisible(!ok);
            root.FindControl("LblPhoneName")->SetText(L"Source: " + std::to_wstring(tick));
        });
        ++(wrote ? updates : missed);
    }
};

TEST_F(Threads, ACardRebuiltAtEveryTabSwitchWhileTheTimerWritesIt) {
    ClearReportedFaults();
    SkinWindow main("xml\\skin.xml");
    ASSERT_NE(main.Create(nullptr, "", 0, 0, 0, 0), 0u);
    CPaintManagerUI& pm = main.GetPaintManager();
    CardOwner owner;
    TDuiTimer<CardOwner> timer(&owner, &CardOwner::OnConnectedTimer, std::chrono::milliseconds(1));
    timer.Start();
    for (int round = 0; round < 120; ++round) {
        const int tab = round % 4;
        for (int i = 0; i < 4; ++i) {
            if (i != tab) {
                dynamic_cast<CContainerUI*>(pm.FindControl("VLayoutPhone_" + std::to_string(i)))
                    ->RemoveAll();
            }
        }
        auto* into =
            dynamic_cast<CContainerUI*>(pm.FindControl("VLayoutPhone_" + std::to_string(tab)));
        owner.card.Replace(into, CDialogBuilder().Create("xml/ElementPhone.xml", &pm));
        dynamic_cast<CTabLayoutUI*>(pm.FindControl("TabMain"))->SelectItem(tab);
        cairo_surface_destroy(host_.Render(main));
        host_.PumpMessages();
        if (round % 30 == 29) {
            // The close: stop under the device lock while a tick may wait for it, then start.
            {
                std::lock_guard lock(owner.deviceLock);
                timer.Stop();
            }
            timer.Wait();
            timer.Start();
        }
        std::this_thread::yield();
    }
    // From here the timer ticks only by hand.
    struct Manual {
        Manual() { DuiTimerCore::SetManualForTesting(true); }
        ~Manual() { DuiTimerCore::SetManualForTesting(false); }
    } manual;
    timer.Stop();
    timer.Wait();
    timer.Start();
    // A card deleted with its container is no longer reached.
    dynamic_cast<CContainerUI*>(pm.FindControl("VLayoutPhone_3"))->RemoveAll();
    EXPECT_FALSE(owner.card.HasSubtree());
    const int missed = owner.missed;
    EXPECT_TRUE(timer.FireForTesting());
    EXPECT_EQ(owner.missed, missed + 1);
    // The last card gets the timer's writes.
    owner.card.Replace(dynamic_cast<CContainerUI*>(pm.FindControl("VLayoutPhone_0")),
                       CDialogBuilder().Create("xml/ElementPhone.xml", &pm));
    dynamic_cast<CTabLayoutUI*>(pm.FindControl("TabMain"))->SelectItem(0);
    const int before = owner.updates;
    EXPECT_TRUE(timer.FireForTesting());
    timer.Stop();
    timer.Wait();
    EXPECT_EQ(owner.updates, before + 1);
    EXPECT_GT(owner.updates, 1);
    const int tick = [&] {
        std::lock_guard lock(owner.deviceLock);
        return owner.tick;
    }();
    EXPECT_EQ(pm.FindControl("LblPhoneName")->GetText(), L"Source: " + std::to_wstring(tick));
    EXPECT_EQ(pm.FindControl("GifConnecting")->IsVisible(), tick % 2 != 0);
    EXPECT_EQ(ReportedFaults(), std::vector<std::string>{});
}

// A progress window closed and deleted while its worker still reports into it: the worker's
// weak references find the controls gone and its posts go nowhere.
TEST_F(Threads, AWorkerReportsIntoAWindowDeletedUnderIt) {
    auto progress = std::make_unique<SkinWindow>("xml\\ProWndBackup.xml");
    const WindowHandle h = progress->Create(nullptr, "", 0, 0, 500, 250);
    UiRef<CProgressUI> bar(progress->GetPaintManager().FindControl("progress"));
    UiRef<CLabelUI> percent(progress->GetPaintManager().FindControl("LblPercent"));
    EXPECT_FALSE(UiRef<CProgressUI>(progress->GetPaintManager().FindControl("LblPercent")).Alive());
    ASSERT_TRUE(bar.Alive() && percent.Alive());
    std::atomic<int> written{0};
    std::atomic<bool> started{false};
    std::thread worker([&] {
        for (int i = 0;; ++i) {
            const bool a = bar.With([&](CProgressUI& b) { b.SetValue(i % 101); });
            const bool b = percent.With([&](CLabelUI& l) { l.SetText(std::to_wstring(i) + L"%"); });
            WindowImplBase::PostMessage(h, WM_USER + 1, static_cast<WPARAM>(i));
            if (!a || !b) {
                return;
            }
            ++written;
            started = true;
        }
    });
    while (!started) {
        cairo_surface_destroy(host_.Render(*progress));
        host_.PumpMessages();
    }
    progress->Close(IDOK);
    host_.PumpMessages();
    progress.reset();  // the tree goes while the worker writes
    worker.join();
    host_.PumpMessages();
    EXPECT_GT(written, 0);
    EXPECT_FALSE(bar.Alive());
    EXPECT_FALSE(bar.With([](CProgressUI&) { FAIL(); }));
}

}  // namespace
}  // namespace UiLib
