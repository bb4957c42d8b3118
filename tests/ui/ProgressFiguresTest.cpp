// The line under the progress bar: the bytes, the speed and the time left of a run, throttled so
// that it can be read; and the wait for another process's operation, shown there and cancellable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OperationLock.h"
#include "store/DataCategory.h"
#include "tests/ui/LockHolder.h"
#include "tests/ui/MainWndFixture.h"
#include "ui/CProWndBackup.h"
#include "ui/CProWndImport.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;
using tolvane::CMainWnd;
using tolvane::DescribeProgressFigures;
using tolvane::DescribeTimeLeft;
using tolvane::ProgressDetails;

ProgressDetails Figures(int percent, uint64_t bytes, double speed, int64_t left) {
    ProgressDetails d;
    d.percent = percent;
    d.bytes = bytes;
    d.bytesPerSecond = speed;
    d.secondsLeft = left;
    return d;
}

TEST(ProgressFigures, BytesSpeedAndTimeLeftReadAsAUserWouldSayThem) {
    EXPECT_EQ(DescribeProgressFigures(Figures(25, 1234000000, 18.4e6, 125)),
              L"1.2 GB \u00b7 18.4 MB/s \u00b7 about 2 min left");
    EXPECT_EQ(DescribeProgressFigures(Figures(3, 830400, 2100, 4000)),
              L"830 kB \u00b7 2 kB/s \u00b7 about 1 h 7 min left");
    EXPECT_EQ(DescribeProgressFigures(Figures(1, 512, 12.7, -1)), L"512 bytes \u00b7 12 bytes/s");
    // A restore sends rather than receives: only the time left is known.
    EXPECT_EQ(DescribeProgressFigures(Figures(50, 0, 0, 44)), L"about 45 s left");
    // Nothing known yet.
    EXPECT_EQ(DescribeProgressFigures(Figures(0, 0, 0, -1)), tolvane::kFiguresEstimating);

    EXPECT_EQ(DescribeTimeLeft(0), L"almost done");
    EXPECT_EQ(DescribeTimeLeft(9), L"almost done");
    EXPECT_EQ(DescribeTimeLeft(10), L"about 10 s left");
    EXPECT_EQ(DescribeTimeLeft(52), L"about 50 s left");
    EXPECT_EQ(DescribeTimeLeft(58), L"about 1 min left");
    EXPECT_EQ(DescribeTimeLeft(89), L"about 1 min left");
    EXPECT_EQ(DescribeTimeLeft(90), L"about 2 min left");
    EXPECT_EQ(DescribeTimeLeft(3599), L"about 1 h left");
    EXPECT_EQ(DescribeTimeLeft(7200 + 30 * 60), L"about 2 h 30 min left");
}

// A progress window whose run reports the figures the test gives it, one at a time, through the
// callback and user data the engine is given.
class ScriptedRunWnd : public tolvane::CProgressWnd {
  public:
    ScriptedRunWnd(CMainWnd& main, std::vector<ProgressDetails> steps)
        : CProgressWnd(main, "xml\\ProWndBackup.xml", "UIProWndBackup"), steps_(std::move(steps)) {}

    std::atomic<int> allowed{0};   // how many steps the worker may report
    std::atomic<int> reported{0};  // how many it has reported
    std::atomic<bool> sawCallbackSet{false};

  protected:
    uint32_t Categories() const override { return tolvane::Full; }
    // Step i is reported once `allowed` exceeds i; the run ends once it exceeds the last step,
    // so that the test has seen the window with the last figures before it closes.
    int32_t RunOperation(tolvane::BackupEngine&, bool) override {
        for (size_t i = 0; i <= steps_.size(); ++i) {
            const auto end = std::chrono::steady_clock::now() + 30s;
            while (allowed.load() <= static_cast<int>(i)) {
                if (std::chrono::steady_clock::now() > end) {
                    return -5;
                }
                std::this_thread::sleep_for(1ms);
            }
            if (i == steps_.size()) {
                break;
            }
            if (FiguresCallbackOf(&State(), steps_[i], 1) != 0) {
                return -5;
            }
            reported = static_cast<int>(i) + 1;
        }
        return 0;
    }

