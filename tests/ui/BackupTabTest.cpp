// The backup tab and its progress window against the simulated phone: the modes, runs started by
// click, the result boxes, the cancel question, a phone that encrypts its backups.
#include <gtest/gtest.h>

#include <filesystem>

#include "UiLib/COptionUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/SkinCheck.h"
#include "store/DataCategory.h"
#include "tests/ui/MainWndFixture.h"
#include "ui/CProWndBackup.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;
using tolvane::CMainWnd;

class BackupTabTest : public MainWndTest {
  protected:
    UiLib::COptionUI* Option(const std::string& name) {
        return dynamic_cast<UiLib::COptionUI*>(main_->GetPaintManager().FindControl(name));
    }
    bool Selected(const std::string& name) { return Option(name)->IsSelected(); }

    static int Bar(UiLib::WindowImplBase& w) {
        auto* bar = dynamic_cast<UiLib::CProgressUI*>(w.GetPaintManager().FindControl("progress"));
        return bar != nullptr ? bar->GetValue() : -1;
    }

    // Opens the backup tab of a connected window.
    void OpenBackupTab() {
        OpenMain();
        Connect();
        ASSERT_TRUE(host_.Click(*main_, "BtnBackupPhone"));
        ASSERT_EQ(main_->CurrentTab(), 1);
    }
};

constexpr const char* kOthers[] = {"ChkCalendar_Backup", "ChkCallLog_Backup", "ChkApps_Backup",
                                   "ChkPhoto_Backup",    "ChkMusic_Backup",   "ChkVideo_Backup"};

TEST_F(BackupTabTest, PartialAndFullModesAndTheKeepOneRule) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    main.GoBackup();
    // The tab opens in partial mode with messages and contacts chosen.
    EXPECT_TRUE(Selected("RdPart_Backup"));
    EXPECT_TRUE(Selected("ChkSMS_Backup"));
    EXPECT_TRUE(Selected("ChkContacts_Backup"));
    for (const char* o : kOthers) {
        EXPECT_FALSE(Selected(o)) << o;
        EXPECT_FALSE(Option(o)->IsEnabled()) << o;
    }
    EXPECT_EQ(main.BackupPanel().ChosenCategories(), tolvane::Sms | tolvane::Contacts);
    ASSERT_TRUE(host_.Click(main, "ChkSMS_Backup"));
    EXPECT_FALSE(Selected("ChkSMS_Backup"));
    EXPECT_EQ(main.BackupPanel().ChosenCategories(), tolvane::Contacts);
    // Unselecting the last one selects it again at once.
    ASSERT_TRUE(host_.Click(main, "ChkContacts_Backup"));
    EXPECT_TRUE(Selected("ChkContacts_Backup"));
    EXPECT_EQ(main.BackupPanel().ChosenCategories(), tolvane::Contacts);
    ASSERT_TRUE(host_.Click(main, "ChkSMS_Backup"));
    ASSERT_TRUE(host_.Click(main, "ChkContacts_Backup"));
    EXPECT_FALSE(Selected("ChkContacts_Backup"));
    EXPECT_EQ(main.BackupPanel().ChosenCategories(), tolvane::Sms);

    // Full mode: every box selected and fixed; the categories are Full whatever they show.
    ASSERT_TRUE(host_.Click(main, "RdFull_Backup"));
    EXPECT_FALSE(Selected("RdPart_Backup"));
    for (const char* o : kOthers) {
        EXPECT_TRUE(Selected(o)) << o;
        EXPECT_FALSE(Option(o)->IsEnabled()) << o;
    }
    EXPECT_TRUE(Selected("ChkContacts_Backup"));
    EXPECT_FALSE(host_.Click(main, "ChkSMS_Backup")) << "disabled in full mode";
    EXPECT_EQ(main.BackupPanel().ChosenCategories(), tolvane::Full);

    // Back to partial: both chosen again, the others cleared and disabled.
    ASSERT_TRUE(host_.Click(main, "RdPart_Backup"));
    EXPECT_TRUE(Selected("ChkSMS_Backup"));
    EXPECT_TRUE(Selected("ChkContacts_Backup"));
    EXPECT_TRUE(Option("ChkSMS_Backup")->IsEnabled());
    for (const char* o : kOthers) {
        EXPECT_FALSE(Selected(o)) << o;
    }
    // The tab keeps its mode across tab switches.
    ASSERT_TRUE(host_.Click(main, "RdFull_Backup"));
    main.GoHome();
    main.GoBackup();
    EXPECT_TRUE(Selected("RdFull_Backup"));
}

