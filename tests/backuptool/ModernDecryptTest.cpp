// The tool and the program's runner against backups of iOS 10 and later written by the simulated
// phone: Manifest.db decrypted under ManifestKey, the databases under the keys of their MBFile
// rows and cut at their padding, the two-step password key of 10.2 and later derived once, and
// damaged or hostile manifests refused with nothing written outside the output folder.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "backuptool/BackupDecryptor.h"
#include "backuptool/FileDecryption.h"
#include "backuptool/Keybag.h"
#include "backuptool/ToolSupport.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "store/EncryptedBackup.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::TempDir;

namespace {

constexpr char kSms[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContacts[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
const std::string kPassword = "Gr\u00fcne \u00c4pfel \U0001F34F";

std::vector<std::string> Names(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(folder, entries);
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A modern phone made by the simulator and one backup of it, written as another program leaves
// it on the computer.
class ModernBackup : public testing::Test {
  protected:
    void Make(const std::string& version, bool encrypted, uint32_t rounds = 1000) {
        const std::string devsim = testenv::SimulatedPhone::ProgramPath();
        testenv::CommandRun run =
            testenv::RunProgram({devsim, "make-device", phone_ / "device", "--messages", "25",
                                 "--contacts", "8", "--apps", "2", "--product-version", version,
                                 "--backup-rounds", std::to_string(rounds)});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        std::vector<std::string> argv = {devsim,          "write-backup", phone_ / "device",
                                         backups_.Path(), "--date",       "2024-03-07T18:05:09Z"};
        if (encrypted) {
            argv.insert(argv.end(), {"--encrypt", kPassword});
        }
        run = testenv::RunProgram(argv);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const std::vector<std::string> udids = Names(backups_.Path());
        ASSERT_EQ(udids.size(), 1u);
        backup_ = backups_ / udids[0];
        ASSERT_TRUE(platform::FileExists(backup_ + "/Manifest.db"));
        ASSERT_FALSE(platform::PathExists(backup_ + "/Manifest.mbdb"));
    }
    std::string PhoneFile(const std::string& path) const {
        return ReadFile(phone_ / "device/files/HomeDomain/" + path);
    }
    testenv::CommandRun Tool(const std::string& output, const std::string& password) {
        return testenv::RunProgram({std::string(TOLVANE_BIN_DIR) + "/tool", backup_, output, "-"},
                                   password + "\n");
    }

    // The key of Manifest.db, found with the tool's own pieces (the damage tests need it to
    // write a changed manifest the way the phone would).
    std::string ManifestKey() {
        std::string error;
        platform::PlistPtr manifest(backuptool::ReadPlistFile(backup_ + "/Manifest.plist", error));
        std::string bagBytes;
        std::string wrapped;
        backuptool::Keybag bag;
        backuptool::ClassKeys keys;
        std::string key;
        if (!manifest || !backuptool::PlistData(manifest.get(), "BackupKeyBag", bagBytes) ||
            !backuptool::PlistData(manifest.get(), "ManifestKey", wrapped) ||
            !backuptool::ParseKeybag(bagBytes, bag, error) ||
            backuptool::UnlockKeybag(bag, kPassword, keys.keys, error) !=
                backuptool::UnlockResult::Unlocked ||
            !backuptool::UnwrapFileKey(keys, wrapped, key, error)) {
            ADD_FAILURE() << "the manifest key cannot be found: " << error;
        }
        return key;
    }

    // Runs `sql` on the backup's Manifest.db and encrypts it again under its own key.
    void ChangeManifest(const std::string& sql) {
        const std::string key = ManifestKey();
        ASSERT_EQ(key.size(), 32u);
        TempDir work;
        std::string error;
        ASSERT_TRUE(
            backuptool::DecryptFile(backup_ + "/Manifest.db", work / "m.db", key, {}, error))
            << error;
        {
            sqlite3* raw = nullptr;
            ASSERT_EQ(sqlite3_open((work / "m.db").c_str(), &raw), SQLITE_OK);
            platform::SqlitePtr db(raw);
            char* message = nullptr;
            ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
                << (message != nullptr ? message : "");
            ASSERT_GT(sqlite3_changes(raw), 0) << sql;
        }
        testenv::WriteFile(backup_ + "/Manifest.db",
                           testenv::EncryptContents(key, ReadFile(work / "m.db")));
    }

    // Replaces (or, with an empty value, removes) ManifestKey in Manifest.plist.
    void SetManifestKey(const std::string& value) {
        std::string error;
        platform::PlistPtr manifest(backuptool::ReadPlistFile(backup_ + "/Manifest.plist", error));
        ASSERT_TRUE(manifest) << error;
        if (value.empty()) {
            plist_dict_remove_item(manifest.get(), "ManifestKey");
        } else {
            plist_dict_set_item(manifest.get(), "ManifestKey",
                                plist_new_data(value.data(), value.size()));
        }
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(manifest.get(), &xml, &length);
        ASSERT_NE(xml, nullptr);
        testenv::WriteFile(backup_ + "/Manifest.plist", std::string(xml, length));
        std::free(xml);
    }

    TempDir phone_;
    TempDir backups_;
    TempDir out_;
    std::string backup_;
};

}  // namespace

TEST_F(ModernBackup, RightPasswordGivesTheDatabasesAndTheManifestOfEveryVersion) {
    // 10.1 keeps the older keybag and a plain Manifest.db; 10.2 is the first with both steps and
    // an encrypted manifest.
    for (const std::string version : {"10.1", "10.2", "14.8", "18.1"}) {
        SCOPED_TRACE(version);
        testenv::RemoveTree(phone_ / "device");
        testenv::RemoveTree(backups_.Path());
        platform::CreateFolder(backups_.Path());
        Make(version, true);
        ASSERT_NE(ReadFile(backup_ + "/3d/" + kSms), PhoneFile("Library/SMS/sms.db"));
        const std::string output = out_ / version;
        const testenv::CommandRun run = Tool(output, kPassword);
        ASSERT_EQ(run.exitCode, backuptool::kExitOk) << run.output;
        EXPECT_EQ(ReadFile(output + "/" + kSms), PhoneFile("Library/SMS/sms.db"));
        EXPECT_EQ(ReadFile(output + "/" + kContacts),
                  PhoneFile("Library/AddressBook/AddressBook.sqlitedb"));
        EXPECT_EQ(Names(output), (std::vector<std::string>{kContacts, kSms, "Manifest.db"}));
        EXPECT_EQ(ReadFile(output + "/Manifest.db").substr(0, 16),
                  std::string("SQLite format 3\0", 16));
        if (version == "10.1") {
            EXPECT_EQ(ReadFile(output + "/Manifest.db"), ReadFile(backup_ + "/Manifest.db"));
            EXPECT_NE(run.output.find("Manifest.db: copied"), std::string::npos) << run.output;
        } else {
            EXPECT_NE(ReadFile(output + "/Manifest.db"), ReadFile(backup_ + "/Manifest.db"));
            EXPECT_NE(run.output.find("Manifest.db: decrypted"), std::string::npos) << run.output;
        }
        EXPECT_EQ(run.output.find(kPassword), std::string::npos);
    }
}

TEST_F(ModernBackup, WrongPasswordIsSaidAndNothingIsWritten) {
    Make("17.5", true);
    const testenv::CommandRun run = Tool(out_ / "o", "Gr\u00fcne Apfel");
    EXPECT_EQ(run.exitCode, backuptool::kExitWrongPassword) << run.output;
    EXPECT_NE(run.output.find("Wrong password"), std::string::npos);
    EXPECT_TRUE(Names(out_ / "o").empty());
}

TEST_F(ModernBackup, PlainBackupHasItsDatabasesAndManifestCopied) {
    Make("16.1", false);
    const testenv::CommandRun run = Tool(out_ / "o", "anything");
    ASSERT_EQ(run.exitCode, backuptool::kExitOk) << run.output;
    EXPECT_EQ(ReadFile(out_ / "o/" + kSms), PhoneFile("Library/SMS/sms.db"));
    EXPECT_EQ(ReadFile(out_ / "o/" + kContacts),
              PhoneFile("Library/AddressBook/AddressBook.sqlitedb"));
    EXPECT_EQ(ReadFile(out_ / "o/Manifest.db"), ReadFile(backup_ + "/Manifest.db"));
}

TEST_F(ModernBackup, LongDerivationRunsOnceAndShowsItsProgress) {
    Make("17.5", true, 300000);
    const testenv::CommandRun run = Tool(out_ / "o", kPassword);
    ASSERT_EQ(run.exitCode, backuptool::kExitOk) << run.output;
    size_t starts = 0;
    std::vector<int> percents;
    size_t at = 0;
    while ((at = run.output.find("Deriving the password key", at)) != std::string::npos) {
        const size_t end = run.output.find('\n', at);
        const std::string line = run.output.substr(at, end - at);
        if (line == "Deriving the password key (300000 rounds)") {
            ++starts;
        } else {
            percents.push_back(std::stoi(line.substr(line.find(": ") + 2)));
        }
        at = end;
    }
    EXPECT_EQ(starts, 1u) << run.output;
    ASSERT_FALSE(percents.empty()) << run.output;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
    EXPECT_LE(percents.size(), 10u);
    // The progress comes before the results, which need the key.
    EXPECT_LT(run.output.find("100%"), run.output.find(kSms));
}

TEST_F(ModernBackup, DamagedManifestOrManifestKeyFailsWithALine) {
    Make("17.5", true);
    const std::string good = ReadFile(backup_ + "/Manifest.db");
    const std::string plist = ReadFile(backup_ + "/Manifest.plist");
    struct Case {
        const char* name;
        std::function<void()> damage;
        const char* said;
    };
    const std::vector<Case> cases = {
        {"garbage", [&] { testenv::WriteFile(backup_ + "/Manifest.db", std::string(4096, 'g')); },
         "Manifest.db"},
        {"cut", [&] { testenv::WriteFile(backup_ + "/Manifest.db", good.substr(0, 1000)); },
         "blocks"},
        {"torn end",
         [&] {
             std::string torn = good;
             torn[torn.size() - 3] ^= 0x11;
             testenv::WriteFile(backup_ + "/Manifest.db", torn);
         },
         "damaged"},
        {"empty", [&] { testenv::WriteFile(backup_ + "/Manifest.db", ""); }, "Manifest.db"},
        {"key flipped",
         [&] { SetManifestKey(std::string("\x04\0\0\0", 4) + std::string(40, 'k')); },
         "ManifestKey"},
        {"key of an unknown class",
         [&] { SetManifestKey(std::string("\x63\0\0\0", 4) + std::string(40, 'k')); },
         "protection class 99"},
        {"key too short", [&] { SetManifestKey("short"); }, "ManifestKey"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testenv::WriteFile(backup_ + "/Manifest.db", good);
        testenv::WriteFile(backup_ + "/Manifest.plist", plist);
        c.damage();
        const std::string output = out_ / c.name;
        const testenv::CommandRun run = Tool(output, kPassword);
        EXPECT_EQ(run.exitCode, backuptool::kExitFailed) << run.output;
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("Wrong password"), std::string::npos) << run.output;
        EXPECT_TRUE(Names(output).empty()) << run.output;
    }
    EXPECT_EQ(Names(out_.Path()).size(), cases.size());
}

TEST_F(ModernBackup, MissingHostileOrDamagedRowsFailTheirDatabaseOnly) {
    Make("15.4", true);
    const std::string good = ReadFile(backup_ + "/Manifest.db");
    struct Case {
        const char* name;
        std::string sql;
    };
    const std::string sms = std::string("fileID='") + kSms + "'";
    const std::vector<Case> cases = {
        {"missing", "DELETE FROM Files WHERE " + sms},
        {"climbs out", "UPDATE Files SET relativePath='../../../../tmp/sms.db' WHERE " + sms},
        {"absolute", "UPDATE Files SET relativePath='/etc/passwd' WHERE " + sms},
        {"other domain", "UPDATE Files SET domain='MediaDomain' WHERE " + sms},
        {"folder", "UPDATE Files SET flags=2 WHERE " + sms},
        {"no archive", "UPDATE Files SET file=x'0102' WHERE " + sms},
        {"huge archive", "UPDATE Files SET file=zeroblob(3000000) WHERE " + sms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testenv::WriteFile(backup_ + "/Manifest.db", good);
        ChangeManifest(c.sql);
        const std::string output = out_ / ("o/" + std::string(c.name));
        const testenv::CommandRun run = Tool(output, kPassword);
        EXPECT_EQ(run.exitCode, backuptool::kExitFailed) << run.output;
        EXPECT_NE(run.output.find(std::string(kSms) + " (Library/SMS/sms.db): "), std::string::npos)
            << run.output;
        // The manifest itself was fine, and so is the other database.
        EXPECT_EQ(ReadFile(output + "/" + kContacts),
                  PhoneFile("Library/AddressBook/AddressBook.sqlitedb"))
            << run.output;
        EXPECT_FALSE(platform::PathExists(output + "/" + kSms));
    }
    // Nothing landed anywhere but in the output folders.
    EXPECT_EQ(Names(out_.Path()), (std::vector<std::string>{"o"}));
    EXPECT_FALSE(platform::PathExists("/tmp/sms.db"));
}

TEST_F(ModernBackup, DamagedOrSwappedDatabaseFileIsRefusedWithoutATornCopy) {
    Make("17.5", true);
    std::string stored = ReadFile(backup_ + "/3d/" + kSms);
    stored[0] ^= 0x5a;  // the first block, with the database's header, decrypts to noise
    testenv::WriteFile(backup_ + "/3d/" + kSms, stored);
    // The contacts database in the message database's place: its key does not fit.
    platform::DeleteFile(backup_ + "/31/" + kContacts);
    ASSERT_EQ(platform::CopyFileReplace(backup_ + "/3d/" + kSms, backup_ + "/31/" + kContacts), 0);
    const testenv::CommandRun run = Tool(out_ / "o", kPassword);
    EXPECT_EQ(run.exitCode, backuptool::kExitFailed) << run.output;
    EXPECT_EQ(Names(out_ / "o"), (std::vector<std::string>{"Manifest.db"})) << run.output;
}

TEST_F(ModernBackup, ProgramChecksThePasswordAndDecryptsThroughTheTool) {
    Make("17.5", true);
    IsolatedHome home;
    platform::SetProgramFolderForTesting(std::string(TOLVANE_BIN_DIR) + "/");
    EXPECT_EQ(tolvane::VerifyBackupPassword("Gr\u00fcne", backup_), platform::kResultWrongPassword);
    EXPECT_EQ(tolvane::VerifyBackupPassword(kPassword.c_str(), backup_), 0);
    // A check leaves no plain copy behind.
    EXPECT_TRUE(Names(tolvane::BackupToolOutputFolder()).empty());

    std::string out;
    ASSERT_EQ(tolvane::DecryptBackup(kPassword, backup_, out), 0);
    ASSERT_EQ(tolvane::ExposeDecryptedDatabases(out), 0);
    EXPECT_EQ(ReadFile(out + "/sms"), PhoneFile("Library/SMS/sms.db"));
    EXPECT_EQ(ReadFile(out + "/content"), PhoneFile("Library/AddressBook/AddressBook.sqlitedb"));
    EXPECT_TRUE(platform::FileExists(out + "/Manifest.db"));

    // A backup of the older layout next: the modern key files of the run before must not make
    // the tool read this one as modern, and its output holds no manifest of the other backup.
    TempDir older;
    testenv::BackupOptions options;
    options.password = "older";
    options.iterations = 100;
    testenv::WriteBackupFolder(
        older.Path(), {testenv::SmsDatabase("old messages"), testenv::ContactsDatabase("old book")},
        options);
    ASSERT_EQ(tolvane::DecryptBackup("older", older.Path(), out), 0);
    EXPECT_EQ(ReadFile(out + "/" + kSms), "old messages");
    EXPECT_FALSE(platform::PathExists(out + "/Manifest.db"));
    // And back to the modern one.
    ASSERT_EQ(tolvane::DecryptBackup(kPassword, backup_, out), 0);
    EXPECT_EQ(ReadFile(out + "/" + kSms), PhoneFile("Library/SMS/sms.db"));
    tolvane::DiscardDecryptedOutput();
    EXPECT_TRUE(Names(out).empty());
    platform::SetProgramFolderForTesting("");
}
