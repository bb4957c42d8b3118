// The tool and the store against backup folders that the simulated phone writes: its encryption
// is its own code written from the same format page, so these tests show that the two agree.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Results.h"
#include "platform/Sha1.h"
#include "platform/Strings.h"
#include "store/CategoryRestore.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"
#include "store/Manifest.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::TempDir;

namespace {

constexpr char kSms[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContacts[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
constexpr char kPassword[] = "pass w\u00f6rd";

// Runs a program to its end; its exit code, and its output in `output`.
int RunProgram(const std::vector<std::string>& argv, const std::string& input,
               std::string* output) {
    testenv::CommandRun run = testenv::RunProgram(argv, input, 30000);
    if (output != nullptr) {
        *output = std::move(run.output);
    }
    return run.exitCode;
}

// A phone made by the simulator and one backup of it written as another program leaves it.
class PhoneBackup : public testing::Test {
  protected:
    void Make(const std::vector<std::string>& writeOptions) {
        const std::string devsim = testenv::SimulatedPhone::ProgramPath();
        std::string out;
        ASSERT_EQ(RunProgram({devsim, "make-device", phone_ / "device", "--messages", "30",
                              "--contacts", "12", "--apps", "3"},
                             "", &out),
                  0)
            << out;
        std::vector<std::string> argv = {devsim,          "write-backup", phone_ / "device",
                                         backups_.Path(), "--date",       "2015-03-07T18:05:09Z"};
        argv.insert(argv.end(), writeOptions.begin(), writeOptions.end());
        ASSERT_EQ(RunProgram(argv, "", &out), 0) << out;
        std::vector<platform::DirEntry> entries;
        ASSERT_EQ(platform::ListFolder(backups_.Path(), entries), 0);
        ASSERT_EQ(entries.size(), 1u);
        udid_ = entries[0].name;
    }
    std::string Backup() const { return backups_ / udid_; }
    std::string PhoneFile(const std::string& path) const {
        return ReadFile(phone_ / "device/files/HomeDomain/" + path);
    }

    TempDir phone_;
    TempDir backups_;
    std::string udid_;
};

}  // namespace

TEST_F(PhoneBackup, ToolDecryptsWhatThePhoneEncryptedAndRefusesAWrongPassword) {
    Make({"--encrypt", kPassword});
    EXPECT_NE(ReadFile(Backup() + "/" + kSms), PhoneFile("Library/SMS/sms.db"));
    const std::string tool = std::string(TOLVANE_BIN_DIR) + "/tool";
    TempDir out;
    std::string printed;

    EXPECT_EQ(
        RunProgram({tool, Backup(), out / "right", "-"}, std::string(kPassword) + "\n", &printed),
        0)
        << printed;
    EXPECT_EQ(ReadFile(out / "right/" + kSms), PhoneFile("Library/SMS/sms.db"));
    EXPECT_EQ(ReadFile(out / "right/" + kContacts),
              PhoneFile("Library/AddressBook/AddressBook.sqlitedb"));

    EXPECT_EQ(RunProgram({tool, Backup(), out / "wrong", "-"}, "pass word\n", &printed), 2);
    EXPECT_NE(printed.find("Wrong password"), std::string::npos);
    EXPECT_FALSE(platform::PathExists(out / "wrong/" + kSms));
}

TEST_F(PhoneBackup, ProgramOpensThePhonesEncryptedBackupThroughTheTool) {
    Make({"--encrypt", kPassword});
    IsolatedHome home;
    platform::SetProgramFolderForTesting(std::string(TOLVANE_BIN_DIR) + "/");
    const std::string folder = Backup();
    EXPECT_EQ(tolvane::VerifyBackupPassword("pass word", folder), platform::kResultWrongPassword);
    std::string out;
    ASSERT_EQ(tolvane::DecryptBackup(kPassword, folder, out), 0);
    ASSERT_EQ(tolvane::ExposeDecryptedDatabases(out), 0);
    EXPECT_EQ(ReadFile(out + "/sms"), PhoneFile("Library/SMS/sms.db"));
    EXPECT_EQ(ReadFile(out + "/content"), PhoneFile("Library/AddressBook/AddressBook.sqlitedb"));
    platform::SetProgramFolderForTesting("");
}

TEST_F(PhoneBackup, CategoryPreparationKeepsThePhonesManifestWhole) {
    Make({});
    const std::string manifest = Backup() + "/Manifest.mbdb";
    size_t records = 0;
    size_t apps = 0;
    std::string bytes = ReadFile(manifest);
    ASSERT_EQ(tolvane::WalkMbdbRecords(bytes,
                                       [&](const tolvane::MbdbRecordSpan& r) {
                                           ++records;
                                           apps += r.domain.starts_with("AppDomain") ? 1 : 0;
                                       }),
              0);
    ASSERT_GT(apps, 0u);

    TempDir source;
    testenv::WriteFile(source / "sms", "a message database from elsewhere");
    const std::string sourceFolder = source.Path();
    ASSERT_EQ(tolvane::PrepareCategoryRestore(tolvane::Sms, udid_, &sourceFolder, backups_.Path()),
              0);

    bytes = ReadFile(manifest);
    size_t kept = 0;
    std::string smsDigest;
    ASSERT_EQ(tolvane::WalkMbdbRecords(bytes,
                                       [&](const tolvane::MbdbRecordSpan& r) {
                                           ++kept;
                                           EXPECT_FALSE(r.domain.starts_with("AppDomain"));
                                           if (r.domain == "HomeDomain" &&
                                               r.path == "Library/SMS/sms.db") {
                                               smsDigest = bytes.substr(r.digestField + 2, 20);
                                           }
                                       }),
              0);
    EXPECT_EQ(kept, records - apps);
    const platform::Sha1Digest expected = platform::Sha1Of("a message database from elsewhere");
    EXPECT_EQ(smsDigest, std::string(reinterpret_cast<const char*>(expected.data()), 20));
}