  private:
    std::vector<ProgressDetails> steps_;
};

class ProgressFiguresTest : public MainWndTest {};

TEST_F(ProgressFiguresTest, TheLineShowsTheFiguresOfTheRunAtMostTwiceASecond) {
    ServePhone();
    OpenMain();
    Connect();
    const ProgressDetails first = Figures(25, 1234000000, 18.4e6, 125);
    const ProgressDetails second = Figures(26, 1300000000, 18.1e6, 120);
    const ProgressDetails third = Figures(40, 2000000000, 19.9e6, 95);
    ScriptedRunWnd window(*main_, {first, second, third});
    int stage = 0;
    std::chrono::steady_clock::time_point secondAt;
    std::vector<std::wstring> seen;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (&w != &window) {
            return;
        }
        const std::wstring label = TextOf(w, "LblFigures");
        if (seen.empty() || seen.back() != label) {
            seen.push_back(label);
        }
        switch (stage) {
            case 0:
                EXPECT_EQ(label, tolvane::kFiguresEstimating) << "before the first figures";
                window.allowed = 1;
                stage = 1;
                break;
            case 1:
                if (window.reported >= 1) {
                    EXPECT_EQ(label, DescribeProgressFigures(first));
                    EXPECT_EQ(window.FiguresText(), label);
                    window.allowed = 2;
                    stage = 2;
                }
                break;
            case 2:
                if (window.reported >= 2) {
                    // Right after the first: the line keeps what it shows.
                    EXPECT_EQ(label, DescribeProgressFigures(first));
                    secondAt = std::chrono::steady_clock::now();
                    stage = 3;
                }
                break;
            case 3:
                if (std::chrono::steady_clock::now() - secondAt > 600ms) {
                    window.allowed = 3;
                    stage = 4;
                }
                break;
            case 4:
                if (window.reported >= 3) {
                    EXPECT_EQ(label, DescribeProgressFigures(third));
                    window.allowed = 4;
                    stage = 5;
                }
                break;
            default:
                break;
        }
    });
    const UiLib::UINT result = tolvane::RunProgressWindow(*main_, window, 500, 250,
                                                          {L"The run is done", L"The run failed"});
    EXPECT_EQ(result, tolvane::kProgressDone);
    EXPECT_EQ(stage, 5);
    EXPECT_EQ(seen, (std::vector<std::wstring>{tolvane::kFiguresEstimating,
                                               DescribeProgressFigures(first),
                                               DescribeProgressFigures(third)}));
}

TEST_F(ProgressFiguresTest, ABackupOfTheSimulatedPhoneShowsItsBytesSpeedAndTimeLeft) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    ServePhone(options, {"rate=2"});
    OpenMain();
    Connect();
    std::vector<std::wstring> seen;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() != "UIProWndBackup") {
            return;
        }
        const std::wstring label = TextOf(w, "LblFigures");
        if (seen.empty() || seen.back() != label) {
            seen.push_back(label);
        }
    });
    EXPECT_EQ(tolvane::RunBackupWindow(*main_, tolvane::Full, L""), tolvane::kProgressDone);
    ASSERT_FALSE(seen.empty());
    // "1.9 MB · 1.8 MB/s · about 10 s left": some line has all three, with the link's units.
    const std::wregex full(
        LR"(^[0-9.]+ (bytes|kB|MB) \u00b7 [0-9.]+ (bytes|kB|MB)/s \u00b7 (almost done|about .* left)$)");
    bool sawFull = false;
    for (const std::wstring& s : seen) {
        sawFull = sawFull || std::regex_match(s, full);
    }
    EXPECT_TRUE(sawFull) << "lines seen: " << seen.size();
    // At most twice a second over a run of a few seconds, plus the first and the estimate.
    EXPECT_LT(seen.size(), 40u);
}

// How long a test waits for the waiting line before it lets the other operation end.
constexpr auto kGiveUp = 20s;

