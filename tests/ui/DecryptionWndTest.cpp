// The password window against a simulated phone that encrypts its backups and against an
// encrypted backup folder: wrong passwords are asked again, the right one is stored in the main
// window, Cancel and the close button leave everything as it was. A backup's password is checked
// while the window goes on handling events and shows the tool's progress; a close during the
// check stops it without leaving plain copies behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "UiLib/CProgressUI.h"
#include "UiLib/OffscreenHost.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/ui/DialogsSupport.h"
#include "tests/ui/LockHolder.h"
#include "ui/CDecryptionWnd.h"
#include "ui/CMessageBox.h"

namespace tolvane {
namespace {

using UiLib::OffscreenHost;
using UiLib::WindowImplBase;

std::wstring TextOf(WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr ? c->GetText() : L"<missing>";
}

// A step that waits for `ready` (other threads), failing the test once 30 s have gone by.
std::function<bool()> WaitFor(std::function<bool()> ready, const char* what) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    return [ready = std::move(ready), until, what] {
        if (ready()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > until) {
            ADD_FAILURE() << "waited in vain for " << what;
            return true;
        }
        return false;
    };
}

bool Enabled(WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr && c->IsEnabled();
}

bool Visible(WindowImplBase& wnd, const std::string& name) {
    UiLib::CControlUI* c = wnd.GetPaintManager().FindControl(name);
    return c != nullptr && c->IsVisible();
}

class DecryptionWndTest : public uitest::DialogTest {
  protected:
    // Puts a shell script in place of the decryption tool beside the program; it counts its
    // runs in RunsFile().
    void InstallTool(const std::string& body) {
        const std::string path = ProgramFolder() + "tool";
        platform::DeleteFile(path);
        testenv::WriteFile(path, "#!/bin/sh\necho run >> '" + RunsFile() + "'\n" + body);
        chmod(path.c_str(), 0755);
    }
    std::string RunsFile() const { return program_.Path() + "/runs"; }
    int ToolRuns() const {
        if (!platform::FileExists(RunsFile())) {
            return 0;
        }
        const std::string text = testenv::ReadFile(RunsFile());
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    // Nothing but folders left in the tool's output folder.
    static bool NoPlainCopyLeft() {
        const std::string out = tolvane::BackupToolOutputFolder();
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(out, ec)) {
            if (!e.is_directory()) {
                return false;
            }
        }
        return true;
    }
    void OpenForBackup(CDecryptionWnd& wnd, const std::string& folder) {
        wnd.SetMainWnd(&Main());
        wnd.SetMode(CDecryptionWnd::kBackup);
        wnd.SetBackupFolder(folder);
        ASSERT_NE(wnd.Create(&Main(), 500, 240), 0u);
    }

