// The import tab and its progress window against the simulated phone: the fields and their tip
// texts, the open-file dialog, imports started by click (what the phone holds afterwards), the
// two phases of a run, cancel, a phone that encrypts its backups, a lost phone, a refused file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "UiLib/CEditUI.h"
#include "UiLib/SkinCheck.h"
#include "store/DataCategory.h"
#include "tests/support/TestEnv.h"
#include "tests/tools/RealSchemaDb.h"
#include "tests/ui/ImportFilesSupport.h"
#include "tests/ui/MainWndFixture.h"
#include "ui/CProWndImport.h"
#include "ui/CVrtWndImport.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;
using tolvane::CMainWnd;
using tolvane::CProWndImport;
using UiLib::ChooserRequest;

constexpr const wchar_t* kNothingChosen = L"Please select back file first!";
constexpr const wchar_t* kImported = L"The selected data are imported completely!";
constexpr const wchar_t* kNotImported = L"Sorry, the selected data are imported unsuccessfully!";
constexpr const wchar_t* kAnalyzing =
    L"Analyzing your iOS device, it will take some time, please wait...";
constexpr const wchar_t* kRestoring =
    L"Restoring your iOS device, it will take some time, please wait...";

class ImportTabTest : public MainWndTest {
  protected:
    UiLib::CEditUI* Edit(const std::string& name) {
        return dynamic_cast<UiLib::CEditUI*>(main_->GetPaintManager().FindControl(name));
    }

    // Opens the import tab of a connected window by its home card.
    void OpenImportTab() {
        OpenMain();
        Connect();
        ASSERT_TRUE(host_.Click(*main_, "BtnImport"));
        ASSERT_EQ(main_->CurrentTab(), 3);
    }

    // Picks `path` for a field through its button and the open-file dialog.
    void Choose(const std::string& button, const std::string& path) {
        host_.QueueChoice(std::wstring(path.begin(), path.end()));
        ASSERT_TRUE(host_.Click(*main_, button));
    }

    std::string PhoneSms() const { return phone_->FilePath("HomeDomain", kPhoneSmsPath); }
    std::string PhoneContacts() const { return phone_->FilePath("HomeDomain", kPhoneContactsPath); }
    size_t Events(const std::string& prefix) const {
        const auto events = phone_->Events();
        return static_cast<size_t>(std::count_if(
            events.begin(), events.end(), [&](auto& line) { return line.rfind(prefix, 0) == 0; }));
    }
    uint32_t LastResult() { return main_->ImportPanel().LastResult(); }

    // What the idle handler saw of a running import window.
    struct Watch {
        std::vector<int> bars;
        std::vector<int> phases;
        std::vector<std::wstring> tips;
        bool sawRestorePhase = false;
        bool cancelEnabledInRestore = false;  // a cancel button enabled while the phone is written
        bool questionInRestore = false;
        bool timerRan = false;
        std::string windowClass;
        UiLib::Rect bounds;
    };
    void WatchImport(Watch& watch) {
        DrivePopups([this, &watch](UiLib::WindowImplBase& w) {
            auto* window = dynamic_cast<CProWndImport*>(&w);
            if (window == nullptr) {
                return;
            }
            watch.windowClass = w.GetWindowClassName();
            watch.bounds = UiLib::OffscreenHost::StateOf(w).bounds;
            watch.timerRan = watch.timerRan || main_->ConnectTimer().IsRunning();
            const int bar = window->BarValue();
            if (watch.bars.empty() || watch.bars.back() != bar) {
                watch.bars.push_back(bar);
            }
            const int phase = window->ImportPhase();
            if (watch.phases.empty() || watch.phases.back() != phase) {
                watch.phases.push_back(phase);
            }
            const std::wstring tips = TextOf(w, "LblTips");
            if (watch.tips.empty() || watch.tips.back() != tips) {
                watch.tips.push_back(tips);
            }
            if (phase == 2 && !window->WorkerDone()) {
                watch.sawRestorePhase = true;
                for (const char* name : {"BtnCancel", "closebtn"}) {
                    UiLib::CControlUI* c = w.GetPaintManager().FindControl(name);
                    watch.cancelEnabledInRestore =
                        watch.cancelEnabledInRestore || c == nullptr || c->IsEnabled();
                }
                // Neither the buttons nor the window manager's close ask the question now.
                EXPECT_FALSE(host_.Click(w, "BtnCancel"));
                host_.RequestClose(w);
                host_.PumpMessages();
                watch.questionInRestore =
                    watch.questionInRestore || window->QuestionOpen() || window->CancelRequested();
            }
        });
    }
};

