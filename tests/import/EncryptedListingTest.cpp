// Listing the messages and contacts of encrypted backups that the simulated phone writes as the
// other backup program leaves them: decrypted through the shipped tool, read from its output.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "data/DataTexts.h"
#include "data/Listing.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/EncryptedBackup.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"
#include "tests/tools/RealSchemaDb.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::TempDir;
using Lines = std::vector<std::wstring>;

namespace {

constexpr char kPassword[] = "s\xC3\xA9same 42";

// Runs a program to its end and returns its exit code; its output goes into `output`.
int RunProgram(const std::vector<std::string>& argv, std::string& output) {
    testenv::CommandRun run = testenv::RunProgram(argv, {}, 60000);
    output += run.output;
    return run.exitCode;
}

// The lines a listing must give, read from the phone's own database with the listing's rules.
Lines ExpectedMessages(const std::string& db) {
    Lines lines;
    for (const std::string& row : testkit::DumpRows(
             db,
             "select text from message where length(text) > 0 order by date desc, ROWID desc;")) {
        lines.push_back(platform::Utf8ToWide(row.substr(2)));  // without "t:"
    }
    return lines;
}

class EncryptedListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetProgramFolderForTesting(std::string(TOLVANE_BIN_DIR) + "/");
        const std::string devsim = testenv::SimulatedPhone::ProgramPath();
        std::string out;
        ASSERT_EQ(RunProgram({devsim, "make-device", phone_ / "device", "--messages", "25",
                              "--contacts", "9", "--seed", "7"},
                             out),
                  0)
            << out;
        ASSERT_EQ(RunProgram({devsim, "write-backup", phone_ / "device", backups_.Path(),
                              "--encrypt", kPassword},
                             out),
                  0)
            << out;
        std::vector<platform::DirEntry> entries;
        ASSERT_EQ(platform::ListFolder(backups_.Path(), entries), 0);
        ASSERT_EQ(entries.size(), 1u);
        folder_ = backups_ / entries[0].name;
    }
    void TearDown() override { platform::SetProgramFolderForTesting(""); }

    std::string PhoneFile(const std::string& path) const {
        return phone_ / ("device/files/HomeDomain/" + path);
    }

    IsolatedHome home_;
    TempDir phone_{"tolvane-phone"};
    TempDir backups_{"tolvane-backups"};
    std::string folder_;
    BackupEngine engine_;
};

TEST_F(EncryptedListingTest, WithItsPasswordTheBackupIsListedFromItsDecryptedDatabases) {
    Lines messages{L"old"};
    ASSERT_EQ(ListMessages(messages, folder_, engine_, kPassword, true), 0);
    const Lines expected = ExpectedMessages(PhoneFile("Library/SMS/sms.db"));
    ASSERT_GT(expected.size(), 10u);
    EXPECT_EQ(messages, expected);

    // The contacts are the phone's, in the order of their first names.
    Lines contacts;
    ASSERT_EQ(ListContacts(contacts, folder_, engine_, kPassword, true), 0);
    const size_t people = testkit::DumpRows(PhoneFile("Library/AddressBook/AddressBook.sqlitedb"),
                                            "select docid from ABPersonFullTextSearch_content;")
                              .size();
    EXPECT_EQ(contacts.size(), people);
    const std::vector<std::string> firstNames = testkit::DumpRows(
        PhoneFile("Library/AddressBook/AddressBook.sqlitedb"),
        "select c0first from ABPersonFullTextSearch_content order by c0first limit 1;");
    ASSERT_EQ(firstNames.size(), 1u);
    EXPECT_EQ(contacts.front().rfind(platform::Utf8ToWide(firstNames[0].substr(2)), 0), 0u);
    // Every person's first phone number is shown whole, blanks and all ("+49 151 2345678").
    const std::vector<std::string> numbers =
        testkit::DumpRows(PhoneFile("Library/AddressBook/AddressBook.sqlitedb"),
                          "select value from ABMultiValue where property = 3 and identifier = 0;");
    ASSERT_FALSE(numbers.empty());
    for (const std::string& number : numbers) {
        const std::wstring wide = platform::Utf8ToWide(number.substr(2));
        EXPECT_TRUE(std::any_of(contacts.begin(), contacts.end(), [&](const std::wstring& line) {
            return line.size() > wide.size() && line.ends_with(L" " + wide);
        })) << number;
    }

    // No plain copy of the databases stays behind, after a listing or a password check.
    EXPECT_EQ(testenv::FilesUnder(BackupToolOutputFolder()), std::vector<std::string>{});
    EXPECT_EQ(VerifyBackupPassword(kPassword, folder_), 0);
    EXPECT_EQ(testenv::FilesUnder(BackupToolOutputFolder()), std::vector<std::string>{});
}

TEST_F(EncryptedListingTest, AWrongOrMissingPasswordLeavesTheListAsItWas) {
    Lines lines{L"kept"};
    EXPECT_EQ(ListMessages(lines, folder_, engine_, "not it", true),
              platform::kResultWrongPassword);
    EXPECT_EQ(ListContacts(lines, folder_, engine_, "not it", true),
              platform::kResultWrongPassword);
    EXPECT_EQ(engine_.FailureOf(platform::kResultWrongPassword), platform::Failure::WrongPassword);
    EXPECT_EQ(lines, Lines{L"kept"});

    // Without a password the encrypted file cannot be read: the listing says that the backup is
    // encrypted and needs its password (the code stays 1006).
    EXPECT_EQ(ListMessages(lines, folder_, engine_, nullptr, true), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListEncryptedBackupText);
    engine_.SetLastErrorText("");
    EXPECT_EQ(ListContacts(lines, folder_, engine_, "", true), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListEncryptedBackupText);
    EXPECT_EQ(lines, Lines{L"kept"});
}

TEST_F(EncryptedListingTest, WithoutTheToolTheListingEndsWithTheDecryptionsCode) {
    Lines lines;
    ASSERT_EQ(ListMessages(lines, folder_, engine_, kPassword, true), 0);
    // Without the tool nothing can be decrypted, and the last run's output is not read instead.
    TempDir noTool;
    platform::SetProgramFolderForTesting(noTool.Path() + "/");
    platform::DeleteFile(BackupToolCopyPath());
    Lines kept{L"kept"};
    EXPECT_EQ(ListMessages(kept, folder_, engine_, kPassword, true), platform::kResultMissing);
    EXPECT_EQ(kept, Lines{L"kept"});
}

}  // namespace