TEST_F(ProgressFiguresTest, AWaitForAnotherProcessIsShownAndTheRunGoesOnOnceItHasEnded) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    ServePhone(options, {"rate=2"});
    OpenMain();
    Connect();
    LockHolder other;
    ASSERT_TRUE(other.Held());
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::wstring> seen;
    bool cancelEnabledWhileWaiting = false;
    auto waitingSince = std::chrono::steady_clock::time_point::max();
    DrivePopups([&](UiLib::WindowImplBase& w) {
        auto* progress = dynamic_cast<tolvane::CProgressWnd*>(&w);
        if (progress == nullptr) {
            return;
        }
        const std::wstring label = TextOf(w, "LblFigures");
        if (seen.empty() || seen.back() != label) {
            seen.push_back(label);
        }
        if (label == tolvane::kFiguresWaiting &&
            waitingSince == std::chrono::steady_clock::time_point::max()) {
            waitingSince = std::chrono::steady_clock::now();
            cancelEnabledWhileWaiting = progress->CancelEnabled();
        }
        // The other operation ends a moment after the wait was shown (or, should the wait
        // never show, after a while, so that the run ends and the test reports it).
        if (std::chrono::steady_clock::now() - waitingSince > 500ms ||
            std::chrono::steady_clock::now() - start > kGiveUp) {
            other.Release();
        }
    });
    EXPECT_EQ(tolvane::RunBackupWindow(*main_, tolvane::Full, L""), tolvane::kProgressDone);
    // The window may open straight into the wait; the line then moves on once the lock is had.
    ASSERT_NE(std::find(seen.begin(), seen.end(), tolvane::kFiguresWaiting), seen.end());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), tolvane::kFiguresWaiting), 1);
    EXPECT_TRUE(cancelEnabledWhileWaiting);
    EXPECT_NE(seen.back(), tolvane::kFiguresWaiting) << "the line moves on once the lock is had";
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"The selected data are backed up completely!");
    EXPECT_EQ(Backups().size(), 1u);
}

TEST_F(ProgressFiguresTest, CancelDuringTheWaitEndsTheRunWithoutTouchingThePhone) {
    ServePhone();
    OpenMain();
    Connect();
    LockHolder other;
    ASSERT_TRUE(other.Held());
    answers_ = {"okbtn"};  // yes, cancel
    bool clicked = false;
    std::chrono::steady_clock::time_point clickedAt;
    const auto start = std::chrono::steady_clock::now();
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (std::chrono::steady_clock::now() - start > kGiveUp) {
            other.Release();  // the wait never showed: let the run end, and the test fail
        }
        if (!clicked && w.GetWindowClassName() == "UIProWndBackup" &&
            TextOf(w, "LblFigures") == tolvane::kFiguresWaiting) {
            clicked = true;
            clickedAt = std::chrono::steady_clock::now();
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
        }
    });
    EXPECT_EQ(tolvane::RunBackupWindow(*main_, tolvane::Full, L""), tolvane::kProgressCancelled);
    ASSERT_TRUE(clicked);
    EXPECT_LT(std::chrono::steady_clock::now() - clickedAt, 10s) << "given up within seconds";
    ASSERT_EQ(popups_.size(), 1u) << "the question, and no result box";
    EXPECT_EQ(popups_[0].title, L"Question");
    EXPECT_TRUE(Backups().empty());
}

TEST_F(ProgressFiguresTest, AnImportWaitsForAnotherProcessWithTheSameLine) {
    ServePhone();
    OpenMain();
    Connect();
    LockHolder other;
    ASSERT_TRUE(other.Held());
    bool waited = false;
    const auto start = std::chrono::steady_clock::now();
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (std::chrono::steady_clock::now() - start > kGiveUp) {
            other.Release();
        }
        if (w.GetWindowClassName() == "UIProWndImport" &&
            TextOf(w, "LblFigures") == tolvane::kFiguresWaiting) {
            waited = true;
            other.Release();
        }
    });
    // A file that does not exist: once the lock is had, the import fails at once.
    const std::wstring missing = L"/nonexistent/tolvane-sms.csv";
    tolvane::RunImportWindow(*main_, tolvane::Sms, L"", missing, L"");
    EXPECT_TRUE(waited);
}

}  // namespace
}  // namespace uitest