    // A wrong password typed and confirmed; the message box that follows is checked and closed.
    std::vector<std::function<bool()>> WrongPasswordSteps(CDecryptionWnd& wnd,
                                                          const std::wstring& typed,
                                                          const std::wstring& expectedText) {
        return {
            [&wnd, this, typed] {
                EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", typed));
                // The phone's check returns once the box has closed; a backup's check at once.
                EXPECT_TRUE(host_.Click(wnd, "BtnOK"));
                return true;
            },
            // A backup's check runs on the window's worker: its message comes when it ends.
            WaitFor([&wnd] { return WindowImplBase::TopModal() != &wnd; }, "the message"),
            [&wnd, this, expectedText] {
                WindowImplBase* box = WindowImplBase::TopModal();
                EXPECT_NE(box, &wnd);
                if (box == nullptr || box == &wnd) {
                    return true;
                }
                EXPECT_EQ(box->GetWindowClassName(), "UIMessageBox");
                EXPECT_EQ(box->GetSkinFile(), "xml\\MessageBox_Information.xml");
                EXPECT_EQ(TextOf(*box, "title"), L"Information");
                EXPECT_EQ(TextOf(*box, "message"), expectedText);
                EXPECT_EQ(OffscreenHost::StateOf(*box).bounds.Width(), 500);
                EXPECT_EQ(OffscreenHost::StateOf(*box).bounds.Height(), 220);
                EXPECT_FALSE(OffscreenHost::StateOf(wnd).shown);  // stepped aside
                EXPECT_FALSE(wnd.IsClosed());
                return host_.Click(*box, "okbtn");
            },
            [&wnd] {
                // Back, empty, for another try.
                EXPECT_TRUE(OffscreenHost::StateOf(wnd).shown);
                EXPECT_EQ(TextOf(wnd, "EditPassword"), L"");
                EXPECT_EQ(wnd.GetPassword(), L"");
                return true;
            },
        };
    }
};

TEST_F(DecryptionWndTest, TheDevicePasswordIsAskedAgainUntilItIsRightAndThenStored) {
    testenv::PhoneOptions options;
    options.backupPassword = "1234";
    testenv::SimulatedPhone phone(options);
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    ASSERT_EQ(willEncrypt, 1);

    auto& main = Main();
    main.engine = &engine;
    main.deviceEncrypted = true;
    main.backupPassword = L"older";
    CDecryptionWnd wnd;
    wnd.SetMainWnd(&main);
    ASSERT_NE(wnd.Create(&main, 500, 240), 0u);

    std::vector<std::function<bool()>> steps = {[&] {
        EXPECT_EQ(TextOf(wnd, "TxtDescription"),
                  L"The iPhone device is encrypted. Please enter the password here to unlock it.");
        EXPECT_EQ(TextOf(wnd, "LblPassword"), L"Password:");
        const auto state = OffscreenHost::StateOf(wnd);
        EXPECT_EQ(state.bounds.Width(), 500);
        EXPECT_EQ(state.bounds.Height(), 240);
        EXPECT_FALSE(main.IsInputEnabled());
        // Escape and Enter do not close the password window.
        host_.PressKey(wnd, UiLib::VK_ESCAPE);
        host_.PumpMessages();
        EXPECT_FALSE(wnd.IsClosed());
        return true;
    }};
    for (const std::wstring& wrong : {std::wstring(L"4321"), std::wstring(L"")}) {
        for (auto& step : WrongPasswordSteps(
                 wnd, wrong, L"Your iPhone device password is not correct, please retry again!")) {
            steps.push_back(step);
        }
    }
    steps.push_back([&] {
        EXPECT_TRUE(main.deviceEncrypted);  // nothing stored for a wrong password
        EXPECT_EQ(main.backupPassword, L"older");
        EXPECT_TRUE(phone.WillEncrypt());
        EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"1234"));
        EXPECT_TRUE(host_.Click(wnd, "BtnOK"));
        return true;
    });
    Script(steps);
    EXPECT_EQ(wnd.ShowModal(), 1u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_EQ(wnd.GetPassword(), L"1234");
    EXPECT_EQ(main.devicePassword, L"1234");
    EXPECT_EQ(main.backupPassword, L"1234");  // also tried first for encrypted backups
    EXPECT_FALSE(main.deviceEncrypted);
    EXPECT_EQ(main.engineCalls, 3);
    EXPECT_FALSE(phone.WillEncrypt());  // the phone stopped encrypting its backups
    EXPECT_TRUE(main.IsInputEnabled());
}

TEST_F(DecryptionWndTest, CancelAndTheCloseButtonEndWithTwoWithoutAskingAnything) {
    auto& main = Main();
    main.deviceEncrypted = true;
    for (const char* button : {"BtnCancel", "closebtn"}) {
        SCOPED_TRACE(button);
        CDecryptionWnd wnd;
        wnd.SetMainWnd(&main);
        wnd.Create(&main, 500, 240);
        Script({[&] {
            EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"typed"));
            return host_.Click(wnd, button);
        }});
        EXPECT_EQ(wnd.ShowModal(), 2u);
        EXPECT_EQ(main.engineCalls, 0);  // the phone was never asked
        EXPECT_TRUE(main.deviceEncrypted);
        EXPECT_EQ(main.devicePassword, L"");
        EXPECT_EQ(main.backupPassword, L"");
    }
    CDecryptionWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 500, 240);
    Script({[&] {
        host_.RequestClose(wnd);
        return true;
    }});
    EXPECT_EQ(wnd.ShowModal(), 2u);
    EXPECT_EQ(main.engineCalls, 0);
}