TEST_F(ImportTabTest, AFieldHoldingItsTipTextCountsAsEmpty) {
    ServePhone();
    OpenImportTab();
    CMainWnd& main = *main_;
    tolvane::CVrtWndImport& tab = main.ImportPanel();
    EXPECT_EQ(Edit("EditSMS")->GetTipValue(), L"SMS file");
    EXPECT_EQ(Edit("EditContact")->GetTipValue(), L"Contact file");
    EXPECT_EQ(Edit("EditSMS")->GetMaxChar(), 256);
    EXPECT_EQ(tab.ChosenCategories(), 0u);

    // Both empty: the box, and nothing starts.
    DrivePopups();
    ASSERT_TRUE(host_.Click(main, "BtnCopyImport"));
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].title, L"Information");
    EXPECT_EQ(popups_[0].text, kNothingChosen);
    EXPECT_EQ(popups_[0].bounds.Width(), 500);
    EXPECT_EQ(popups_[0].bounds.Height(), 220);

    // Both holding exactly their tip texts: still nothing chosen.
    ASSERT_TRUE(host_.TypeText(main, "EditSMS", L"SMS file"));
    ASSERT_TRUE(host_.TypeText(main, "EditContact", L"Contact file"));
    EXPECT_EQ(TextOf(main, "EditSMS"), L"SMS file");
    EXPECT_EQ(tab.ChosenCategories(), 0u);
    ASSERT_TRUE(host_.Click(main, "BtnCopyImport"));
    ASSERT_EQ(popups_.size(), 2u);
    EXPECT_EQ(popups_[1].text, kNothingChosen);
    EXPECT_EQ(LastResult(), 0u);
    EXPECT_EQ(Events("backup started"), 0u) << "the phone was not touched";

    // A text that merely starts like the tip is a file name; the other field adds nothing.
    Edit("EditSMS")->SetText(L"SMS file.csv");
    EXPECT_EQ(tab.ChosenCategories(), tolvane::Sms);
    Edit("EditSMS")->SetText(L"SMS file");
    Edit("EditContact")->SetText(L"/tmp/contacts.csv");
    EXPECT_EQ(tab.ChosenCategories(), tolvane::Contacts);
    Edit("EditSMS")->SetText(L"/tmp/sms.csv");
    EXPECT_EQ(tab.ChosenCategories(), tolvane::Sms | tolvane::Contacts);

    // Entering the tab again empties both fields.
    main.GoHome();
    main.GoImport();
    EXPECT_EQ(TextOf(main, "EditSMS"), L"");
    EXPECT_EQ(TextOf(main, "EditContact"), L"");
    EXPECT_EQ(tab.ChosenCategories(), 0u);
}

TEST_F(ImportTabTest, TheOpenFileDialogFillsItsFieldAndEnablesTheStart) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    main.GoImport();
    EXPECT_FALSE(Enabled("BtnCopyImport"));

    // Cancelling the dialog changes nothing.
    ASSERT_TRUE(host_.Click(main, "BtnImportSMS"));
    EXPECT_EQ(TextOf(main, "EditSMS"), L"");
    EXPECT_FALSE(Enabled("BtnCopyImport"));

    // A path longer than the field lets a user type is kept whole.
    const std::wstring longPath = L"/data/" + std::wstring(300, L'x') + L"/sms.csv";
    host_.QueueChoice(longPath);
    ASSERT_TRUE(host_.Click(main, "BtnImportSMS"));
    EXPECT_EQ(TextOf(main, "EditSMS"), longPath);
    EXPECT_TRUE(Enabled("BtnCopyImport"));
    host_.QueueChoice(L"/data/AddressBook.sqlitedb");
    ASSERT_TRUE(host_.Click(main, "BtnImportContact"));
    EXPECT_EQ(TextOf(main, "EditContact"), L"/data/AddressBook.sqlitedb");
    // Cancelling a second time keeps the chosen file.
    ASSERT_TRUE(host_.Click(main, "BtnImportContact"));
    EXPECT_EQ(TextOf(main, "EditContact"), L"/data/AddressBook.sqlitedb");

    const auto calls = host_.ChooserCalls();
    ASSERT_EQ(calls.size(), 4u);
    ChooserRequest sms;
    sms.kind = ChooserRequest::Kind::OpenFile;
    sms.title = L"Open";
    sms.filterName = L"SMS files (*.*)";
    sms.pattern = L"*.*";
    EXPECT_EQ(calls[0].request, sms);
    EXPECT_EQ(calls[1].request, sms);
    ChooserRequest contacts = sms;
    contacts.filterName = L"Contact files (*.*)";
    EXPECT_EQ(calls[2].request, contacts);
    for (const auto& call : calls) {
        EXPECT_EQ(call.owner, main.GetNativeWindow()) << "owned by the main window";
    }
}

