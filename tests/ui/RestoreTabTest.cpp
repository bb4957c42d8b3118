// The restore tab, its progress window and the viewer against the simulated phone: the list of
// own and library backups, the options each kind of backup opens with, the counts, the viewer's
// lines and its lifetime, restores started by click (messages only from an own backup, an
// encrypted library backup after a wrong password), the phase in which a restore can no longer
// be cancelled, and a phone that is gone when the worker starts.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>

#include "UiLib/CLabelUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/COptionUI.h"
#include "UiLib/CProgressUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"
#include "tests/support/Programs.h"
#include "tests/ui/LockHolder.h"
#include "tests/ui/MainWndFixture.h"
#include "ui/CDecryptionWnd.h"
#include "ui/CProWndRestore.h"
#include "ui/CProgressWnd.h"
#include "ui/CViewWnd.h"

namespace uitest {
namespace {

// The process's time zone for one test, and the previous one again afterwards.
class ScopedZone {
  public:
    explicit ScopedZone(const char* zone) : env_(std::make_unique<testenv::ScopedEnv>("TZ", zone)) {
        tzset();
    }
    ~ScopedZone() {
        env_.reset();
        tzset();
    }

  private:
    std::unique_ptr<testenv::ScopedEnv> env_;
};

namespace fs = std::filesystem;
using tolvane::CMainWnd;
using tolvane::RestoreSource;

constexpr char kSmsFile[] = "HomeDomain/Library/SMS/sms.db";
constexpr char kContactsFile[] = "HomeDomain/Library/AddressBook/AddressBook.sqlitedb";
constexpr char kSmsHash[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContactsHash[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
constexpr const char* kOthers[] = {"ChkCalendar_Restore", "ChkCallLog_Restore", "ChkApps_Restore",
                                   "ChkPhoto_Restore",    "ChkMusic_Restore",   "ChkVideo_Restore"};

// One number out of a database, by a query of the test's own.
int64_t QueryNumber(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    int64_t value = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            value = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return value;
}

// The phone's contacts database calls a function of the phone's own in its triggers.
void GenerateGuid(sqlite3_context* context, int, sqlite3_value**) {
    static int next = 0;
    const std::string guid = "test-guid-" + std::to_string(++next);
    sqlite3_result_text(context, guid.c_str(), -1, SQLITE_TRANSIENT);
}

void Exec(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_create_function(db, "ab_generate_guid", 0, SQLITE_UTF8, nullptr, GenerateGuid, nullptr,
                            nullptr);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

constexpr char kCountMessages[] = "select count(*) from message where text <> ''";
constexpr char kCountContacts[] = "select count(*) from ABPerson";

class RestoreTabTest : public MainWndTest {
  protected:
    void SetUp() override {
        MainWndTest::SetUp();
        // The decryption tool is found beside the program.
        const std::string tool = std::string(TOLVANE_BIN_DIR) + "/tool";
        ASSERT_EQ(symlink(tool.c_str(), (program_ / "tool").c_str()), 0);
        platform::SetProgramFolderForTesting(program_.Path() + "/");
    }
    void TearDown() override {
        MainWndTest::TearDown();
        platform::SetProgramFolderForTesting("");
    }

    UiLib::COptionUI* Option(const std::string& name) {
        return dynamic_cast<UiLib::COptionUI*>(main_->GetPaintManager().FindControl(name));
    }
    bool Selected(const std::string& name) { return Option(name)->IsSelected(); }
    UiLib::CListUI* List() {
        return dynamic_cast<UiLib::CListUI*>(
            main_->GetPaintManager().FindControl("BackupFileList"));
    }
    std::string PhoneFile(const std::string& key) { return phone_->DeviceDir() + "/files/" + key; }

    // An own backup as the program leaves it: "fileinfo", and the copies of the databases its
    // categories name (a full one: the phone's files in its device folder).
    std::string MakeOwnBackup(const std::string& root, const std::string& stamp,
                              uint32_t categories, const std::string& name = "Test iPhone") {
        const std::string folder = root + "/" + stamp;
        testenv::WriteFile(folder + "/fileinfo", std::to_string(categories) + "\r\n" + stamp +
                                                     "\r\n" + name + "(iPhone 7.1.2)");
        if (categories == tolvane::Full) {
            const std::string device = folder + "/" + std::string(40, 'a');
            testenv::WriteFile(device + "/" + kSmsHash, testenv::ReadFile(PhoneFile(kSmsFile)));
            testenv::WriteFile(device + "/" + kContactsHash,
                               testenv::ReadFile(PhoneFile(kContactsFile)));
            return folder;
        }
        if ((categories & tolvane::Sms) != 0) {
            testenv::WriteFile(folder + "/sms", testenv::ReadFile(PhoneFile(kSmsFile)));
        }
        if ((categories & tolvane::Contacts) != 0) {
            testenv::WriteFile(folder + "/content", testenv::ReadFile(PhoneFile(kContactsFile)));
        }
        return folder;
    }
    std::string DefaultRoot() { return platform::PathToBytes(main_->GetDefaultBackupRoot()); }

    // The other program's backup of the phone, written by the simulated phone's tool.
    std::string WriteLibraryBackup(const std::vector<std::string>& extra = {}) {
        const std::string parent = platform::ItunesBackupFolder();
        fs::create_directories(parent);
        std::vector<std::string> argv = {testenv::SimulatedPhone::ProgramPath(),
                                         "write-backup",
                                         phone_->DeviceDir(),
                                         parent,
                                         "--date",
                                         "2015-03-07T18:05:09Z"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const testenv::CommandRun run = testenv::RunProgram(argv, {}, 60000);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        return parent + "/" + phone_->Udid();
    }

    void OpenConnected() {
        ServePhone();
        OpenMain();
        Connect();
    }

    // Selects item `index` of the list as a click would.
    void SelectItem(int index) {
        ASSERT_TRUE(List()->SelectItem(index));
        host_.PumpMessages();
    }

    // Runs the viewer on the tab's selected entry with a click on `button`, answering what
    // comes up: password windows with the queued passwords, then OK once the lines are there.
    std::vector<std::wstring> ViewByClick(const std::string& button,
                                          std::vector<std::wstring> passwords = {}) {
        std::vector<std::wstring> lines;
        DrivePopups([&](UiLib::WindowImplBase& top) {
            if (auto* ask = dynamic_cast<tolvane::CDecryptionWnd*>(&top)) {
                // Typed only while it asks: not while it checks (a known password first).
                if (!ask->Checking() && !passwords.empty()) {
                    const std::wstring typed = passwords.front();
                    passwords.erase(passwords.begin());
                    EXPECT_TRUE(host_.TypeText(top, "EditPassword", typed));
                    EXPECT_TRUE(host_.Click(top, "BtnOK"));
                }
            } else if (auto* viewer = dynamic_cast<tolvane::CViewWnd*>(&top)) {
                auto* tab = dynamic_cast<UiLib::CTabLayoutUI*>(
                    top.GetPaintManager().FindControl("TabMain"));
                if (viewer->WorkerDone() && tab->GetCurSel() == 1) {
                    lines = viewer->Lines();
                    viewerDescription_ = TextOf(top, "TxtDescription");
                    EXPECT_TRUE(host_.Click(top, "BtnOK"));
                }
            }
        });
        EXPECT_TRUE(host_.Click(*main_, button));
        host_.SetIdleHandler({});
        return lines;
    }

    std::wstring viewerDescription_;
};

TEST_F(RestoreTabTest, PartialOwnBackupsOpenWithOnlyTheirCategories) {
    OpenConnected();
    const std::string root = DefaultRoot();
    // Newest folder name first: 6, 4, 2.
    MakeOwnBackup(root, "2024-01-03-10-00-00", tolvane::Sms | tolvane::Contacts);
    MakeOwnBackup(root, "2024-01-02-10-00-00", tolvane::Sms);
    MakeOwnBackup(root, "2024-01-01-10-00-00", tolvane::Contacts);
    const int64_t messages = QueryNumber(PhoneFile(kSmsFile), kCountMessages);
    const int64_t contacts = QueryNumber(PhoneFile(kContactsFile), kCountContacts);
    ASSERT_GT(messages, 0);
    ASSERT_GT(contacts, 0);

    main_->GoRestore(RestoreSource::OwnBackups);
    EXPECT_EQ(TextOf(*main_, "LblBackupFileTitle"), L"Tolvane backup file");
    ASSERT_EQ(List()->GetCount(), 3);
    ASSERT_EQ(main_->RestorePanel().SelectedIndex(), 0);

    struct Expect {
        uint32_t categories;
        bool sms, contacts;
    };
    const Expect expected[] = {{6, true, true}, {4, true, false}, {2, false, true}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            SelectItem(i);
        }
        ASSERT_EQ(main_->RestorePanel().SelectedIndex(), i);
        EXPECT_EQ(static_cast<uint32_t>(main_->RestorePanel().Entries()[i].categories),
                  expected[i].categories);
        EXPECT_FALSE(Option("RdPart_Restore")->IsEnabled());
        EXPECT_FALSE(Option("RdFull_Restore")->IsEnabled());
        EXPECT_TRUE(Selected("RdPart_Restore"));
        EXPECT_FALSE(Selected("RdFull_Restore"));
        EXPECT_EQ(Selected("ChkSMS_Restore"), expected[i].sms);
        EXPECT_EQ(Option("ChkSMS_Restore")->IsEnabled(), expected[i].sms);
        EXPECT_EQ(Selected("ChkContacts_Restore"), expected[i].contacts);
        EXPECT_EQ(Option("ChkContacts_Restore")->IsEnabled(), expected[i].contacts);
        for (const char* o : kOthers) {
            EXPECT_FALSE(Selected(o)) << o;
            EXPECT_FALSE(Option(o)->IsEnabled()) << o;
        }
        // What the backup lacks counts 0 and cannot be viewed.
        EXPECT_EQ(TextOf(*main_, "TxtSMSNum_Restore"),
                  L"(" + std::to_wstring(expected[i].sms ? messages : 0) + L")");
        EXPECT_EQ(TextOf(*main_, "TxtContactsNum_Restore"),
                  L"(" + std::to_wstring(expected[i].contacts ? contacts : 0) + L")");
        EXPECT_EQ(Enabled("BtnViewSMS_Restore"), expected[i].sms);
        EXPECT_EQ(Enabled("BtnViewContacts_Restore"), expected[i].contacts);
        EXPECT_EQ(main_->RestorePanel().ChosenCategories(), expected[i].categories);
    }
    // Keep one: in a backup of both, the last of the two cannot be unselected.
    SelectItem(0);
    ASSERT_TRUE(host_.Click(*main_, "ChkSMS_Restore"));
    EXPECT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Contacts);
    ASSERT_TRUE(host_.Click(*main_, "ChkContacts_Restore"));
    EXPECT_TRUE(Selected("ChkContacts_Restore"));
    EXPECT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Contacts);
}

TEST_F(RestoreTabTest, FullBackupOpensInRestoreAllAndSwitchesToPartial) {
    OpenConnected();
    MakeOwnBackup(DefaultRoot(), "2024-02-01-08-00-00", tolvane::Full);
    main_->GoRestore(RestoreSource::OwnBackups);
    ASSERT_EQ(main_->RestorePanel().SelectedIndex(), 0);
    EXPECT_TRUE(Option("RdPart_Restore")->IsEnabled());
    EXPECT_TRUE(Option("RdFull_Restore")->IsEnabled());
    EXPECT_TRUE(Selected("RdFull_Restore"));
    for (const char* o : {"ChkSMS_Restore", "ChkContacts_Restore"}) {
        EXPECT_TRUE(Selected(o)) << o;
        EXPECT_FALSE(Option(o)->IsEnabled()) << o;
    }
    for (const char* o : kOthers) {
        EXPECT_TRUE(Selected(o)) << o;
        EXPECT_FALSE(Option(o)->IsEnabled()) << o;
    }
    EXPECT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Full);
    // The counts of a full backup come from the databases in its device folder.
    EXPECT_EQ(TextOf(*main_, "TxtSMSNum_Restore"),
              L"(" + std::to_wstring(QueryNumber(PhoneFile(kSmsFile), kCountMessages)) + L")");

    ASSERT_TRUE(host_.Click(*main_, "RdPart_Restore"));
    EXPECT_TRUE(Selected("RdPart_Restore"));
    for (const char* o : {"ChkSMS_Restore", "ChkContacts_Restore"}) {
        EXPECT_TRUE(Selected(o)) << o;
        EXPECT_TRUE(Option(o)->IsEnabled()) << o;
    }
    for (const char* o : kOthers) {
        EXPECT_FALSE(Selected(o)) << o;
    }
    EXPECT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Sms | tolvane::Contacts);
}

TEST_F(RestoreTabTest, UserFolderEqualToTheDefaultRootIsListedOnce) {
    OpenConnected();
    MakeOwnBackup(DefaultRoot(), "2024-01-01-10-00-00", tolvane::Sms);
    main_->SetUserBackupFolder(main_->GetDefaultBackupRoot());
    main_->GoRestore(RestoreSource::OwnBackups);
    EXPECT_EQ(main_->RestorePanel().Entries().size(), 1u);
    EXPECT_EQ(List()->GetCount(), 1);

    // Another folder is listed after the default root.
    const std::string other = dir_ / "elsewhere";
    MakeOwnBackup(other, "2025-05-05-05-05-05", tolvane::Contacts, "Other phone");
    main_->SetUserBackupFolder(platform::PathToWide(other));
    main_->GoRestore(RestoreSource::OwnBackups);
    ASSERT_EQ(main_->RestorePanel().Entries().size(), 2u);
    EXPECT_EQ(main_->RestorePanel().Entries()[0].categories, static_cast<int32_t>(tolvane::Sms));
    EXPECT_EQ(main_->RestorePanel().Entries()[1].name, L"Other phone(iPhone 7.1.2)");
}

TEST_F(RestoreTabTest, AnEmptyListShowsTheNullItemAndStartOnlyWarns) {
    OpenConnected();
    main_->GoRestore(RestoreSource::OwnBackups);
    ASSERT_EQ(List()->GetCount(), 1);
    EXPECT_EQ(TextOf(*main_, "LblNoFile"), L"No file found. Please back up first.");
    EXPECT_EQ(main_->RestorePanel().SelectedIndex(), -1);
    EXPECT_FALSE(Enabled("BtnViewSMS_Restore"));
    EXPECT_FALSE(Enabled("RdPart_Restore"));
    EXPECT_EQ(TextOf(*main_, "TxtSMSNum_Restore"), L"");
    const size_t events = phone_->Events().size();
    DrivePopups([](UiLib::WindowImplBase& top) {
        ADD_FAILURE() << "unexpected window " << top.GetWindowClassName();
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].title, L"Warning");
    EXPECT_EQ(popups_[0].text, L"No file found, Please back up first.");
    EXPECT_EQ(main_->RestorePanel().LastResult(), 0u);
    EXPECT_EQ(phone_->Events().size(), events);  // the phone was not asked anything
}

TEST_F(RestoreTabTest, TheViewerShowsEachMessageWithItsConversationAndEachContactWhole) {
    ScopedZone zone("UTC");
    OpenConnected();
    const std::string backup =
        MakeOwnBackup(DefaultRoot(), "2024-01-03-10-00-00", tolvane::Sms | tolvane::Contacts);
    // One message and one contact the test knows all about.
    Exec(backup + "/sms",
         "insert into handle (id, service) values ('+15550001111', 'SMS');"
         "insert into message (guid, text, handle_id, date, is_from_me) values "
         "('viewer-test', 'Meet at noon', (select max(ROWID) from handle), 2000000000, 1);");
    Exec(backup + "/content",
         "insert into ABPerson (First, Last) values ('Zed', 'Viewer');"
         "insert into ABMultiValue (record_id, property, identifier, value) values "
         "((select max(ROWID) from ABPerson), 3, 0, '+1 555 000 2222'),"
         "((select max(ROWID) from ABPerson), 3, 1, '+1 555 000 3333');"
         "insert into ABPersonFullTextSearch_content (docid, c0First, c1Last, c15Phone) values "
         "((select max(ROWID) from ABPerson), 'Zed', 'Viewer', '+1 555 000 2222 15550002222');");
    main_->GoRestore(RestoreSource::OwnBackups);
    const std::wstring smsCount = TextOf(*main_, "TxtSMSNum_Restore");

    const std::vector<std::wstring> messages = ViewByClick("BtnViewSMS_Restore");
    EXPECT_EQ(viewerDescription_, L"Messages List:");
    ASSERT_EQ(L"(" + std::to_wstring(messages.size()) + L")", smsCount);
    // 2,000,000,000 s after 2001-01-01 is 2064-05-18 03:33:20 UTC; the newest comes first.
    EXPECT_EQ(messages.front(), L"2064-05-18 03:33  Sent to +15550001111: Meet at noon");

    const std::vector<std::wstring> contacts = ViewByClick("BtnViewContacts_Restore");
    EXPECT_EQ(viewerDescription_, L"Contacts List:");
    ASSERT_FALSE(contacts.empty());
    // Both numbers whole, as stored, after the name.
    EXPECT_NE(std::find(contacts.begin(), contacts.end(),
                        L"Zed Viewer  +1 555 000 2222, +1 555 000 3333"),
              contacts.end());
    // In the plain listing's order: by first name.
    for (size_t i = 1; i < contacts.size(); ++i) {
        EXPECT_LE(platform::WideToUtf8(contacts[i - 1].substr(0, contacts[i - 1].find(L' '))),
                  platform::WideToUtf8(contacts[i].substr(0, contacts[i].find(L' '))))
            << i;
    }
    EXPECT_EQ(TextOf(*main_, "TxtContactsNum_Restore"),
              L"(" + std::to_wstring(contacts.size()) + L")");
}

TEST_F(RestoreTabTest, ViewerOnABackupWithoutMessagesSaysSo) {
    OpenConnected();
    MakeOwnBackup(DefaultRoot(), "2024-01-01-10-00-00", tolvane::Contacts);
    main_->GoRestore(RestoreSource::OwnBackups);
    EXPECT_FALSE(Enabled("BtnViewSMS_Restore"));  // the tab offers no view of nothing
    // The viewer itself, as a listing that finds nothing leaves it.
    tolvane::CViewWnd viewer(*main_, main_->RestorePanel(), 0, tolvane::CViewWnd::kMessages);
    std::wstring shown;
    int items = -1;
    DrivePopups([&](UiLib::WindowImplBase& top) {
        auto* tab =
            dynamic_cast<UiLib::CTabLayoutUI*>(top.GetPaintManager().FindControl("TabMain"));
        if (&top == &viewer && tab->GetCurSel() == 1) {
            auto* list =
                dynamic_cast<UiLib::CListUI*>(top.GetPaintManager().FindControl("ViewList"));
            items = list->GetCount();
            auto* item = list->GetItemAt(0)->AsContainer();
            shown = item->GetItemAt(0)->GetText();
            EXPECT_EQ(item->GetFixedHeight(), 200);
            EXPECT_TRUE(host_.Click(top, "BtnOK"));
        }
    });
    ASSERT_NE(viewer.Create(main_.get(), 550, 350), 0u);
    EXPECT_EQ(viewer.ShowModal(), UiLib::IDOK);
    EXPECT_EQ(items, 1);
    EXPECT_EQ(shown, L"Sorry, No data found!");
}

TEST_F(RestoreTabTest, OkAndCloseWhileListingWaitForTheWorker) {
    OpenConnected();
    MakeOwnBackup(DefaultRoot(), "2024-01-01-10-00-00", tolvane::Sms);
    main_->GoRestore(RestoreSource::OwnBackups);
    auto viewer = std::make_unique<tolvane::CViewWnd>(*main_, main_->RestorePanel(), 0,
                                                      tolvane::CViewWnd::kMessages);
    // The engine is busy elsewhere (as during a presence check): the listing must wait for it.
    std::optional<CMainWnd::EngineLease> busy(main_->LockEngine());
    int step = 0;
    bool closedEarly = false;
    DrivePopups([&](UiLib::WindowImplBase& top) {
        if (&top != viewer.get()) {
            return;
        }
        if (step == 0) {
            // OK and the close button cannot be used yet; the window manager's close is held.
            EXPECT_FALSE(top.GetPaintManager().FindControl("BtnOK")->IsEnabled());
            EXPECT_FALSE(top.GetPaintManager().FindControl("closebtn")->IsEnabled());
            host_.Click(top, "BtnOK");
            UiLib::WindowImplBase::PostMessage(top.GetHWND(), UiLib::WM_CLOSE, UiLib::IDCANCEL);
            step = 1;
        } else if (step == 1) {
            closedEarly = top.IsClosed();
            EXPECT_FALSE(viewer->WorkerDone());
            busy.reset();  // the engine is free: the listing runs and the held close follows
            step = 2;
        }
    });
    ASSERT_NE(viewer->Create(main_.get(), 550, 350), 0u);
    EXPECT_EQ(viewer->ShowModal(), UiLib::IDCANCEL);
    EXPECT_FALSE(closedEarly);
    EXPECT_EQ(step, 2);
    EXPECT_TRUE(viewer->WorkerDone());
    EXPECT_EQ(viewer->Lines().size(),
              static_cast<size_t>(QueryNumber(PhoneFile(kSmsFile), kCountMessages)));
    viewer.reset();  // nothing of it is used any more
}

TEST_F(RestoreTabTest, MessagesOnlyFromAnOwnBackupByClick) {
    OpenConnected();
    const std::string backup =
        MakeOwnBackup(DefaultRoot(), "2024-01-03-10-00-00", tolvane::Sms | tolvane::Contacts);
    // The backup's messages differ from the phone's; the phone's contacts change after it.
    Exec(backup + "/sms", "delete from message where ROWID % 2 = 0;");
    Exec(PhoneFile(kContactsFile), "update ABPerson set Last = 'Changed' where ROWID = 1;");
    const std::string contactsBefore = testenv::ReadFile(PhoneFile(kContactsFile));
    main_->GoRestore(RestoreSource::OwnBackups);
    ASSERT_TRUE(host_.Click(*main_, "ChkContacts_Restore"));
    ASSERT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Sms);

