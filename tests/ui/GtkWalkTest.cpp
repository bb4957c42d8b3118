// A walk of the real program under Xvfb: start tolvane against the simulated phone, wait for
// "Connected", click the backup tile, "Full Backup", "Start Copy", see the backup folder with its
// catalogue file, start a second instance (exits 0), close with the caption button (exits 0).
// The screen of each step is kept as a PNG in $TOLVANE_TEST_ARTIFACTS (default
// $TMPDIR/tolvane-gui-artifacts/ui-walk). $TOLVANE_WALK_PROGRAM walks another build of the program
// (an installed one: scripts/package-smoke.sh), by default the one built here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "UiLib/CTabLayoutUI.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/WindowImplBase.h"
#include "platform/Folders.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"
#include "ui/Startup.h"

// Last: Xlib defines macros (None, Status) that gtest's own headers use as names.
#include <X11/Xlib.h>
#include <cairo-xlib.h>

extern char** environ;

namespace uitest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A child process with its output in a file.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::string& logPath) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !exit_) {
            kill(pid_, SIGTERM);  // lets Xvfb remove its lock file
            if (!WaitExit(3s)) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    bool Started() const { return pid_ > 0; }
    void Signal(int sig) { kill(pid_, sig); }
    // The exit code once it has ended within `timeout`; nothing while it runs.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!exit_ && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        return exit_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> exit_;
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

std::string ProgramUnderTest() {
    const char* other = std::getenv("TOLVANE_WALK_PROGRAM");
    return other != nullptr && other[0] != '\0' ? std::string(other) : std::string(TOLVANE_PROGRAM);
}

std::string ReadText(const std::string& path) {
    return fs::exists(path) ? testenv::ReadFile(path) : std::string();
}

// Where a control of a layout lies, as the framework lays it out: the layout is built in the
// offscreen host at its window's size (the same layout code the program runs), and the centre of
// the control is read back.
class LayoutProbe : public UiLib::WindowImplBase {
  public:
    explicit LayoutProbe(std::string skin) : skin_(std::move(skin)) {}
    std::string GetSkinFile() override { return skin_; }
    std::string GetWindowClassName() const override { return "LayoutProbe"; }

