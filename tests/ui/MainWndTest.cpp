// The main window against the simulated phone: connection states, the card's labels, the mode
// buttons, the timer, the keys, the menu, the close during an attempt, a second start.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "UiLib/CMenuWindow.h"
#include "platform/SingleInstance.h"
#include "tests/ui/MainWndFixture.h"
#include "ui/CAssistMenu.h"
#include "ui/UiMessages.h"

namespace uitest {
namespace {

using tolvane::CMainWnd;

constexpr const char* kModeButtons[] = {
    "BtnBackupPhone", "BtnRestoreFromBackup", "BtnRestoreFromiTunes", "BtnImport",
    "BtnCopyBackup",  "BtnCopyRestore",       "BtnCopyImport"};

bool GifShown(CMainWnd& main) {
    UiLib::CControlUI* gif = main.GetPaintManager().FindControl("GifConnecting");
    return gif != nullptr && gif->IsVisible();
}

TEST_F(MainWndTest, WithoutAPhoneTheCardAlternatesBetweenConnectingAndFailing) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    EXPECT_EQ(TextOf(main, "LblProductName"), L"Tolvane");
    // "windowinit" posted the first attempt: the card shows it at once.
    host_.PumpMessages();
    EXPECT_EQ(Status(), L"Connecting...");
    EXPECT_TRUE(GifShown(main));
    ASSERT_TRUE(WaitForAttempt());
    EXPECT_EQ(main.ConnectState(), tolvane::kConnectFailed);
    EXPECT_TRUE(main.ConnectTimer().IsRunning()) << "the attempt starts the timer again";