TEST_F(BackupTabTest, AFullBackupByClickMovesTheBarForwardAndEndsAtHome) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    ServePhone(options);
    OpenBackupTab();
    ASSERT_TRUE(host_.Click(*main_, "RdFull_Backup"));
    std::vector<int> bars;
    std::vector<std::wstring> labels;
    std::string progressClass;
    UiLib::Rect progressBounds;
    bool timerStopped = true;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        progressClass = w.GetWindowClassName();
        progressBounds = UiLib::OffscreenHost::StateOf(w).bounds;
        timerStopped = timerStopped && !main_->ConnectTimer().IsRunning();
        const int v = Bar(w);
        if (bars.empty() || bars.back() != v) {
            bars.push_back(v);
            labels.push_back(TextOf(w, "LblPercent"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));

    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressDone);
    EXPECT_EQ(progressClass, "UIProWndBackup");
    EXPECT_EQ(progressBounds.Width(), 500);
    EXPECT_EQ(progressBounds.Height(), 250);
    EXPECT_TRUE(timerStopped) << "no connection check runs during the backup";
    EXPECT_TRUE(main_->ConnectTimer().IsRunning()) << "started again afterwards";
    ASSERT_GE(bars.size(), 2u);
    for (size_t i = 1; i < bars.size(); ++i) {
        EXPECT_GE(bars[i], bars[i - 1]) << "the bar never moves back";
    }
    EXPECT_GE(bars.back(), 90);
    EXPECT_EQ(labels.back(), std::to_wstring(bars.back()) + L"%");
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].title, L"Information");
    EXPECT_EQ(popups_[0].text, L"The selected data are backed up completely!");
    EXPECT_EQ(main_->CurrentTab(), 0) << "a successful run returns home";

    const auto backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(fs::exists(backups[0] / "fileinfo"));
    EXPECT_TRUE(fs::exists(backups[0] / phone_->Udid() / "Manifest.mbdb"));
    // The window reconnected after the run and the next check finds the phone.
    Tick();
    EXPECT_EQ(Status(), L"Connected");
}

TEST_F(BackupTabTest, AMessagesAndContactsBackupCopiesTheTwoDatabases) {
    ServePhone();
    OpenBackupTab();
    bool triedToClose = false;
    DrivePopups([&](UiLib::WindowImplBase&) {
        if (!triedToClose) {
            // Neither the window manager nor a posted close ends the main window mid-run.
            triedToClose = true;
            host_.RequestClose(*main_);
            UiLib::WindowImplBase::PostMessage(main_->GetHWND(), UiLib::WM_CLOSE, 1);
            host_.PumpMessages();
            EXPECT_FALSE(main_->IsClosed());
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_TRUE(triedToClose);
    EXPECT_FALSE(main_->IsClosed());
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressDone);
    const auto backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(fs::exists(backups[0] / "sms"));
    EXPECT_TRUE(fs::exists(backups[0] / "content"));
    EXPECT_TRUE(fs::exists(backups[0] / "fileinfo"));
    EXPECT_FALSE(fs::exists(backups[0] / phone_->Udid())) << "no full backup";
}

TEST_F(BackupTabTest, APhoneErrorIsShownWithThePhonesOwnText) {
    ServePhone({}, {"fail-backup=104:The phone ran out of patience"});
    OpenBackupTab();
    ASSERT_TRUE(host_.Click(*main_, "RdFull_Backup"));
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressFailed);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].title, L"Information");
    EXPECT_EQ(popups_[0].text, L"The phone ran out of patience");
    EXPECT_EQ(main_->CurrentTab(), 1) << "a failed run stays on the tab";
}

TEST_F(BackupTabTest, ARunThatFindsNoPhoneEndsAsALostPhoneNotAsDone) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_FALSE(main.Connected());
    DrivePopups();
    // The button is disabled without a phone; the phone may go between the check and the click.
    EXPECT_EQ(tolvane::RunBackupWindow(main, tolvane::Full, L""), tolvane::kProgressDeviceGone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Sorry, the iphone is disconnected!");
    EXPECT_TRUE(Backups().empty());
}

TEST_F(BackupTabTest, ThePhoneUnpluggedDuringTheRunEndsWithTheDisconnectedBox) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    ServePhone(options, {"unplug-after-bytes=1000000"});
    OpenBackupTab();
    ASSERT_TRUE(host_.Click(*main_, "RdFull_Backup"));
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressDeviceGone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Sorry, the iphone is disconnected!");
    EXPECT_FALSE(main_->Connected() && main_->ConnectState() == tolvane::kConnected);
}