  private:
    std::string skin_;
};

struct Spot {
    int x = -1, y = -1;
};

Spot CenterOf(const std::string& skin, int width, int height, const std::string& control,
              int tab = -1) {
    UiLib::OffscreenHost host;
    EXPECT_TRUE(tolvane::UseProgramSkin());
    LayoutProbe probe(skin);
    probe.Create(nullptr, "probe", 0, 0, width, height);
    probe.ShowWindow(true);
    host.PumpMessages();
    if (tab >= 0) {
        auto* tabs =
            dynamic_cast<UiLib::CTabLayoutUI*>(probe.GetPaintManager().FindControl("TabMain"));
        EXPECT_NE(tabs, nullptr);
        tabs->SelectItem(tab);
        host.PumpMessages();
    }
    cairo_surface_destroy(host.Render(probe));  // lays the window out as a paint does
    Spot spot;
    if (UiLib::CControlUI* c = probe.GetPaintManager().FindControl(control)) {
        const UiLib::Rect r = c->GetPos();
        spot = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    EXPECT_GT(spot.x, 0) << control;
    probe.Close();
    host.PumpMessages();
    return spot;
}

class GtkWalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access("/usr/bin/Xvfb", X_OK) != 0 || access("/usr/bin/xdotool", X_OK) != 0) {
            GTEST_SKIP() << "needs Xvfb and xdotool";
        }
        for (int n = 120 + getpid() % 60; n < 250 && !display_; ++n) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                continue;
            }
            const std::string name = ":" + std::to_string(n);
            xvfb_ = std::make_unique<Child>(
                std::vector<std::string>{"/usr/bin/Xvfb", name, "-screen", "0", "1280x1024x24",
                                         "-nolisten", "tcp"},
                dir_ / "xvfb.log");
            if (WaitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); }, 5s)) {
                display_ = name;
            }
        }
        ASSERT_TRUE(display_) << "no Xvfb";
        displayEnv_ = std::make_unique<testenv::ScopedEnv>("DISPLAY", *display_);
        // The bare Xvfb has no accessibility bus; the toolkit's bridge to it would only add a
        // D-Bus connection whose buffers the leak checker reports at exit.
        noBridgeEnv_ = std::make_unique<testenv::ScopedEnv>("NO_AT_BRIDGE", "1");
        const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
        const char* tmp = std::getenv("TMPDIR");
        artifacts_ = artifacts != nullptr ? std::string(artifacts) + "/ui-walk"
                                          : std::string(tmp != nullptr ? tmp : "/tmp") +
                                                "/tolvane-gui-artifacts/ui-walk";
        fs::create_directories(artifacts_);
    }

    // The whole screen into artifacts/<name>.png.
    void Shot(const std::string& name) {
        Display* d = XOpenDisplay(display_->c_str());
        ASSERT_NE(d, nullptr);
        const int s = DefaultScreen(d);
        const Window root = RootWindow(d, s);
        XWindowAttributes a;
        XGetWindowAttributes(d, root, &a);
        cairo_surface_t* src =
            cairo_xlib_surface_create(d, root, DefaultVisual(d, s), a.width, a.height);
        cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, a.width, a.height);
        cairo_t* cr = cairo_create(img);
        cairo_set_source_surface(cr, src, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        const std::string path = artifacts_ + "/" + name + ".png";
        EXPECT_EQ(cairo_surface_write_to_png(img, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(img);
        cairo_surface_destroy(src);
        XCloseDisplay(d);
    }

    static std::string Xdo(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        return testenv::RunProgram(argv, {}, 5000).output;
    }

    // The top-left corner of the main window on the screen.
    bool FindMainWindow(int& x, int& y) {
        const std::string ids = Xdo({"search", "--onlyvisible", "--name", "^Tolvane$"});
        const std::string id = ids.substr(0, ids.find('\n'));
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const std::string geo = Xdo({"getwindowgeometry", "--shell", id});
        const auto value = [&](const std::string& key) {
            const size_t at = geo.find(key + "=");
            return at == std::string::npos ? -1 : std::atoi(geo.c_str() + at + key.size() + 1);
        };
        x = value("X");
        y = value("Y");
        return x >= 0 && y >= 0;
    }

    // A control of the main window's tab `tab`, or of a popup of `size` centred on it.
    Spot MainSpot(const std::string& control, int tab) {
        return CenterOf("xml\\skin.xml", kMainW, kMainH, control, tab);
    }
    Spot PopupSpot(const std::string& skin, int w, int h, const std::string& control) {
        const Spot in = CenterOf(skin, w, h, control);
        return {(kMainW - w) / 2 + in.x, (kMainH - h) / 2 + in.y};
    }
    void Click(Spot spot) { ClickAt(spot.x, spot.y); }
    static constexpr int kMainW = 900, kMainH = 600;

    // A click at a point of the main window (layout coordinates).
    void ClickAt(int wx, int wy) {
        Xdo({"mousemove", std::to_string(x_ + wx), std::to_string(y_ + wy)});
        std::this_thread::sleep_for(150ms);
        Xdo({"click", "1"});
        std::this_thread::sleep_for(300ms);
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"tolvane-walk"};
    std::unique_ptr<Child> xvfb_;
    std::optional<std::string> display_;
    std::unique_ptr<testenv::ScopedEnv> displayEnv_;
    std::unique_ptr<testenv::ScopedEnv> noBridgeEnv_;
    std::string artifacts_;
    int x_ = 0, y_ = 0;
};

TEST_F(GtkWalkTest, AFullBackupClickedFromTheWindowThenASecondStartAndTheClose) {
    testenv::SimulatedPhone phone;
    const std::string log = dir_ / "tolvane.log";
    Child app({ProgramUnderTest()}, log);
    ASSERT_TRUE(app.Started());

    // The window comes up and the phone is connected at the check after the first attempt.
    ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
    ASSERT_TRUE(WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s))
        << ReadText(log);
    std::this_thread::sleep_for(300ms);
    Shot("01-connected");

    // The backup tile, "Full Backup", "Start Copy".
    ClickAt(444, 241);
    Shot("02-backup-tab");
    ClickAt(422, 251);
    Shot("03-full-backup");
    ClickAt(779, 537);
    const fs::path root = fs::path(home_.Home()) / "Documents" / "TolvaneiPhoneBackup";
    fs::path backup;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (!fs::exists(root)) {
                return false;
            }
            for (const auto& e : fs::directory_iterator(root)) {
                if (fs::exists(e.path() / "fileinfo")) {
                    backup = e.path();
                    return true;
                }
            }
            return false;
        },
        60s))
        << ReadText(log);
    EXPECT_TRUE(fs::exists(backup / phone.Udid() / "Manifest.mbdb"));
    std::this_thread::sleep_for(800ms);
    Shot("04-backed-up");
    ClickAt(625, 379);  // "OK" of the result box, centred on the window
    std::this_thread::sleep_for(300ms);
    Shot("05-home-again");

    // A second start asks the first to show itself and ends with 0.
    Child second({ProgramUnderTest()}, dir_ / "second.log");
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitExit(15s), std::optional<int>(0)) << ReadText(dir_ / "second.log");
    Shot("06-after-second-start");

    // The caption's close button ends the program with 0.
    ClickAt(879, 19);
    EXPECT_EQ(app.WaitExit(15s), std::optional<int>(0)) << ReadText(log);
    Shot("07-closed");
}