    for (int round = 0; round < 2; ++round) {
        // The check finds no phone: "Connect Fail", and it asks for a new attempt.
        ASSERT_TRUE(main.ConnectTimer().FireForTesting());
        EXPECT_EQ(Status(), L"Connect Fail");
        EXPECT_FALSE(GifShown(main));
        for (const char* b : kModeButtons) {
            EXPECT_FALSE(Enabled(b)) << b;
        }
        host_.PumpMessages();  // the posted UM_CONNECT
        EXPECT_EQ(Status(), L"Connecting...");
        ASSERT_TRUE(WaitForAttempt());
    }
    EXPECT_EQ(TextOf(main, "LblPhoneName"), L"Source: ") << "no phone name: the bare prefix";
}

TEST_F(MainWndTest, AServedPhoneIsConnectedAtTheCheckAfterTheAttemptAndLostWhenItGoes) {
    ServePhone();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    // A successful attempt changes nothing yet: the next check shows it.
    EXPECT_EQ(Status(), L"Connecting...");
    EXPECT_FALSE(Enabled("BtnBackupPhone"));
    EXPECT_EQ(main.DeviceName(), L"Test iPhone");
    Tick();
    EXPECT_EQ(Status(), L"Connected");
    EXPECT_TRUE(main.Connected());
    for (const char* b : kModeButtons) {
        EXPECT_TRUE(Enabled(b)) << b;
    }
    const std::wstring label = TextOf(main, "LblPhoneName");
    EXPECT_EQ(label.rfind(L"Source: Test iPhone(iPhone 7.1", 0), 0u) << label;
    EXPECT_EQ(label.back(), L')');

    // The card is rebuilt into the tab shown, with the tab's prefix.
    auto cardIn = [&](const char* box) {
        auto* c = dynamic_cast<UiLib::CContainerUI*>(main.GetPaintManager().FindControl(box));
        return c != nullptr ? c->GetCount() : -1;
    };
    main.GoRestore(tolvane::RestoreSource::OwnBackups);
    EXPECT_EQ(TextOf(main, "LblPhoneName").rfind(L"Destination: Test iPhone(", 0), 0u);
    EXPECT_EQ(cardIn("VLayoutPhone_2"), 1);
    EXPECT_EQ(cardIn("VLayoutPhone_0"), 0);
    EXPECT_EQ(Status(), L"Connected");
    ASSERT_TRUE(host_.Click(main, "BtnBackHome"));
    EXPECT_EQ(main.CurrentTab(), 0);
    EXPECT_EQ(cardIn("VLayoutPhone_0"), 1);
    EXPECT_EQ(cardIn("VLayoutPhone_2"), 0);
    EXPECT_EQ(TextOf(main, "LblPhoneName").rfind(L"Source: ", 0), 0u);
    main.GoImport();
    EXPECT_EQ(cardIn("VLayoutPhone_3"), 1);
    EXPECT_EQ(TextOf(main, "EditSMS"), L"");

    // The phone goes away: the next check fails and a new attempt starts.
    phone_->Stop();
    Tick();
    EXPECT_FALSE(main.Connected());
    for (const char* b : kModeButtons) {
        EXPECT_FALSE(Enabled(b)) << b;
    }
    EXPECT_EQ(Status(), L"Connecting...") << "the check's UM_CONNECT started an attempt";
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_TRUE(main.ConnectTimer().FireForTesting());
    EXPECT_EQ(Status(), L"Connect Fail");
}

TEST_F(MainWndTest, HomeButtonsOpenTheirTabs) {
    ServePhone();
    CMainWnd& main = OpenMain();
    Connect();
    UiLib::CControlUI* back = main.GetPaintManager().FindControl("BtnBackHome");
    EXPECT_FALSE(back->IsVisible());
    ASSERT_TRUE(host_.Click(main, "BtnBackupPhone"));
    EXPECT_EQ(main.CurrentTab(), 1);
    EXPECT_TRUE(back->IsVisible());
    ASSERT_TRUE(host_.Click(main, "BtnBackHome"));
    ASSERT_TRUE(host_.Click(main, "BtnRestoreFromBackup"));
    EXPECT_EQ(main.CurrentTab(), 2);
    EXPECT_EQ(main.RestorePanel().Source(), tolvane::RestoreSource::OwnBackups);
    ASSERT_TRUE(host_.Click(main, "BtnBackHome"));
    ASSERT_TRUE(host_.Click(main, "BtnRestoreFromiTunes"));
    EXPECT_EQ(main.RestorePanel().Source(), tolvane::RestoreSource::ItunesBackups);
    ASSERT_TRUE(host_.Click(main, "BtnBackHome"));
    ASSERT_TRUE(host_.Click(main, "BtnImport"));
    EXPECT_EQ(main.CurrentTab(), 3);
    EXPECT_FALSE(host_.Click(main, "BtnBackupPhone")) << "a button of a hidden tab";
}

TEST_F(MainWndTest, RestoreFromItunesOnAnEncryptingPhoneAsksForThePhonesPasswordFirst) {
    testenv::PhoneOptions options;
    options.backupPassword = "secret";
    ServePhone(options);
    CMainWnd& main = OpenMain();
    Connect();
    ASSERT_TRUE(main.IsDeviceEncrypted());
    std::wstring typed;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        ASSERT_EQ(w.GetWindowClassName(), "UIDecryptionWnd");
        EXPECT_EQ(UiLib::OffscreenHost::StateOf(w).bounds.Width(), 500);
        EXPECT_EQ(UiLib::OffscreenHost::StateOf(w).bounds.Height(), 240);
        if (typed.empty()) {
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
        } else {
            EXPECT_TRUE(host_.TypeText(w, "EditPassword", typed));
            // The connect timer keeps checking while the phone is asked: the two take turns on
            // the engine (a data race here is what ThreadSanitizer reports).
            std::atomic<bool> asked{false};
            std::thread ticker([&] {
                while (!asked) {
                    main.ConnectTimer().FireForTesting();
                }
            });
            EXPECT_TRUE(host_.Click(w, "BtnOK"));
            asked = true;
            ticker.join();
        }
    });
    ASSERT_TRUE(host_.Click(main, "BtnRestoreFromiTunes"));
    EXPECT_EQ(main.CurrentTab(), 0) << "given up: the home tab stays";
    EXPECT_TRUE(main.IsDeviceEncrypted());
    typed = L"secret";
    ASSERT_TRUE(host_.Click(main, "BtnRestoreFromiTunes"));
    EXPECT_EQ(main.CurrentTab(), 2);
    EXPECT_EQ(main.RestorePanel().Source(), tolvane::RestoreSource::ItunesBackups);
    EXPECT_FALSE(main.IsDeviceEncrypted());
    EXPECT_EQ(main.GetBackupPassword(), L"secret");
    // The unlock ran while the connect timer could tick: the next check still finds the phone.
    Tick();
    EXPECT_EQ(Status(), L"Connected");
}