TEST_F(BackupTabTest, AnsweringTheCancelQuestionWithCancelResumesTheRun) {
    testenv::PhoneOptions options;
    options.mediaMb = 3;
    ServePhone(options, {"rate=1"});
    OpenBackupTab();
    ASSERT_TRUE(host_.Click(*main_, "RdFull_Backup"));
    int stage = 0;
    beforeAnswer_ = [&](UiLib::WindowImplBase& box) {
        if (TextOf(box, "title") != L"Question") {
            return;
        }
        // The progress window hides while the question is open.
        UiLib::WindowImplBase* owner = box.GetOwner();
        ASSERT_NE(owner, nullptr);
        EXPECT_EQ(owner->GetWindowClassName(), "UIProWndBackup");
        EXPECT_FALSE(UiLib::OffscreenHost::StateOf(*owner).shown);
    };
    answers_ = {"cancelbtn", "closebtn"};
    DrivePopups([&](UiLib::WindowImplBase& w) {
        auto* progress = dynamic_cast<tolvane::CProgressWnd*>(&w);
        ASSERT_NE(progress, nullptr);
        if (progress->BarValue() < 1 || stage >= 2) {
            return;
        }
        if (stage++ == 0) {
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
        } else {
            host_.RequestClose(w);  // the window manager's close asks the same question
            host_.PumpMessages();
        }
        EXPECT_TRUE(UiLib::OffscreenHost::StateOf(w).shown) << "shown again";
        EXPECT_FALSE(progress->CancelRequested());
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_EQ(stage, 2);
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressDone);
    ASSERT_EQ(popups_.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(popups_[i].title, L"Question");
        EXPECT_EQ(popups_[i].text, L"Are you sure you want to cancel copying?");
        EXPECT_EQ(popups_[i].bounds.Width(), 500);
    }
    EXPECT_EQ(popups_[2].text, L"The selected data are backed up completely!");
    const auto backups = Backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(fs::exists(backups[0] / "fileinfo"));
}

TEST_F(BackupTabTest, ConfirmingTheCancelEndsTheRunWithTwoAndNoMessage) {
    testenv::PhoneOptions options;
    options.mediaMb = 3;
    ServePhone(options, {"rate=1"});
    OpenBackupTab();
    ASSERT_TRUE(host_.Click(*main_, "RdFull_Backup"));
    bool asked = false;
    answers_ = {"okbtn"};
    DrivePopups([&](UiLib::WindowImplBase& w) {
        auto* progress = dynamic_cast<tolvane::CProgressWnd*>(&w);
        ASSERT_NE(progress, nullptr);
        if (!asked && progress->BarValue() >= 1) {
            asked = true;
            EXPECT_TRUE(host_.Click(w, "closebtn"));
            EXPECT_TRUE(progress->CancelRequested());
            // Hidden until the worker's close ends it; a close from outside cannot end it.
            EXPECT_FALSE(UiLib::OffscreenHost::StateOf(w).shown);
            host_.RequestClose(w);
            host_.PumpMessages();
            EXPECT_FALSE(w.IsClosed()) << "no second question either";
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_TRUE(asked);
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressCancelled);
    ASSERT_EQ(popups_.size(), 1u) << "the question, and no result box";
    EXPECT_EQ(popups_[0].title, L"Question");
    for (const auto& b : Backups()) {
        EXPECT_FALSE(fs::exists(b / "fileinfo")) << "a cancelled backup is not catalogued";
    }
    EXPECT_TRUE(main_->ConnectTimer().IsRunning());
    EXPECT_EQ(main_->CurrentTab(), 1);
}

TEST_F(BackupTabTest, AnEncryptingPhoneAsksForItsPasswordFirst) {
    testenv::PhoneOptions options;
    options.backupPassword = "secret";
    ServePhone(options);
    OpenBackupTab();
    ASSERT_TRUE(main_->IsDeviceEncrypted());

    // A wrong password is asked again; Cancel starts nothing and leaves the timer running.
    int tries = 0;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() != "UIDecryptionWnd" ||
            !UiLib::OffscreenHost::StateOf(w).shown) {
            return;
        }
        if (tries++ == 0) {
            EXPECT_TRUE(host_.TypeText(w, "EditPassword", L"wrong"));
            EXPECT_TRUE(host_.Click(w, "BtnOK"));
        } else {
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_EQ(tries, 2);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Your iPhone device password is not correct, please retry again!");
    EXPECT_TRUE(Backups().empty());
    EXPECT_TRUE(main_->ConnectTimer().IsRunning());
    EXPECT_TRUE(main_->IsDeviceEncrypted());

    // The right password unlocks the phone, and the backup runs.
    popups_.clear();
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() == "UIDecryptionWnd" && UiLib::OffscreenHost::StateOf(w).shown &&
            TextOf(w, "EditPassword").empty()) {
            EXPECT_TRUE(host_.TypeText(w, "EditPassword", L"secret"));
            EXPECT_TRUE(host_.Click(w, "BtnOK"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyBackup"));
    EXPECT_EQ(main_->BackupPanel().LastResult(), tolvane::kProgressDone);
    EXPECT_EQ(main_->GetDevicePassword(), L"secret");
    // The run gave the phone its backup password back when it ended.
    EXPECT_TRUE(main_->IsDeviceEncrypted());
    EXPECT_TRUE(phone_->WillEncrypt());
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"The selected data are backed up completely!");
}

TEST(BackupSkin, TheProgressWindowsHaveTheControlsTheSharedPieceLooksUp) {
    ASSERT_TRUE(tolvane::UseProgramSkin());
    for (const char* layout :
         {"xml\\ProWndBackup.xml", "xml\\ProWndRestore.xml", "xml\\ProWndImport.xml"}) {
        EXPECT_TRUE(UiLib::MissingControlNames(
                        layout, {"progress", "LblPercent", "LblFigures", "BtnCancel", "closebtn"})
                        .empty())
            << layout;
    }
    EXPECT_TRUE(UiLib::MissingStyles("xml\\skin.xml", {"ConnectOK", "Connecting", "LblConnectOK",
                                                       "LblConnectError", "LblConnectInfo"})
                    .empty());
}

}  // namespace
}  // namespace uitest
