// A walk of the import tab in the real program under Xvfb: the home card "Import SMS & Contacts",
// "Start Import" with nothing chosen, an sms.csv and a contacts database file picked in the
// open-file dialog, the import, the result box; the phone holds the exported messages and the
// database's contacts afterwards. Each step's screen is kept in
// $TOLVANE_TEST_ARTIFACTS/ui-import-walk (default $TMPDIR/tolvane-gui-artifacts/ui-import-walk).
#include "tests/ui/GtkWalkSupport.h"
// Below the walk's support, which includes Xlib last.
#include "tests/tools/RealSchemaDb.h"
#include "tests/ui/ImportFilesSupport.h"

namespace uitest {
namespace {

class GtkImportWalkTest : public GtkWalkFixture {
  protected:
    std::string ArtifactFolder() const override { return "ui-import-walk"; }

    // Layout coordinates of the main window (900 x 600).
    static constexpr int kImportCard[2] = {737, 457};
    static constexpr int kImportSms[2] = {333, 207};
    static constexpr int kImportContacts[2] = {333, 315};
    static constexpr int kStartImport[2] = {529, 374};
    static constexpr int kBoxOk[2] = {625, 379};  // "OK" of a 500 x 220 box centred on the window

    bool BoxShown() { return !VisibleWindow("^UIMessageBox$").empty(); }
};

TEST_F(GtkImportWalkTest, AnSmsExportAndAContactsDatabaseImportedByClicking) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    testenv::SimulatedPhone phone(options, {"rate=2"});  // a run long enough to photograph
    const std::string phoneSms = phone.FilePath("HomeDomain", kPhoneSmsPath);
    const std::string phoneContacts = phone.FilePath("HomeDomain", kPhoneContactsPath);
    const Rows messagesBefore = testkit::DumpRows(phoneSms, kMessageRows);
    ASSERT_EQ(messagesBefore.size(), 40u);
    Rows exported;
    Rows contacts;
    const std::string csv = WriteMessageExport(dir_.Path(), 9, 4001, &exported);
    const std::string db = WriteContactsDatabase(dir_.Path(), 6, &contacts);
    ASSERT_FALSE(csv.empty());
    ASSERT_FALSE(db.empty());
    ASSERT_NE(testkit::DumpRows(phoneContacts, kContactRows), contacts);

    const std::string log = dir_ / "tolvane.log";
    Child app({TOLVANE_PROGRAM}, log);
    ASSERT_TRUE(app.Started());
    ASSERT_TRUE(WaitFor([&] { return FindMainWindow(x_, y_); }, 15s)) << ReadText(log);
    ASSERT_TRUE(WaitFor([&] { return ReadText(log).find("connected!") != std::string::npos; }, 15s))
        << ReadText(log);
    std::this_thread::sleep_for(300ms);
    Shot("01-connected");

    ClickAt(kImportCard[0], kImportCard[1]);
    Shot("02-import-tab");

    // Nothing chosen: the box, and the phone untouched.
    ClickAt(kStartImport[0], kStartImport[1]);
    ASSERT_TRUE(WaitFor([&] { return BoxShown(); }, 10s));
    std::this_thread::sleep_for(300ms);
    Shot("03-nothing-chosen");
    ClickAt(kBoxOk[0], kBoxOk[1]);
    ASSERT_TRUE(WaitFor([&] { return !BoxShown(); }, 10s));

    // Both files through the open-file dialog.
    ClickAt(kImportSms[0], kImportSms[1]);
    Shot("04-open-file-dialog");
    ASSERT_TRUE(PickInOpenDialog(csv)) << ReadText(log);
    ClickAt(kImportContacts[0], kImportContacts[1]);
    ASSERT_TRUE(PickInOpenDialog(db)) << ReadText(log);
    std::this_thread::sleep_for(300ms);
    Shot("05-files-chosen");

    ClickAt(kStartImport[0], kStartImport[1]);
    ASSERT_TRUE(
        WaitFor([&] { return !VisibleWindow("^UIProWndImport$").empty() || BoxShown(); }, 15s));
    std::this_thread::sleep_for(700ms);
    Shot("06-importing");
    ASSERT_TRUE(WaitFor([&] { return BoxShown(); }, 120s)) << ReadText(log);
    std::this_thread::sleep_for(500ms);
    Shot("07-imported");

    // The phone holds its own messages and the exported ones, and the database's contacts.
    EXPECT_EQ(testkit::DumpRows(phoneSms, kMessageRows), JoinedRows(messagesBefore, exported));
    EXPECT_EQ(testkit::DumpRows(phoneContacts, kContactRows), contacts);
    EXPECT_EQ(testenv::ReadFile(phoneContacts), testenv::ReadFile(db));

    ClickAt(kBoxOk[0], kBoxOk[1]);
    ASSERT_TRUE(WaitFor([&] { return !BoxShown(); }, 10s));
    std::this_thread::sleep_for(300ms);
    Shot("08-home-again");

    ClickAt(879, 19);  // the caption's close button
    EXPECT_EQ(app.WaitExit(15s), std::optional<int>(0)) << ReadText(log);
}

}  // namespace
}  // namespace uitest