TEST_F(ImportTabTest, AnSmsExportGoesOntoThePhoneByClickAndTheBoxTellsWhatWasAdded) {
    ServePhone();
    OpenImportTab();
    Rows exported;
    const std::string csv = WriteMessageExport(dir_.Path(), 12, 3001, &exported);
    ASSERT_FALSE(csv.empty());
    ASSERT_EQ(exported.size(), 12u);
    const Rows messagesBefore = testkit::DumpRows(PhoneSms(), kMessageRows);
    const std::string contactsBefore = testenv::ReadFile(PhoneContacts());
    ASSERT_EQ(messagesBefore.size(), 40u);

    Choose("BtnImportSMS", csv);
    EXPECT_EQ(main_->ImportPanel().ChosenCategories(), tolvane::Sms) << "the tip text adds nothing";
    Watch watch;
    WatchImport(watch);
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));

    EXPECT_EQ(LastResult(), tolvane::kProgressDone);
    EXPECT_EQ(watch.windowClass, "UIProWndImport");
    EXPECT_EQ(watch.bounds.Width(), 500);
    EXPECT_EQ(watch.bounds.Height(), 300);
    EXPECT_FALSE(watch.timerRan) << "no connection check during the import";
    EXPECT_TRUE(main_->ConnectTimer().IsRunning());
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].title, L"Information");
    EXPECT_EQ(popups_[0].text, std::wstring(kImported) + L"\nmessages: 12 added");
    EXPECT_EQ(main_->CurrentTab(), 0) << "a successful import returns home";

    // The phone holds its own messages and exactly the exported ones; contacts untouched.
    EXPECT_EQ(testkit::DumpRows(PhoneSms(), kMessageRows), JoinedRows(messagesBefore, exported));
    EXPECT_EQ(testenv::ReadFile(PhoneContacts()), contactsBefore);
    EXPECT_EQ(Events("backup started"), 1u);
    EXPECT_EQ(Events("restore finished 0"), 1u);

    // The analysing phase, then the restore phase; the bar never moved back.
    ASSERT_FALSE(watch.phases.empty());
    EXPECT_TRUE(std::is_sorted(watch.phases.begin(), watch.phases.end()));
    EXPECT_EQ(watch.phases.back(), 2);
    EXPECT_TRUE(std::find(watch.tips.begin(), watch.tips.end(), kAnalyzing) != watch.tips.end());
    EXPECT_EQ(watch.tips.back(), kRestoring);
    EXPECT_TRUE(std::is_sorted(watch.bars.begin(), watch.bars.end()));
    EXPECT_FALSE(watch.cancelEnabledInRestore);
    EXPECT_FALSE(watch.questionInRestore);

    // Importing the same export again adds nothing, and the box says why.
    Tick();
    popups_.clear();
    main_->GoImport();
    Choose("BtnImportSMS", csv);
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressDone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text,
              std::wstring(kImported) + L"\nmessages: 0 added, 12 left out (12 already present)");
    EXPECT_EQ(testkit::DumpRows(PhoneSms(), kMessageRows), JoinedRows(messagesBefore, exported));
}

TEST_F(ImportTabTest, AContactsDatabaseFileReplacesThePhonesContacts) {
    testenv::PhoneOptions options;
    options.contacts = 1500;  // a restore phase (the contacts database) long enough to watch
    ServePhone(options, {"rate=1"});
    OpenImportTab();
    Rows contactRows;
    const std::string db = WriteContactsDatabase(dir_.Path(), 7, &contactRows);
    ASSERT_FALSE(db.empty());
    ASSERT_EQ(contactRows.size(), 7u);
    const std::string messagesBefore = testenv::ReadFile(PhoneSms());
    ASSERT_NE(testkit::DumpRows(PhoneContacts(), kContactRows), contactRows);

    Choose("BtnImportContact", db);
    Watch watch;
    WatchImport(watch);
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressDone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, kImported) << "a database file is no merge: nothing to count";
    EXPECT_EQ(testkit::DumpRows(PhoneContacts(), kContactRows), contactRows);
    EXPECT_EQ(testenv::ReadFile(PhoneContacts()), testenv::ReadFile(db));
    EXPECT_EQ(testenv::ReadFile(PhoneSms()), messagesBefore);

    // While the phone was written the run could not be cancelled in any way.
    EXPECT_TRUE(watch.sawRestorePhase);
    EXPECT_FALSE(watch.cancelEnabledInRestore);
    EXPECT_FALSE(watch.questionInRestore);
    EXPECT_TRUE(std::is_sorted(watch.bars.begin(), watch.bars.end()))
        << "the restore does not set the bar back";
}

