// What the window tests share: an isolated home, the offscreen host with the program's skin,
// timers that tick only when a test fires them, the simulated phone (or a usbmux socket nobody
// answers on), the main window, and a driver that answers the popups of modal runs.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UiLib/OffscreenHost.h"
#include "UiLib/TDuiTimer.h"
#include "UiLib/WindowImplBase.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/DialogsSupport.h"
#include "ui/CMainWnd.h"
#include "ui/Startup.h"
#include "ui/WindowSettings.h"

namespace uitest {

using namespace std::chrono_literals;

// A popup that appeared during a modal run, as the driver saw it.
struct SeenPopup {
    std::string windowClass;
    std::wstring title;
    std::wstring text;
    UiLib::Rect bounds;
};

inline std::wstring TextOf(UiLib::WindowImplBase& window, const std::string& control) {
    UiLib::CControlUI* c = window.GetPaintManager().FindControl(control);
    return c != nullptr
               ? c->GetText()
               : std::wstring(L"<missing " + std::wstring(control.begin(), control.end()) + L">");
}

class MainWndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UiLib::DuiTimerCore::SetManualForTesting(true);
        ASSERT_TRUE(tolvane::UseProgramSkin());
        // A program folder of the test's own, with the shipped settings and language file.
        testenv::WriteFile(program_ / "config.ini", ShippedResource("config.ini"));
        testenv::WriteFile(program_ / "Languages/English.ini",
                           ShippedResource("Languages/English.ini"));
        settings_ = std::make_unique<tolvane::AppSettings>(program_.Path() + "/");
        tolvane::SetWindowSettingsForTesting(settings_.get());
        host_.SetModalTimeout(120s);
    }

    void TearDown() override {
        CloseMain();
        host_.SetIdleHandler({});
        UiLib::DuiTimerCore::SetManualForTesting(false);
        tolvane::SetWindowSettingsForTesting(nullptr);
        if (deadFd_ >= 0) {
            close(deadFd_);
        }
    }

    // A phone served on a temporary socket.
    void ServePhone(testenv::PhoneOptions options = {}, std::vector<std::string> faults = {}) {
        phone_ = std::make_unique<testenv::SimulatedPhone>(std::move(options), std::move(faults));
    }

    // A usbmux socket that exists (the service check passes) but refuses every connection.
    void DeadMuxSocket() {
        const std::string path = dir_ / "dead.sock";
        deadFd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        ASSERT_EQ(bind(deadFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        muxEnv_ = std::make_unique<testenv::ScopedEnv>("USBMUXD_SOCKET_ADDRESS", "UNIX:" + path);
    }

    tolvane::CMainWnd& OpenMain() {
        main_ = std::make_unique<tolvane::CMainWnd>();
        main_->SetDeleteOnClose(false);
        main_->SetQuitOnClose(false);
        EXPECT_NE(main_->Create(nullptr, "Tolvane", 0, 0, 0, 0), 0u);
        main_->CenterWindow();
        main_->ShowWindow(true);
        host_.PumpMessages();
        return *main_;
    }

    // The backup folders made in the window's backup folder.
    std::vector<std::filesystem::path> Backups() {
        std::vector<std::filesystem::path> out;
        const std::filesystem::path root = main_->BackupFolder();
        if (std::filesystem::exists(root)) {
            for (const auto& e : std::filesystem::directory_iterator(root)) {
                if (e.is_directory()) {
                    out.push_back(e.path());
                }
            }
        }
        return out;
    }

    void CloseMain() {
        if (main_ && !main_->IsClosed()) {
            UiLib::WindowImplBase::PostMessage(main_->GetHWND(), UiLib::WM_CLOSE, 1);
            PumpUntil([&] { return main_->IsClosed(); }, 30s);
        }
        main_.reset();
    }

    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            host_.PumpFor(5ms);
        }
        return true;
    }

    // The connection attempt the window started has ended.
    bool WaitForAttempt() {
        host_.PumpMessages();
        return PumpUntil([&] { return main_->ConnectIdle(); });
    }

    // One check of the connect timer, then the messages it posted.
    void Tick() {
        ASSERT_TRUE(main_->ConnectTimer().FireForTesting());
        host_.PumpMessages();
    }

    // Connected: the first attempt and the check after it.
    void Connect() {
        ASSERT_TRUE(WaitForAttempt());
        Tick();
        ASSERT_EQ(main_->ConnectState(), tolvane::kConnected);
    }

    std::wstring Status() { return TextOf(*main_, "LblStatus"); }
    bool Enabled(const std::string& name) {
        UiLib::CControlUI* c = main_->GetPaintManager().FindControl(name);
        return c != nullptr && c->IsEnabled();
    }

    // Answers the popups of modal runs: message boxes with the next queued button (okbtn when
    // none is queued), and calls `onProgress` while a progress window runs.
    void DrivePopups(std::function<void(UiLib::WindowImplBase&)> onProgress = {}) {
        host_.SetIdleHandler([this, onProgress] {
            UiLib::WindowImplBase* top = UiLib::WindowImplBase::TopModal();
            if (top == nullptr) {
                return false;
            }
            if (top->GetWindowClassName() == "UIMessageBox") {
                if (seenHandles_.empty() || seenHandles_.back() != top->GetHWND()) {
                    seenHandles_.push_back(top->GetHWND());
                    popups_.push_back({top->GetWindowClassName(), TextOf(*top, "title"),
                                       TextOf(*top, "message"),
                                       UiLib::OffscreenHost::StateOf(*top).bounds});
                }
                if (beforeAnswer_) {
                    beforeAnswer_(*top);
                }
                std::string button = "okbtn";
                if (!answers_.empty()) {
                    button = answers_.front();
                    answers_.erase(answers_.begin());
                }
                EXPECT_TRUE(host_.Click(*top, button)) << button;
                return true;
            }
            if (onProgress) {
                onProgress(*top);
            }
            return false;
        });
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"tolvane-ui"};
    testenv::TempDir program_{"tolvane-program"};
    std::unique_ptr<tolvane::AppSettings> settings_;
    UiLib::OffscreenHost host_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::unique_ptr<testenv::ScopedEnv> muxEnv_;
    int deadFd_ = -1;
    std::unique_ptr<tolvane::CMainWnd> main_;
    std::vector<SeenPopup> popups_;
    std::vector<UiLib::WindowHandle> seenHandles_;
    std::vector<std::string> answers_;  // buttons for the next message boxes
    std::function<void(UiLib::WindowImplBase&)> beforeAnswer_;
};

}  // namespace uitest