TEST_F(MainWndTest, ConnectDuringAnAttemptIsIgnoredAndACloseWaitsForTheAttempt) {
    ServePhone({}, {"lock-held=1"});
    CMainWnd& main = OpenMain();
    host_.PumpMessages();
    ASSERT_FALSE(main.ConnectIdle());
    // A second request while the first runs starts nothing.
    UiLib::WindowImplBase::PostMessage(main.GetHWND(), tolvane::UM_CONNECT);
    host_.PumpMessages();
    EXPECT_EQ(main.ConnectState(), tolvane::kConnecting);
    // The close is refused while the attempt runs and goes through once it has ended.
    UiLib::WindowImplBase::PostMessage(main.GetHWND(), UiLib::WM_CLOSE, 1);
    host_.PumpMessages();
    if (!main.ConnectIdle()) {
        EXPECT_FALSE(main.IsClosed());
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return main.IsClosed(); }, 30s));
    EXPECT_TRUE(main.ConnectIdle());
    EXPECT_FALSE(main.ConnectTimer().IsRunning()) << "a closed window's timer stays stopped";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(MainWndTest, ACloseEndsAnAttemptsWaitForASyncLockAnotherProgramKeeps) {
    // Another program keeps the phone's sync lock for good: the attempt would wait 100 s for it.
    ServePhone({}, {"lock-held=forever"});
    CMainWnd& main = OpenMain();
    const auto busy = [&] {
        for (const std::string& line : phone_->Events()) {
            if (line.find("lock busy") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(PumpUntil(busy, 30s)) << "the attempt never asked for the lock";
    ASSERT_FALSE(main.ConnectIdle());
    const auto start = std::chrono::steady_clock::now();
    UiLib::WindowImplBase::PostMessage(main.GetHWND(), UiLib::WM_CLOSE, 1);
    ASSERT_TRUE(PumpUntil([&] { return main.IsClosed(); }, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the close sat out the wait";
    EXPECT_TRUE(main.ConnectIdle());
    for (const std::string& line : phone_->Events()) {
        EXPECT_EQ(line.find("lock acquired"), std::string::npos) << line;
    }
}

TEST_F(MainWndTest, EnterAndEscapeDoNothingAndTheCaptionDragsExceptOverButtons) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    host_.PressKey(main, UiLib::VK_ESCAPE);
    host_.PressKey(main, UiLib::VK_RETURN);
    host_.PumpMessages();
    EXPECT_FALSE(main.IsClosed());
    cairo_surface_destroy(host_.Render(main));  // laid out
    EXPECT_EQ(main.HitTest({400, 20}), UiLib::HTCAPTION);
    UiLib::CControlUI* menu = main.GetPaintManager().FindControl("BtnMenu");
    const UiLib::Rect rc = menu->GetPos();
    EXPECT_EQ(main.HitTest({(rc.left + rc.right) / 2, 20}), UiLib::HTCLIENT);
    EXPECT_EQ(main.HitTest({400, 300}), UiLib::HTCLIENT);
    // The window manager's close goes through the same refusable close and ends the window.
    host_.RequestClose(main);
    EXPECT_TRUE(PumpUntil([&] { return main.IsClosed(); }, 10s));
}

TEST_F(MainWndTest, TheMenuOpensUnderItsButtonAndItsItemsPostTheirMessages) {
    // The table of the items.
    UiLib::UINT msg = 0;
    UiLib::WPARAM wParam = 99;
    const std::tuple<const char*, UiLib::UINT, UiLib::WPARAM> expected[] = {
        {"item_settings", tolvane::UM_SETTINGS, 0}, {"item_help", tolvane::UM_OPEN_LINK, 1},
        {"item_faq", tolvane::UM_OPEN_LINK, 2},     {"item_about", tolvane::UM_OPEN_LINK, 5},
        {"item_support", tolvane::UM_OPEN_LINK, 6}, {"item_exit", UiLib::WM_CLOSE, 1}};
    for (const auto& [item, m, w] : expected) {
        ASSERT_TRUE(tolvane::CAssistMenu::MessageOf(item, msg, wParam)) << item;
        EXPECT_EQ(msg, m) << item;
        EXPECT_EQ(wParam, w) << item;
    }
    EXPECT_FALSE(tolvane::CAssistMenu::MessageOf("item_language", msg, wParam));

    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_TRUE(host_.Click(main, "BtnMenu"));
    host_.PumpMessages();
    UiLib::WindowImplBase* menu = UiLib::WindowImplBase::TopPopup();
    ASSERT_NE(menu, nullptr);
    const auto state = UiLib::OffscreenHost::StateOf(*menu);
    EXPECT_TRUE(state.popupMenu);
    EXPECT_TRUE(state.grabbed);
    const UiLib::Rect button = main.GetPaintManager().FindControl("BtnMenu")->GetPos();
    const UiLib::Point below = main.ClientToScreen({button.left, button.bottom});
    EXPECT_EQ(state.bounds.top, below.y);
    // "Exit" closes the application through WM_CLOSE 1.
    ASSERT_TRUE(host_.Click(*menu, "item_exit"));
    EXPECT_TRUE(PumpUntil([&] { return main.IsClosed(); }, 10s));
    EXPECT_EQ(UiLib::WindowImplBase::TopPopup(), nullptr);
}

TEST_F(MainWndTest, TheMenusSettingsAndPagesOpenTheSettingsWindowAndTheLinkTable) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    std::vector<std::string> opened;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        opened.push_back(w.GetWindowClassName());
        EXPECT_EQ(UiLib::OffscreenHost::StateOf(w).bounds.Width(), 550);
        EXPECT_TRUE(host_.Click(w, "BtnCancel"));
    });
    ASSERT_TRUE(host_.Click(main, "BtnMenu"));
    host_.PumpMessages();
    ASSERT_NE(UiLib::WindowImplBase::TopPopup(), nullptr);
    ASSERT_TRUE(host_.Click(*UiLib::WindowImplBase::TopPopup(), "item_settings"));
    host_.PumpMessages();
    EXPECT_EQ(opened, std::vector<std::string>{"UISettingsWnd"});

    // Help, FAQ and Support open the user guide, About the home page; other numbers nothing.
    for (const char* item : {"item_help", "item_faq", "item_about", "item_support"}) {
        ASSERT_TRUE(host_.Click(main, "BtnMenu"));
        host_.PumpMessages();
        ASSERT_TRUE(host_.Click(*UiLib::WindowImplBase::TopPopup(), item)) << item;
        host_.PumpMessages();
    }
    UiLib::WindowImplBase::PostMessage(main.GetHWND(), tolvane::UM_OPEN_LINK, 3);
    host_.PumpMessages();
    const std::vector<std::wstring> urls = host_.OpenedUrls();
    ASSERT_EQ(urls.size(), 4u);
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_NE(urls[i].find(L"index.html"), std::wstring::npos) << i;
    }
    EXPECT_FALSE(urls[2].empty());
    EXPECT_FALSE(main.IsClosed());
}