TEST_F(DecryptionWndTest, AGonePhoneIsReportedAsGoneNotAsAWrongPassword) {
    testenv::PhoneOptions options;
    options.backupPassword = "1234";
    auto phone = std::make_unique<testenv::SimulatedPhone>(options);
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    phone.reset();  // unplugged

    auto& main = Main();
    main.engine = &engine;
    main.deviceEncrypted = true;
    CDecryptionWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.Create(&main, 500, 240);
    auto steps = WrongPasswordSteps(wnd, L"1234", L"Sorry, the iphone is disconnected!");
    steps.push_back([&] { return host_.Click(wnd, "BtnCancel"); });
    Script(steps);
    EXPECT_EQ(wnd.ShowModal(), 2u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_TRUE(main.deviceEncrypted);
    EXPECT_EQ(main.devicePassword, L"");
}

TEST_F(DecryptionWndTest, AnEncryptedBackupsPasswordIsCheckedByDecryptingIt) {
    const std::string folder = home_.Home() + "/itunes/0123456789abcdef0123456789abcdef01234567";
    testenv::BackupOptions options;
    options.password = "pass word";
    options.iterations = 10;
    testenv::WriteBackupFolder(
        folder, {testenv::SmsDatabase("sms"), testenv::ContactsDatabase("contacts")}, options);

    auto& main = Main();
    main.devicePassword = L"device";
    CDecryptionWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.SetMode(CDecryptionWnd::kBackup);
    wnd.SetBackupFolder(folder);
    wnd.Create(&main, 500, 240);
    std::vector<std::function<bool()>> steps = {[&] {
        EXPECT_EQ(TextOf(wnd, "TxtDescription"),
                  L"The selected iTunes backup file is encrypted. Please enter the password here "
                  L"to unlock it.");
        return true;
    }};
    for (auto& step : WrongPasswordSteps(
             wnd, L"password",
             L"The selected iTunes backup file password is not correct, please retry again!")) {
        steps.push_back(step);
    }
    steps.push_back([&] {
        EXPECT_EQ(main.backupPassword, L"");
        EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"pass word"));
        return host_.Click(wnd, "BtnOK");
    });
    Script(steps, true);
    EXPECT_EQ(wnd.ShowModal(), 1u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_EQ(main.backupPassword, L"pass word");
    EXPECT_EQ(main.devicePassword, L"device");  // the device's password is another matter
    EXPECT_EQ(main.engineCalls, 0);
}