TEST_F(ImportTabTest, ConfirmingTheCancelEndsWithTheFailureBoxAndLeavesThePhoneAlone) {
    testenv::PhoneOptions options;
    options.mediaMb = 3;
    ServePhone(options, {"rate=1"});
    OpenImportTab();
    const std::string csv = WriteMessageExport(dir_.Path(), 5, 3001, nullptr);
    ASSERT_FALSE(csv.empty());
    const std::string smsBefore = testenv::ReadFile(PhoneSms());
    Choose("BtnImportSMS", csv);

    bool asked = false;
    int phaseAtCancel = -1;
    answers_ = {"okbtn"};
    DrivePopups([&](UiLib::WindowImplBase& w) {
        auto* window = dynamic_cast<CProWndImport*>(&w);
        ASSERT_NE(window, nullptr);
        if (!asked && window->BarValue() >= 1) {
            asked = true;
            phaseAtCancel = window->ImportPhase();
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
            EXPECT_TRUE(window->CancelRequested());
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    ASSERT_TRUE(asked);
    EXPECT_EQ(phaseAtCancel, 1) << "cancelled while the phone was backed up";
    // The callback's -10 is no cancel of the engine's own (2): the run ends as failed.
    EXPECT_EQ(LastResult(), tolvane::kProgressFailed);
    ASSERT_EQ(popups_.size(), 2u);
    EXPECT_EQ(popups_[0].title, L"Question");
    EXPECT_EQ(popups_[0].text, L"Are you sure you want to cancel importing?");
    EXPECT_EQ(popups_[1].title, L"Information");
    EXPECT_EQ(popups_[1].text, kNotImported);
    EXPECT_EQ(main_->CurrentTab(), 3) << "a failed import stays on the tab";
    EXPECT_EQ(TextOf(*main_, "EditSMS"), std::wstring(csv.begin(), csv.end()));
    EXPECT_EQ(Events("restore started"), 0u);
    EXPECT_EQ(testenv::ReadFile(PhoneSms()), smsBefore);
    EXPECT_TRUE(main_->ConnectTimer().IsRunning());
}

TEST_F(ImportTabTest, ARefusedFileIsReportedWithItsOwnText) {
    ServePhone();
    OpenImportTab();
    const std::string bogus = dir_ / "sms.csv";
    testenv::WriteFile(bogus, "this is no export\n");
    Choose("BtnImportSMS", bogus);
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressFailed);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_FALSE(popups_[0].text.empty());
    EXPECT_NE(popups_[0].text, kNotImported) << "the file's own message is preferred";
    EXPECT_EQ(Events("backup started"), 0u) << "refused before the phone is touched";
}

// The fields can be typed into: a path that names no file is refused before the phone is
// touched, with a text that says so.
TEST_F(ImportTabTest, ATypedPathThatNamesNoFileIsRefusedBeforeThePhoneIsTouched) {
    ServePhone();
    OpenImportTab();
    const std::string missing = dir_ / "no-such-folder/sms.csv";
    ASSERT_TRUE(host_.TypeText(*main_, "EditSMS", std::wstring(missing.begin(), missing.end())));
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressFailed);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_NE(popups_[0].text, kNotImported) << "the reason, not the bare failure";
    EXPECT_NE(popups_[0].text.find(L"sms.csv"), std::wstring::npos) << "names the file";
    EXPECT_EQ(Events("backup started"), 0u);
}

// An import's own results: -10 (the confirmed cancel) and 2 (a file gone between the start and
// the run) end as failures with the failure box, never as a silent cancel.
class ImportResults : public CProWndImport {
  public:
    using CProWndImport::CProWndImport;
    using CProWndImport::ResultOf;
};

TEST_F(ImportTabTest, TheImportsResultsMapToFailuresWhereTheEngineWouldSayCancelled) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ImportResults window(main, tolvane::Sms, L"", L"/x/sms.csv", L"");
    EXPECT_EQ(window.ResultOf(0), tolvane::kProgressDone);
    EXPECT_EQ(window.ResultOf(tolvane::kImportCancelValue), tolvane::kProgressFailed);
    EXPECT_EQ(window.ResultOf(2), tolvane::kProgressFailed);
    EXPECT_EQ(window.ResultOf(-1), tolvane::kProgressDeviceGone);
    EXPECT_EQ(window.ResultOf(1006), tolvane::kProgressFailed);
}

