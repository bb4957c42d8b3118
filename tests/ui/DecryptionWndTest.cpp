// The password window against a simulated phone that encrypts its backups and against an
// encrypted backup folder: wrong passwords are asked again, the right one is stored in the main
// window, Cancel and the close button leave everything as it was.
#include <gtest/gtest.h>

#include <string>

#include "UiLib/OffscreenHost.h"
#include "engine/BackupEngine.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/ui/DialogsSupport.h"
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

class DecryptionWndTest : public uitest::DialogTest {
  protected:
    // A wrong password typed and confirmed; the message box that follows is checked and closed.
    std::vector<std::function<bool()>> WrongPasswordSteps(CDecryptionWnd& wnd,
                                                          const std::wstring& typed,
                                                          const std::wstring& expectedText) {
        return {
            [&wnd, this, typed] {
                EXPECT_TRUE(host_.TypeText(wnd, "EditPassword", typed));
                EXPECT_TRUE(host_.Click(wnd, "BtnOK"));  // returns once the box has closed
                return true;
            },
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
    Script(steps);
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

}  // namespace
}  // namespace tolvane