TEST_F(DecryptionWndTest, ABackupThatCannotBeCheckedSaysSoInsteadOfBlamingThePassword) {
    const std::string folder = home_.Home() + "/itunes/broken";
    testenv::WriteFile(folder + "/Info.plist", "not a backup");  // no Manifest files at all
    auto& main = Main();
    CDecryptionWnd wnd;
    wnd.SetMainWnd(&main);
    wnd.SetMode(CDecryptionWnd::kBackup);
    wnd.SetBackupFolder(folder);
    wnd.Create(&main, 500, 240);
    auto steps = WrongPasswordSteps(wnd, L"secret",
                                    L"The selected iTunes backup file is incomplete: its key "
                                    L"files are missing, so it cannot be unlocked.");
    steps.push_back([&] { return host_.Click(wnd, "closebtn"); });
    Script(steps);
    EXPECT_EQ(wnd.ShowModal(), 2u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_EQ(main.backupPassword, L"");
}

// --- a backup's check on the window's worker ---------------------------------------------------

// The tool's end once the password has been read: "right" leaves both databases.
std::string ToolVerdict() {
    return std::string("[ \"$pw\" = right ] || { echo 'Wrong password'; exit 0; }\n") +
           "printf m > \"$2/" + kSmsDatabaseName + "\"\nprintf c > \"$2/" + kContactsDatabaseName +
           "\"\n";
}

class BackupCheckTest : public DecryptionWndTest {
  protected:
    BackupCheckTest() {
        testenv::BackupOptions options;
        options.password = "right";
        options.iterations = 10;
        testenv::WriteBackupFolder(
            folder_, {testenv::SmsDatabase("sms"), testenv::ContactsDatabase("contacts")}, options);
    }
    // The window run with its script set: "right" is taken, checked by one run of the tool.
    void ExpectRightPasswordTakenAfterOneRun(CDecryptionWnd& wnd) {
        EXPECT_EQ(wnd.ShowModal(), 1u);
        EXPECT_EQ(PendingSteps(), 0u);
        EXPECT_EQ(Main().backupPassword, L"right");
        EXPECT_EQ(ToolRuns(), 1);
        EXPECT_TRUE(NoPlainCopyLeft());
    }
    const std::string folder_ = home_.Home() + "/itunes/0123456789abcdef0123456789abcdef01234567";
};

TEST_F(BackupCheckTest, TheWindowGoesOnDuringTheCheckAndShowsTheDerivation) {
    const std::string go = program_.Path() + "/go";
    // A long derivation: 10 %, then nothing until the test lets it go on.
    InstallTool(
        "IFS= read -r pw\n"
        "echo 'Deriving the password key (10000000 rounds)'\n"
        "echo 'Deriving the password key: 10%'\n"
        "i=0; while [ ! -e '" +
        go +
        "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); "
        "done\n"
        "echo 'Deriving the password key: 100%'\n" +
        ToolVerdict());
    CDecryptionWnd wnd;
    OpenForBackup(wnd, folder_);
    EXPECT_FALSE(Visible(wnd, "LblCheckState") || Visible(wnd, "PrgCheck"));
    Script({
               [&] {
                   EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"right"));
                   EXPECT_TRUE(host_.Click(wnd, "BtnOK"));
                   return true;
               },
               WaitFor([&] { return wnd.CheckPercent() == 10; }, "the first figure"),
               [&] {
                   // This step runs on the window's own loop while the tool waits.
                   host_.PumpMessages();
                   EXPECT_TRUE(wnd.Checking());
                   EXPECT_FALSE(wnd.IsClosed());
                   EXPECT_FALSE(Enabled(wnd, "BtnOK"));
                   EXPECT_FALSE(Enabled(wnd, "EditPassword"));
                   EXPECT_TRUE(Enabled(wnd, "BtnCancel"));
                   EXPECT_TRUE(Visible(wnd, "LblCheckState") && Visible(wnd, "PrgCheck"));
                   EXPECT_EQ(TextOf(wnd, "LblCheckState"), L"Deriving the password key: 10%");
                   auto* bar = dynamic_cast<UiLib::CProgressUI*>(
                       wnd.GetPaintManager().FindControl("PrgCheck"));
                   EXPECT_TRUE(bar != nullptr && bar->GetValue() == 10);
                   // Laid out where they can be seen: between the password and the buttons.
                   wnd.GetPaintManager().UpdateLayout();
                   const UiLib::Rect edit =
                       wnd.GetPaintManager().FindControl("EditPassword")->GetPos();
                   const UiLib::Rect ok = wnd.GetPaintManager().FindControl("BtnOK")->GetPos();
                   for (const char* name : {"LblCheckState", "PrgCheck"}) {
                       const UiLib::Rect r = wnd.GetPaintManager().FindControl(name)->GetPos();
                       EXPECT_GT(r.Width(), 0) << name;
                       EXPECT_GT(r.Height(), 0) << name;
                       EXPECT_GE(r.top, edit.bottom) << name;
                       EXPECT_LE(r.bottom, ok.top) << name;
                   }
                   // A second OK meanwhile starts nothing.
                   host_.Click(wnd, "BtnOK");
                   EXPECT_EQ(Main().backupPassword, L"");
                   testenv::WriteFile(go, "");
                   return true;
               },
           },
           true);
    ExpectRightPasswordTakenAfterOneRun(wnd);
}