TEST_F(ImportTabTest, AnEncryptingPhoneAsksForItsPasswordAndImportsWithIt) {
    testenv::PhoneOptions options;
    options.backupPassword = "secret";
    ServePhone(options);
    OpenImportTab();
    ASSERT_TRUE(main_->IsDeviceEncrypted());
    Rows exported;
    const std::string csv = WriteMessageExport(dir_.Path(), 4, 3001, &exported);
    ASSERT_FALSE(csv.empty());
    const Rows before = testkit::DumpRows(PhoneSms(), kMessageRows);
    Choose("BtnImportSMS", csv);

    // Given up: nothing starts.
    int shown = 0;
    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() == "UIDecryptionWnd" && UiLib::OffscreenHost::StateOf(w).shown) {
            ++shown;
            EXPECT_EQ(UiLib::OffscreenHost::StateOf(w).bounds.Width(), 500);
            EXPECT_EQ(UiLib::OffscreenHost::StateOf(w).bounds.Height(), 240);
            EXPECT_TRUE(host_.Click(w, "BtnCancel"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(LastResult(), 0u);
    EXPECT_EQ(Events("backup started"), 0u);

    DrivePopups([&](UiLib::WindowImplBase& w) {
        if (w.GetWindowClassName() == "UIDecryptionWnd" && UiLib::OffscreenHost::StateOf(w).shown &&
            TextOf(w, "EditPassword").empty()) {
            EXPECT_TRUE(host_.TypeText(w, "EditPassword", L"secret"));
            EXPECT_TRUE(host_.Click(w, "BtnOK"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressDone);
    EXPECT_EQ(main_->GetDevicePassword(), L"secret");
    EXPECT_EQ(testkit::DumpRows(PhoneSms(), kMessageRows), JoinedRows(before, exported));
}

TEST_F(ImportTabTest, AnImportThatFindsNoPhoneEndsAsALostPhone) {
    DeadMuxSocket();
    CMainWnd& main = OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_FALSE(main.Connected());
    const std::string csv = WriteMessageExport(dir_.Path(), 3, 3001, nullptr);
    ASSERT_FALSE(csv.empty());
    main.GoImport();
    Choose("BtnImportSMS", csv);
    ASSERT_TRUE(Enabled("BtnCopyImport"));
    DrivePopups();
    ASSERT_TRUE(host_.Click(main, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressDeviceGone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Sorry, the iphone is disconnected!");
    EXPECT_EQ(main.CurrentTab(), 3);
}

TEST_F(ImportTabTest, ThePhoneUnpluggedDuringTheImportEndsWithTheDisconnectedBox) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    ServePhone(options, {"unplug-after-bytes=500000"});
    OpenImportTab();
    const std::string csv = WriteMessageExport(dir_.Path(), 3, 3001, nullptr);
    ASSERT_FALSE(csv.empty());
    const std::string smsBefore = testenv::ReadFile(PhoneSms());
    Choose("BtnImportSMS", csv);
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyImport"));
    EXPECT_EQ(LastResult(), tolvane::kProgressDeviceGone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Sorry, the iphone is disconnected!");
    EXPECT_EQ(testenv::ReadFile(PhoneSms()), smsBefore);
}

TEST(ImportSkin, TheImportWindowsHaveTheControlsTheirCodeLooksUp) {
    ASSERT_TRUE(tolvane::UseProgramSkin());
    EXPECT_TRUE(UiLib::MissingControlNames(
                    "xml\\ProWndImport.xml",
                    {"LblTips", "progress", "LblPercent", "BtnCancel", "closebtn", "title"})
                    .empty());
}

TEST(ImportBox, EachMergedExportGetsItsLine) {
    tolvane::ImportReport report;
    EXPECT_EQ(tolvane::DescribeImportForBox(report), L"");
    report.contactsMerged = true;
    report.contacts.added = 3;
    report.contacts.alreadyPresent = 2;
    EXPECT_EQ(tolvane::DescribeImportForBox(report),
              L"contacts: 3 added, 2 left out (2 already present)");
    report.smsMerged = true;
    report.sms.added = 1;
    report.sms.unknownCorrespondent = 4;
    EXPECT_EQ(tolvane::DescribeImportForBox(report),
              L"messages: 1 added, 4 left out (4 with an unknown correspondent)\n"
              L"contacts: 3 added, 2 left out (2 already present)");
}

}  // namespace
}  // namespace uitest