TEST_F(MainWndTest, AMissingUsbmuxServiceShowsTheNoticeOnceAndTheWindowGoesOn) {
    muxEnv_ = std::make_unique<testenv::ScopedEnv>("USBMUXD_SOCKET_ADDRESS",
                                                   "UNIX:" + (dir_ / "no-such.sock"));
    std::vector<UiLib::Rect> notices;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() == "UICommonWnd") {
            notices.push_back(UiLib::OffscreenHost::StateOf(w).bounds);
            EXPECT_TRUE(host_.Click(w, "okbtn"));
        }
    });
    CMainWnd& main = OpenMain();
    host_.PumpMessages();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].Width(), 570);
    EXPECT_EQ(notices[0].Height(), 220);
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_TRUE(main.ConnectTimer().FireForTesting());
    EXPECT_EQ(Status(), L"Connect Fail");
    EXPECT_EQ(notices.size(), 1u);
}

TEST_F(MainWndTest, ASecondStartBringsTheFirstWindowForwardAndEndsWithZero) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    platform::SingleInstance first(tolvane::kInstanceName);
    ASSERT_FALSE(first.IsAnotherInstanceRunning());
    const UiLib::WindowHandle handle = main.GetHWND();
    first.ListenForShowRequests([handle] { UiLib::WindowImplBase::PostBringToFront(handle); });
    const int presentsBefore = UiLib::OffscreenHost::StateOf(main).presents;

    platform::SingleInstance second(tolvane::kInstanceName);
    EXPECT_EQ(tolvane::RunApplication(second), 0);
    EXPECT_TRUE(PumpUntil(
        [&] { return UiLib::OffscreenHost::StateOf(main).presents > presentsBefore; }, 5s));
    EXPECT_TRUE(popups_.empty());
}

TEST_F(MainWndTest, ASecondStartThatNobodyAnswersSaysTolvaneIsRunning) {
    platform::SingleInstance first(tolvane::kInstanceName);
    ASSERT_FALSE(first.IsAnotherInstanceRunning());  // holds the lock, listens to nobody
    DrivePopups();
    platform::SingleInstance second(tolvane::kInstanceName);
    EXPECT_EQ(tolvane::RunApplication(second), 0);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Tolvane is running.");
    EXPECT_EQ(popups_[0].bounds.Width(), 350);
    EXPECT_EQ(popups_[0].bounds.Height(), 180);
}

}  // namespace
}  // namespace uitest
