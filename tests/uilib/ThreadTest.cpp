// Worker threads change controls while the user interface thread lays out, paints and handles
// the mouse: no data race (the suite is also run under ThreadSanitizer), no lost update, and the
// repaint requests reach the user interface thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/CListContainerElementUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/ResourceArchive.h"
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

}  // namespace
}  // namespace UiLib