TEST_F(BackupCheckTest, ACheckThatWaitsForAnotherProcessSaysSoThenGoesOn) {
    InstallTool(std::string("IFS= read -r pw\n") + ToolVerdict());
    uitest::LockHolder other;
    ASSERT_TRUE(other.Held());
    CDecryptionWnd wnd;
    OpenForBackup(wnd, folder_);
    Script({
               [&] {
                   EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"right"));
                   EXPECT_TRUE(host_.Click(wnd, "BtnOK"));
                   return true;
               },
               WaitFor(
                   [&] {
                       host_.PumpMessages();
                       return TextOf(wnd, "LblCheckState") == tolvane::kCheckWaitingText;
                   },
                   "the wait shown"),
               [&] {
                   EXPECT_TRUE(wnd.Checking());
                   EXPECT_TRUE(Visible(wnd, "LblCheckState"));
                   EXPECT_EQ(ToolRuns(), 0) << "nothing decrypted while the other one runs";
                   other.Release();
                   return true;
               },
           },
           true);
    ExpectRightPasswordTakenAfterOneRun(wnd);
}

TEST_F(BackupCheckTest, AClosedWindowStopsItsCheckAndLeavesNoPlainCopy) {
    // Half the output written, then a derivation that would go on for half a minute.
    InstallTool(std::string("printf m > \"$2/") + kSmsDatabaseName + "\"\n" +
                "echo 'Deriving the password key: 20%'\nexec sleep 30\n");
    for (const char* how : {"BtnCancel", "closebtn", "window manager"}) {
        SCOPED_TRACE(how);
        CDecryptionWnd wnd;
        OpenForBackup(wnd, folder_);
        Script({
                   [&] {
                       EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"right"));
                       return host_.Click(wnd, "BtnOK");
                   },
                   WaitFor([&] { return wnd.CheckPercent() == 20; }, "the figure"),
                   [&] {
                       EXPECT_FALSE(NoPlainCopyLeft());  // what the close must not leave behind
                       if (std::string(how) == "window manager") {
                           host_.RequestClose(wnd);
                       } else {
                           EXPECT_TRUE(host_.Click(wnd, how));
                       }
                       return true;
                   },
               },
               true);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(wnd.ShowModal(), 2u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(PendingSteps(), 0u);
        EXPECT_FALSE(wnd.Checking());
        EXPECT_TRUE(NoPlainCopyLeft());
        EXPECT_EQ(Main().backupPassword, L"");
    }
    EXPECT_EQ(ToolRuns(), 3);
}

TEST_F(BackupCheckTest, AKnownPasswordIsTriedFirstAndOnlyARefusedOneIsAskedFor) {
    InstallTool("IFS= read -r pw\n" + ToolVerdict());
    {
        CDecryptionWnd wnd;
        wnd.SetPasswordToTry(L"right");
        OpenForBackup(wnd, folder_);
        Script({}, true);
        EXPECT_EQ(wnd.ShowModal(), 1u);  // nothing typed, nothing clicked
        EXPECT_EQ(Main().backupPassword, L"right");
        EXPECT_EQ(ToolRuns(), 1);
    }
    Main().backupPassword = L"";
    CDecryptionWnd wnd;
    wnd.SetPasswordToTry(L"stale");
    OpenForBackup(wnd, folder_);
    Script(
        {
            WaitFor([&] { return !wnd.Checking() && Enabled(wnd, "EditPassword"); }, "the refusal"),
            [&] {
                // Asked without a message: the user did not type the stale password.
                EXPECT_EQ(WindowImplBase::TopModal(), &wnd);
                EXPECT_EQ(TextOf(wnd, "EditPassword"), L"");
                EXPECT_FALSE(Visible(wnd, "LblCheckState") || Visible(wnd, "PrgCheck"));
                EXPECT_EQ(Main().backupPassword, L"");
                EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", L"right"));
                return host_.Click(wnd, "BtnOK");
            },
        },
        true);
    EXPECT_EQ(wnd.ShowModal(), 1u);
    EXPECT_EQ(PendingSteps(), 0u);
    EXPECT_EQ(Main().backupPassword, L"right");
    EXPECT_EQ(ToolRuns(), 3);
    EXPECT_TRUE(NoPlainCopyLeft());
}

}  // namespace
}  // namespace tolvane