    struct Seen {
        std::wstring tips;
        bool cancelEnabled, closeEnabled;
        int bar;
    };
    std::vector<Seen> seen;
    DrivePopups([&](UiLib::WindowImplBase& top) {
        if (top.GetWindowClassName() != "UIProWndRestore") {
            return;
        }
        auto* bar =
            dynamic_cast<UiLib::CProgressUI*>(top.GetPaintManager().FindControl("progress"));
        seen.push_back(
            {TextOf(top, "LblTips"), top.GetPaintManager().FindControl("BtnCancel")->IsEnabled(),
             top.GetPaintManager().FindControl("closebtn")->IsEnabled(), bar->GetValue()});
        if (seen.back().tips.rfind(L"Restoring", 0) == 0) {
            // A cancel click or the window manager's close in this phase asks nothing and
            // stops nothing.
            host_.Click(top, "BtnCancel");
            host_.RequestClose(top);
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    EXPECT_EQ(main_->RestorePanel().LastResult(), tolvane::kProgressDone);
    ASSERT_FALSE(popups_.empty());
    EXPECT_EQ(popups_.back().text, L"The selected data are restored completely!");
    for (const SeenPopup& p : popups_) {
        EXPECT_NE(p.title, L"Question");
    }
    EXPECT_EQ(main_->CurrentTab(), 0);  // back home

    EXPECT_EQ(testenv::ReadFile(PhoneFile(kSmsFile)), testenv::ReadFile(backup + "/sms"));
    EXPECT_EQ(testenv::ReadFile(PhoneFile(kContactsFile)), contactsBefore);

    // Analyzing first, with the cancel offered; then restoring from 0 without it.
    int analyzingTop = -1;
    bool restoring = false;
    for (const Seen& s : seen) {
        if (s.tips.rfind(L"Restoring", 0) == 0) {
            if (!restoring && analyzingTop > 0) {
                EXPECT_LT(s.bar, analyzingTop);  // the bar was set back
            }
            restoring = true;
            EXPECT_FALSE(s.cancelEnabled);
            EXPECT_FALSE(s.closeEnabled);
        } else {
            EXPECT_FALSE(restoring) << "analyzing again after the restore began";
            EXPECT_TRUE(s.cancelEnabled);
            analyzingTop = std::max(analyzingTop, s.bar);
        }
    }
    EXPECT_TRUE(restoring);
}

TEST_F(RestoreTabTest, EncryptedLibraryBackupAfterAWrongPassword) {
    OpenConnected();
    const std::string folder = WriteLibraryBackup({"--encrypt", "secret"});
    main_->GoRestore(RestoreSource::ItunesBackups);
    EXPECT_EQ(TextOf(*main_, "LblBackupFileTitle"), L"iTunes backup file");
    ASSERT_EQ(main_->RestorePanel().Entries().size(), 1u);
    ASSERT_TRUE(main_->RestorePanel().Entries()[0].encrypted);
    // No counts before a view has listed it; both views offered; the full options.
    EXPECT_EQ(TextOf(*main_, "TxtSMSNum_Restore"), L"");
    EXPECT_EQ(TextOf(*main_, "TxtContactsNum_Restore"), L"");
    EXPECT_TRUE(Enabled("BtnViewSMS_Restore"));
    EXPECT_TRUE(Enabled("BtnViewContacts_Restore"));
    EXPECT_TRUE(Selected("RdFull_Restore"));
    auto* item = List()->GetItemAt(0)->AsContainer();
    ASSERT_NE(item, nullptr);

    // The view asks for the password; the wrong one is refused and asked again.
    const std::vector<std::wstring> lines =
        ViewByClick("BtnViewSMS_Restore", {L"wrong", L"secret"});
    const int64_t messages = QueryNumber(PhoneFile(kSmsFile), kCountMessages);
    EXPECT_EQ(lines.size(), static_cast<size_t>(messages));
    EXPECT_EQ(TextOf(*main_, "TxtSMSNum_Restore"), L"(" + std::to_wstring(messages) + L")");
    EXPECT_EQ(main_->GetBackupPassword(), L"secret");
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text,
              L"The selected iTunes backup file password is not correct, please retry again!");
    // No plain copy of the databases is left behind.
    const std::string decrypted = platform::JoinPath(tolvane::BackupToolDataFolder(), "Decrypt");
    EXPECT_TRUE(!fs::exists(decrypted) || fs::is_empty(decrypted));

    // The restore: the stored password is checked again in the password window, which ends by
    // itself; nothing is typed.
    popups_.clear();
    seenHandles_.clear();
    Exec(PhoneFile(kSmsFile), "delete from message;");
    // A whole restore writes the phone from its first report on: no cancel from there.
    std::vector<std::pair<std::wstring, bool>> seen;
    DrivePopups([&](UiLib::WindowImplBase& top) {
        if (auto* ask = dynamic_cast<tolvane::CDecryptionWnd*>(&top)) {
            EXPECT_TRUE(ask->Checking()) << "asked for a password it knows";
            return;
        }
        auto* window = dynamic_cast<tolvane::CProWndRestore*>(&top);
        if (window != nullptr && window->BarValue() > 0) {
            seen.emplace_back(TextOf(top, "LblTips"),
                              top.GetPaintManager().FindControl("BtnCancel")->IsEnabled());
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    EXPECT_EQ(main_->RestorePanel().LastResult(), tolvane::kProgressDone)
        << (popups_.empty() ? std::wstring() : popups_.back().text);
    EXPECT_EQ(QueryNumber(PhoneFile(kSmsFile), kCountMessages), messages);
    ASSERT_FALSE(seen.empty());
    for (const auto& [tips, cancel] : seen) {
        EXPECT_EQ(tips, L"Restoring your iOS device, it will take some time, please wait...");
        EXPECT_FALSE(cancel);
    }
}

// The listing of an encrypted backup waits while another process runs an operation: the viewer
// says so, and its close button gives the wait up at once and leaves the tab's counts alone.
TEST_F(RestoreTabTest, AViewerWaitingForAnotherOperationSaysSoAndClosesWhenAsked) {
    OpenConnected();
    WriteLibraryBackup({"--encrypt", "secret"});
    main_->GoRestore(RestoreSource::ItunesBackups);
    ASSERT_EQ(main_->RestorePanel().Entries().size(), 1u);
    const std::vector<std::wstring> lines = ViewByClick("BtnViewSMS_Restore", {L"secret"});
    ASSERT_FALSE(lines.empty());
    const tolvane::CVrtWndRestore::Counts before = main_->RestorePanel().CountsOf(0);

    LockHolder other;
    ASSERT_TRUE(other.Held());
    auto viewer = std::make_unique<tolvane::CViewWnd>(*main_, main_->RestorePanel(), 0,
                                                      tolvane::CViewWnd::kMessages);
    std::wstring tip;
    bool closeEnabled = false;
    bool okEnabled = true;
    const auto start = std::chrono::steady_clock::now();
    DrivePopups([&](UiLib::WindowImplBase& top) {
        if (&top != viewer.get()) {
            return;
        }
        if (tip.empty() && TextOf(top, "LblTip") == tolvane::kFiguresWaiting) {
            tip = TextOf(top, "LblTip");
            closeEnabled = top.GetPaintManager().FindControl("closebtn")->IsEnabled();
            okEnabled = top.GetPaintManager().FindControl("BtnOK")->IsEnabled();
            EXPECT_TRUE(host_.Click(top, "closebtn"));
        }
        if (std::chrono::steady_clock::now() - start > 20s) {
            other.Release();  // the wait never showed: let the listing end so the test reports
        }
    });
    ASSERT_NE(viewer->Create(main_.get(), 550, 350), 0u);
    EXPECT_EQ(viewer->ShowModal(), UiLib::IDCANCEL);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(tip, tolvane::kFiguresWaiting);
    EXPECT_TRUE(closeEnabled);
    EXPECT_FALSE(okEnabled);
    EXPECT_LT(took, 10s) << "the close waited for the other operation";
    EXPECT_TRUE(viewer->WorkerDone());
    EXPECT_EQ(viewer->ListingResult(), platform::kResultCancelled);
    EXPECT_TRUE(viewer->Lines().empty());
    EXPECT_EQ(main_->RestorePanel().CountsOf(0).messages, before.messages);
    EXPECT_EQ(main_->RestorePanel().CountsOf(0).contacts, before.contacts);
    viewer.reset();

    // Once the other operation has ended, the same view lists the backup.
    other.Release();
    EXPECT_EQ(ViewByClick("BtnViewSMS_Restore"), lines);
}

// Start without a view first: the password window comes up, refuses the wrong password and
// takes the right one, and the restore runs with it; giving up starts nothing.
TEST_F(RestoreTabTest, StartingAnEncryptedLibraryRestoreAsksForItsPassword) {
    OpenConnected();
    WriteLibraryBackup({"--encrypt", "secret"});
    const int64_t messages = QueryNumber(PhoneFile(kSmsFile), kCountMessages);
    Exec(PhoneFile(kSmsFile), "delete from message;");
    main_->GoRestore(RestoreSource::ItunesBackups);
    ASSERT_EQ(main_->RestorePanel().SelectedIndex(), 0);

    // Given up: nothing starts.
    DrivePopups([&](UiLib::WindowImplBase& top) {
        if (top.GetWindowClassName() == "UIDecryptionWnd") {
            EXPECT_TRUE(host_.Click(top, "BtnCancel"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    EXPECT_EQ(main_->RestorePanel().LastResult(), 0u);
    EXPECT_TRUE(popups_.empty());
    EXPECT_EQ(QueryNumber(PhoneFile(kSmsFile), kCountMessages), 0);

    std::vector<std::wstring> passwords = {L"wrong", L"secret"};
    std::vector<UiLib::WindowImplBase*> windows;
    DrivePopups([&](UiLib::WindowImplBase& top) {
        auto* ask = dynamic_cast<tolvane::CDecryptionWnd*>(&top);
        if (ask != nullptr && !ask->Checking() && !passwords.empty()) {
            if (std::find(windows.begin(), windows.end(), &top) == windows.end()) {
                windows.push_back(&top);
            }
            const std::wstring typed = passwords.front();
            passwords.erase(passwords.begin());
            EXPECT_TRUE(host_.TypeText(top, "EditPassword", typed));
            EXPECT_TRUE(host_.Click(top, "BtnOK"));
        }
    });
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    EXPECT_EQ(windows.size(), 1u);  // one window, asking twice
    EXPECT_TRUE(passwords.empty());
    ASSERT_EQ(popups_.size(), 2u);
    EXPECT_EQ(popups_[0].text,
              L"The selected iTunes backup file password is not correct, please retry again!");
    EXPECT_EQ(popups_[1].text, L"The selected data are restored completely!");
    EXPECT_EQ(main_->RestorePanel().LastResult(), tolvane::kProgressDone);
    EXPECT_EQ(QueryNumber(PhoneFile(kSmsFile), kCountMessages), messages);
}

// A backup of iOS 10.2 and later costs a long key derivation per run of the decryption tool: the
// check of its password and the listings or the restore that follow it in one user action run
// the tool once, and leave no plain copy behind.
TEST_F(RestoreTabTest, OneActionOnAModernEncryptedBackupRunsTheToolOnce) {
    testenv::PhoneOptions options;
    options.productVersion = "17.5";
    options.backupRounds = 200000;
    ServePhone(options);
    OpenMain();
    Connect();
    // The tool counts its runs.
    const std::string runs = dir_ / "runs";
    const std::string tool = program_ / "tool";
    ASSERT_EQ(unlink(tool.c_str()), 0);
    testenv::WriteFile(tool, "#!/bin/sh\necho run >> '" + runs + "'\nexec '" +
                                 std::string(TOLVANE_BIN_DIR) + "/tool' \"$@\"\n");
    ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
    const auto toolRuns = [&] {
        if (!fs::exists(runs)) {
            return 0;
        }
        const std::string text = testenv::ReadFile(runs);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    const std::string decrypted = platform::JoinPath(tolvane::BackupToolDataFolder(), "Decrypt");
    const auto noPlainCopy = [&] {
        if (!fs::exists(decrypted)) {
            return true;
        }
        for (const auto& e : fs::directory_iterator(decrypted)) {
            if (!e.is_directory()) {
                return false;
            }
        }
        return true;
    };

    WriteLibraryBackup({"--encrypt", "secret"});
    main_->GoRestore(RestoreSource::ItunesBackups);
    ASSERT_EQ(main_->RestorePanel().Entries().size(), 1u);
    ASSERT_TRUE(main_->RestorePanel().Entries()[0].encrypted);

    // The check of the typed password, then the listing of the messages and of the contacts.
    const std::vector<std::wstring> messages = ViewByClick("BtnViewSMS_Restore", {L"secret"});
    EXPECT_FALSE(messages.empty());
    EXPECT_EQ(main_->RestorePanel().CountsOf(0).messages, static_cast<int>(messages.size()));
    EXPECT_GT(main_->RestorePanel().CountsOf(0).contacts, 0);
    EXPECT_EQ(toolRuns(), 1);
    EXPECT_TRUE(noPlainCopy());

    // The known password checked again, then the listings.
    const std::vector<std::wstring> contacts = ViewByClick("BtnViewContacts_Restore");
    EXPECT_EQ(static_cast<int>(contacts.size()), main_->RestorePanel().CountsOf(0).contacts);
    EXPECT_EQ(toolRuns(), 2);
    EXPECT_TRUE(noPlainCopy());

    // A restore of the messages only: the check and the restore's decryption.
    ASSERT_TRUE(host_.Click(*main_, "RdPart_Restore"));
    ASSERT_TRUE(host_.Click(*main_, "ChkContacts_Restore"));
    ASSERT_EQ(main_->RestorePanel().ChosenCategories(), tolvane::Sms);
    popups_.clear();
    seenHandles_.clear();
    DrivePopups();
    ASSERT_TRUE(host_.Click(*main_, "BtnCopyRestore"));
    EXPECT_EQ(main_->RestorePanel().LastResult(), tolvane::kProgressDone)
        << (popups_.empty() ? std::wstring() : popups_.back().text);
    EXPECT_EQ(toolRuns(), 3);
    EXPECT_TRUE(noPlainCopy());
}

TEST_F(RestoreTabTest, AWorkerThatFindsNoPhoneEndsAsALostPhone) {
    DeadMuxSocket();
    OpenMain();
    ASSERT_TRUE(WaitForAttempt());
    ASSERT_FALSE(main_->Connected());
    tolvane::BackupEntry entry;
    entry.categories = tolvane::Sms;
    entry.folder = dir_ / "nothing";
    DrivePopups();
    const UiLib::UINT result =
        tolvane::RunRestoreWindow(*main_, entry, tolvane::Sms, RestoreSource::OwnBackups, L"");
    EXPECT_EQ(result, tolvane::kProgressDeviceGone);
    ASSERT_EQ(popups_.size(), 1u);
    EXPECT_EQ(popups_[0].text, L"Sorry, the iphone is disconnected!");
}

}  // namespace
}  // namespace uitest
