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

// Last: it brings Xlib, whose macros (None, Status) gtest's own headers use as names.
#include "tests/ui/GtkWalkSupport.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;

std::string ProgramUnderTest() {
    const char* other = std::getenv("TOLVANE_WALK_PROGRAM");
    return other != nullptr && other[0] != '\0' ? std::string(other) : std::string(TOLVANE_PROGRAM);
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

class GtkWalkTest : public GtkWalkFixture {
  protected:
    std::string ArtifactFolder() const override { return "ui-walk"; }

    // A control of the main window's tab `tab`, or of a popup of `size` centred on it.
    Spot MainSpot(const std::string& control, int tab) {
        return CenterOf("xml\\skin.xml", kMainW, kMainH, control, tab);
    }
    Spot PopupSpot(const std::string& skin, int w, int h, const std::string& control) {
        const Spot in = CenterOf(skin, w, h, control);
        return {(kMainW - w) / 2 + in.x, (kMainH - h) / 2 + in.y};
    }
    void Click(Spot spot) { ClickAt(spot.x, spot.y); }
    // The program's window is up and the phone is connected at the check after the first attempt
    // (call with ASSERT_NO_FATAL_FAILURE).
    void WaitUntilConnected(Child& app, const std::string& log) {
        ASSERT_TRUE(app.Started());
        ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
        ASSERT_TRUE(
            WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s))
            << ReadText(log);
        std::this_thread::sleep_for(300ms);
    }
    static constexpr int kMainW = 900, kMainH = 600;
};

TEST_F(GtkWalkTest, AFullBackupClickedFromTheWindowThenASecondStartAndTheClose) {
    testenv::SimulatedPhone phone;
    const std::string log = dir_ / "tolvane.log";
    Child app({ProgramUnderTest()}, log);
    ASSERT_NO_FATAL_FAILURE(WaitUntilConnected(app, log));
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

// Log-out in the middle of a backup: the run stops as a Ctrl-C stops tolvanectl's (nothing of
// the unfinished backup is left, the phone's sync lock is released) and the program ends with 0
// without a second signal.
TEST_F(GtkWalkTest, AskedToEndDuringABackupStopsTheRunCleansUpAndEnds) {
    testenv::PhoneOptions options;
    options.mediaMb = 24;
    testenv::SimulatedPhone phone(options, {"rate=2"});  // about 12 s of transfer
    const std::string log = dir_ / "tolvane.log";
    Child app({ProgramUnderTest()}, log);
    ASSERT_NO_FATAL_FAILURE(WaitUntilConnected(app, log));
    ClickAt(444, 241);  // the backup tile
    ClickAt(422, 251);  // "Full Backup"
    ClickAt(779, 537);  // "Start Copy"
    const fs::path root = fs::path(home_.Home()) / "Documents" / "TolvaneiPhoneBackup";
    // Into the transfer (the phone's figure says little: it counts files, and the large ones
    // come first), a few megabytes of the 24 sent.
    ASSERT_TRUE(WaitFor([&] { return ReadText(log).find("nProcess:") != std::string::npos; }, 60s))
        << ReadText(log);
    std::this_thread::sleep_for(2s);
    Shot("20-backup-running");
    app.Signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(app.WaitExit(30s), std::optional<int>(0)) << ReadText(log);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 10s) << "the run was not sat out";
    std::vector<std::string> left;
    if (fs::exists(root)) {
        for (const auto& e : fs::directory_iterator(root)) {
            left.push_back(e.path().filename().string());
        }
    }
    EXPECT_EQ(left, std::vector<std::string>{}) << "the unfinished backup is removed";
    size_t acquired = 0, released = 0;
    for (const std::string& line : phone.Events()) {
        acquired += line.rfind("lock acquired", 0) == 0 ? 1 : 0;
        released += line.rfind("lock released", 0) == 0 ? 1 : 0;
        EXPECT_EQ(line.rfind("backup finished", 0), std::string::npos) << line;
    }
    EXPECT_GT(acquired, 0u);
    EXPECT_EQ(released, acquired) << "every sync lock taken was released";
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