TEST_F(GtkWalkTest, AskedToEndFromOutsideTheProgramClosesItsWindowAndEndsWithZero) {
    testenv::SimulatedPhone phone;
    const std::string log = dir_ / "tolvane.log";
    Child app({ProgramUnderTest()}, log);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
    ASSERT_TRUE(
        WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s));
    app.Signal(SIGTERM);  // log-out
    EXPECT_EQ(app.WaitExit(15s), std::optional<int>(0)) << ReadText(log);
}

int64_t Count(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    int64_t n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW) {
            n = sqlite3_column_int64(st, 0);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

// The restore tab walked by clicks: the own backup is chosen, its contacts viewed, then only
// its messages restored; the phone's message database is the backup's afterwards and its
// contacts are untouched.
TEST_F(GtkWalkTest, ViewTheContactsOfAnOwnBackupThenRestoreOnlyItsMessages) {
    testenv::SimulatedPhone phone;
    const std::string sms = phone.DeviceDir() + "/files/HomeDomain/Library/SMS/sms.db";
    const std::string contacts =
        phone.DeviceDir() + "/files/HomeDomain/Library/AddressBook/AddressBook.sqlitedb";
    const fs::path backup =
        fs::path(home_.Home()) / "Documents" / "TolvaneiPhoneBackup" / "2024-01-03-10-00-00";
    testenv::WriteFile(backup / "fileinfo",
                       "6\r\n2024-01-03-10-00-00\r\nWalk iPhone(iPhone 7.1.2)");
    testenv::WriteFile(backup / "sms", testenv::ReadFile(sms));
    testenv::WriteFile(backup / "content", testenv::ReadFile(contacts));
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((backup / "sms").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(db, "delete from message where ROWID % 3 = 0;", nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string backupSms = testenv::ReadFile(backup / "sms");
    const std::string phoneContacts = testenv::ReadFile(contacts);
    ASSERT_NE(testenv::ReadFile(sms), backupSms);

    // Where the controls are.
    const Spot tile = MainSpot("BtnRestoreFromBackup", 0);
    const Spot viewContacts = MainSpot("BtnViewContacts_Restore", 2);
    const Spot contactsBox = MainSpot("ChkContacts_Restore", 2);
    const Spot start = MainSpot("BtnCopyRestore", 2);
    const Spot viewerOk = PopupSpot("xml\\ViewWnd.xml", 550, 350, "BtnOK");
    const Spot boxOk = PopupSpot("xml\\MessageBox_Information.xml", 500, 220, "okbtn");

    const std::string log = dir_ / "tolvane.log";
    Child app({TOLVANE_PROGRAM}, log);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
    ASSERT_TRUE(WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s))
        << ReadText(log);
    std::this_thread::sleep_for(300ms);

    Click(tile);
    std::this_thread::sleep_for(500ms);
    Shot("11-restore-tab");

    // The viewer lists the contacts; its OK closes it.
    Click(viewContacts);
    std::this_thread::sleep_for(2500ms);
    Shot("12-viewer-contacts");
    Click(viewerOk);
    std::this_thread::sleep_for(500ms);
    Shot("13-viewer-closed");

    // Only the messages: the contacts box unticked, then "Start Copy".
    Click(contactsBox);
    Shot("14-messages-only");
    Click(start);
    std::this_thread::sleep_for(1000ms);
    Shot("15-restoring");
    ASSERT_TRUE(WaitFor([&] { return testenv::ReadFile(sms) == backupSms; }, 90s)) << ReadText(log);
    std::this_thread::sleep_for(1500ms);
    Shot("16-restored");
    Click(boxOk);
    std::this_thread::sleep_for(500ms);
    Shot("17-home-again");
    EXPECT_EQ(testenv::ReadFile(sms), backupSms);
    EXPECT_EQ(testenv::ReadFile(contacts), phoneContacts);
    EXPECT_GT(Count(sms, "select count(*) from message"), 0);

    ClickAt(879, 19);
    EXPECT_EQ(app.WaitExit(15s), std::optional<int>(0)) << ReadText(log);
}

// An encrypted backup of the other program, restored whole by clicks: the password window
// refuses a wrong password with its message and asks again; with the right one the phone gets
// the backup back.
TEST_F(GtkWalkTest, RestoreAnEncryptedLibraryBackupAfterAWrongPassword) {
    testenv::SimulatedPhone phone;
    const std::string parent = platform::ItunesBackupFolder();
    fs::create_directories(parent);
    const testenv::CommandRun written = testenv::RunProgram(
        {testenv::SimulatedPhone::ProgramPath(), "write-backup", phone.DeviceDir(), parent,
         "--encrypt", "secret", "--date", "2015-03-07T18:05:09Z"},
        {}, 60000);
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const std::string sms = phone.DeviceDir() + "/files/HomeDomain/Library/SMS/sms.db";
    const int64_t messages = Count(sms, "select count(*) from message");
    ASSERT_GT(messages, 0);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(sms.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "delete from message;", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    const Spot tile = MainSpot("BtnRestoreFromiTunes", 0);
    const Spot start = MainSpot("BtnCopyRestore", 2);
    const Spot edit = PopupSpot("xml\\DecryptionWnd.xml", 500, 240, "EditPassword");
    const Spot passwordOk = PopupSpot("xml\\DecryptionWnd.xml", 500, 240, "BtnOK");
    const Spot boxOk = PopupSpot("xml\\MessageBox_Information.xml", 500, 220, "okbtn");

    const std::string log = dir_ / "tolvane.log";
    Child app({TOLVANE_PROGRAM}, log);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
    ASSERT_TRUE(WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s))
        << ReadText(log);
    std::this_thread::sleep_for(300ms);

    Click(tile);
    std::this_thread::sleep_for(500ms);
    Shot("21-library-backups");
    Click(start);
    std::this_thread::sleep_for(800ms);
    Shot("22-password-window");
    Click(edit);
    Xdo({"type", "--delay", "40", "wrong"});
    Click(passwordOk);
    std::this_thread::sleep_for(2500ms);  // the decryption tool refuses it
    Shot("23-wrong-password");
    Click(boxOk);
    std::this_thread::sleep_for(500ms);
    Click(edit);
    Xdo({"key", "ctrl+a", "BackSpace"});
    Xdo({"type", "--delay", "40", "secret"});
    Shot("24-right-password");
    Click(passwordOk);
    ASSERT_TRUE(
        WaitFor([&] { return Count(sms, "select count(*) from message") == messages; }, 120s))
        << ReadText(log);
    std::this_thread::sleep_for(2000ms);
    Shot("25-restored");
    Click(boxOk);
    std::this_thread::sleep_for(500ms);
    Shot("26-home-again");
    bool restored = false;
    for (const std::string& line : phone.Events()) {
        restored = restored || line.rfind("restore started", 0) == 0;
    }
    EXPECT_TRUE(restored);

    ClickAt(879, 19);
    EXPECT_EQ(app.WaitExit(15s), std::optional<int>(0)) << ReadText(log);
}

}  // namespace
}  // namespace uitest
