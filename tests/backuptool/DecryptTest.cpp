// The tool against whole backup folders: in process, as the shipped program, and through the
// program's runner.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "backuptool/BackupDecryptor.h"
#include "backuptool/FileDecryption.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Process.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/EncryptedBackup.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/MbdbWriter.h"
#include "tests/support/TestEnv.h"

using namespace backuptool;
using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr char kSms[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContacts[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";

// Database-like contents of a given size that are not all one byte.
std::string Contents(size_t size, char seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(seed + i * 31 + (i >> 8));
    }
    return s;
}

DecryptOptions Sized(uint64_t plainSize) {
    DecryptOptions options;
    options.plainSize = plainSize;
    return options;
}

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

// Runs the shipped tool with `args`, writing `input` to its standard input.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {std::string(TOLVANE_BIN_DIR) + "/tool"};
    argv.insert(argv.end(), args.begin(), args.end());
    ToolRun run;
    auto child = platform::ChildProcess::Start(argv);
    if (!child) {
        ADD_FAILURE() << "tool cannot be started";
        return run;
    }
    child->WriteInput(input);
    child->CloseInput();
    char buf[4096];
    for (;;) {
        const int waiting = child->Peek(10000);
        if (waiting < 0) {
            break;
        }
        const long n = child->Read(buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        run.output.append(buf, static_cast<size_t>(n));
    }
    child->Wait(-1, &run.exitCode);
    return run;
}

class EncryptedFolder : public testing::Test {
  protected:
    void Write(const testenv::BackupOptions& options) {
        testenv::WriteBackupFolder(backup_.Path(),
                                   {testenv::BackupFile{"MediaDomain", "Media/a.jpg", "jpeg", 4},
                                    testenv::SmsDatabase(sms_), testenv::ContactsDatabase(book_)},
                                   options);
    }
    TempDir backup_;
    TempDir out_;
    std::string sms_ = Contents(100000, 'S');
    std::string book_ = Contents(4096, 'C');  // a whole number of blocks: one padding block
};

}  // namespace

TEST_F(EncryptedFolder, HashedNamesOfTheWriterAreTheWellKnownOnes) {
    EXPECT_EQ(testenv::HashedName("HomeDomain", "Library/SMS/sms.db"), kSms);
    EXPECT_EQ(testenv::HashedName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"),
              kContacts);
}

TEST_F(EncryptedFolder, RightPasswordGivesThePlainDatabases) {
    testenv::BackupOptions options;
    options.password = "p\u00e4ss w\u00f6rd";
    options.iterations = 1000;
    Write(options);
    EXPECT_NE(ReadFile(backup_ / kSms), sms_);  // really encrypted
    testing::internal::CaptureStdout();
    const int exit = DecryptDatabases(backup_.Path(), out_ / "new/out", options.password, stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exit, kExitOk) << printed;
    EXPECT_EQ(ReadFile(out_ / "new/out/" + kSms), sms_);
    EXPECT_EQ(ReadFile(out_ / "new/out/" + kContacts), book_);
    EXPECT_FALSE(platform::PathExists(out_ / "new/out/" +
                                      testenv::HashedName("MediaDomain", "Media/a.jpg")));
    EXPECT_EQ(printed.find(options.password), std::string::npos);
}

TEST_F(EncryptedFolder, WrongPasswordIsSaidAndNothingIsWritten) {
    testenv::BackupOptions options;
    options.iterations = 1000;
    Write(options);
    testing::internal::CaptureStdout();
    const int exit = DecryptDatabases(backup_.Path(), out_.Path(), "Secret", stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exit, kExitWrongPassword);
    EXPECT_EQ(printed, "Wrong password\n");
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::ListFolder(out_.Path(), entries), 0);
    EXPECT_TRUE(entries.empty());
}

TEST_F(EncryptedFolder, BinaryManifestPlistAndPlainBackups) {
    testenv::BackupOptions options;
    options.iterations = 1000;
    options.binaryManifestPlist = true;
    Write(options);
    testing::internal::CaptureStdout();
    EXPECT_EQ(DecryptDatabases(backup_.Path(), out_.Path(), options.password, stdout), kExitOk);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadFile(out_ / kSms), sms_);

    TempDir plain;
    testenv::BackupOptions none;
    none.encrypted = false;
    testenv::WriteBackupFolder(plain.Path(), {testenv::SmsDatabase("plain sms")}, none);
    testing::internal::CaptureStdout();
    // The contacts database is missing from this backup: the messages still come out.
    EXPECT_EQ(DecryptDatabases(plain.Path(), out_ / "plain", "", stdout), kExitFailed);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadFile(out_ / "plain/" + kSms), "plain sms");
}

TEST_F(EncryptedFolder, DamagedInputsFailWithALineAndLeaveNoTornDatabase) {
    testenv::BackupOptions options;
    options.iterations = 1000;
    Write(options);
    const std::string mbdb = ReadFile(backup_ / "Manifest.mbdb");
    const std::string encryptedSms = ReadFile(backup_ / kSms);
    struct Case {
        const char* name;
        std::string file;
        std::string contents;
    };
    const std::vector<Case> cases = {
        {"manifest cut", "Manifest.mbdb", mbdb.substr(0, mbdb.size() - 10)},
        {"no manifest magic", "Manifest.mbdb", "xxxx" + mbdb.substr(4)},
        {"database cut", kSms, encryptedSms.substr(0, encryptedSms.size() - 32)},
        {"database not in blocks", kSms, encryptedSms.substr(0, encryptedSms.size() - 1)},
        {"no keybag", "Manifest.plist", testenv::ManifestPlist(true, "", false)},
        {"keybag cut", "Manifest.plist",
         testenv::ManifestPlist(true, testenv::BuildKeybag(options.salt, 1000, {}).substr(0, 30),
                                false)},
        {"plist garbage", "Manifest.plist", "garbage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir copy;
        for (const char* name :
             {"Manifest.mbdb", "Manifest.plist", "Info.plist", kSms, kContacts}) {
            WriteFile(copy / name, ReadFile(backup_ / name));
        }
        WriteFile(copy / c.file, c.contents);
        TempDir out;
        testing::internal::CaptureStdout();
        const int exit = DecryptDatabases(copy.Path(), out.Path(), options.password, stdout);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(exit, kExitFailed);
        EXPECT_NE(printed.find_first_not_of(" \n"), std::string::npos);
        EXPECT_EQ(printed.find("Wrong password"), std::string::npos);
        EXPECT_FALSE(platform::PathExists(out / kSms) &&
                     ReadFile(out / kSms) != sms_);  // never a torn or wrong database
        std::vector<platform::DirEntry> entries;
        platform::ListFolder(out.Path(), entries);
        for (const auto& e : entries) {
            EXPECT_NE(e.name.front(), '.') << e.name;  // no partial file left
        }
    }
}

TEST(DecryptFile, CutsToThePlainSizeAcrossChunks) {
    TempDir dir;
    const std::string key = testenv::RandomBytes(32);
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{3 * 1024 * 1024 + 5}}) {
        SCOPED_TRACE(size);
        const std::string plain = Contents(size, 'p');
        WriteFile(dir / "enc", testenv::EncryptContents(key, plain));
        std::string error;
        ASSERT_TRUE(DecryptFile(dir / "enc", dir / "plain", key, Sized(size), error)) << error;
        EXPECT_EQ(ReadFile(dir / "plain"), plain);
    }
    std::string error;
    EXPECT_FALSE(DecryptFile(dir / "enc", dir / "plain2", key, Sized(3 * 1024 * 1024 + 17), error));
    EXPECT_FALSE(platform::PathExists(dir / "plain2"));
    EXPECT_FALSE(DecryptFile(dir / "missing", dir / "plain2", key, Sized(1), error));
    EXPECT_FALSE(error.empty());
}

TEST(DecryptFile, CutsAtThePaddingAcrossChunksWhateverTheRecordSays) {
    TempDir dir;
    const std::string key = testenv::RandomBytes(32);
    // Around the 1 MiB pieces too: the last block may be the only one of its piece.
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{(1 << 20) - 16},
          size_t{(1 << 20) - 1}, size_t{1 << 20}, size_t{3 * 1024 * 1024 + 5}}) {
        SCOPED_TRACE(size);
        const std::string plain = Contents(size, 'q');
        WriteFile(dir / "enc", testenv::EncryptContents(key, plain));
        std::string error;
        uint64_t written = 0;
        ASSERT_TRUE(DecryptFile(dir / "enc", dir / "plain", key, {}, error, &written)) << error;
        EXPECT_EQ(ReadFile(dir / "plain"), plain);
        EXPECT_EQ(written, size);
    }
}

TEST(DecryptFile, RefusesBadPaddingAWrongStartAndOversizedFilesWithoutATornTarget) {
    TempDir dir;
    // Fixed keys: a random wrong key would give a valid padding byte once in 256 runs.
    const std::string key(32, 'k');
    const std::string wrongKey(32, 'w');
    // Two pages of 4096 bytes, as the header's bytes 16 and 17 say.
    std::string database = std::string("SQLite format 3\0\x10\0", 18) + Contents(8192 - 18, 'd');
    const std::string encrypted = testenv::EncryptContents(key, database);
    std::string error;
    const auto refused = [&](const std::string& bytes, const DecryptOptions& options,
                             const std::string& withKey) {
        WriteFile(dir / "enc", bytes);
        error.clear();
        const bool ok = DecryptFile(dir / "enc", dir / "out", withKey, options, error);
        std::vector<platform::DirEntry> entries;
        platform::ListFolder(dir.Path(), entries);
        EXPECT_EQ(entries.size(), 1u) << "a refused file leaves nothing beside its source";
        EXPECT_FALSE(ok || error.empty());
        return !ok;
    };
    DecryptOptions database16;
    database16.expectedStart = std::string_view("SQLite format 3\0", 16);

    // A wrong key: the start and (with almost certainty) the padding are wrong.
    EXPECT_TRUE(refused(encrypted, database16, wrongKey));
    EXPECT_TRUE(refused(encrypted, {}, wrongKey));
    // The last block damaged, or cut off, or the file not a whole number of blocks.
    std::string damaged = encrypted;
    damaged.back() ^= 0x40;
    EXPECT_TRUE(refused(damaged, database16, key));
    EXPECT_NE(error.find("padding"), std::string::npos) << error;
    EXPECT_TRUE(refused(encrypted.substr(0, encrypted.size() - 16), database16, key));
    EXPECT_TRUE(refused(encrypted.substr(0, encrypted.size() - 1), database16, key));
    EXPECT_TRUE(refused("", {}, key));
    // Something that is no database.
    EXPECT_TRUE(refused(testenv::EncryptContents(key, Contents(5000, 'x')), database16, key));
    // Damage in the block before the last that turns the full padding block's last byte into a
    // valid 01: only the page count shows it.
    std::string repadded = encrypted;
    repadded[repadded.size() - 17] ^= 0x10 ^ 0x01;
    DecryptOptions pages = database16;
    pages.wholeSqlitePages = true;
    WriteFile(dir / "enc", repadded);
    uint64_t written = 0;
    ASSERT_TRUE(DecryptFile(dir / "enc", dir / "out", key, database16, error, &written)) << error;
    EXPECT_EQ(written, database.size() + 15);
    platform::DeleteFile(dir / "out");
    EXPECT_TRUE(refused(repadded, pages, key));
    EXPECT_NE(error.find("page"), std::string::npos) << error;
    // A header whose page size is no power of two.
    std::string oddPages = database;
    oddPages[17] = '\x01';
    EXPECT_TRUE(refused(testenv::EncryptContents(key, oddPages), pages, key));
    // Larger than allowed.
    DecryptOptions small = database16;
    small.maxBytes = encrypted.size() - 16;
    EXPECT_TRUE(refused(encrypted, small, key));

    WriteFile(dir / "enc", encrypted);
    ASSERT_TRUE(DecryptFile(dir / "enc", dir / "out", key, pages, error)) << error;
    EXPECT_EQ(ReadFile(dir / "out"), database);
}

TEST(Tool, ShippedProgramReadsThePasswordFromStandardInput) {
    TempDir backup;
    TempDir out;
    testenv::BackupOptions options;
    options.password = "with blank and \u4e2d";
    options.iterations = 1000;
    testenv::WriteBackupFolder(
        backup.Path(), {testenv::SmsDatabase("messages"), testenv::ContactsDatabase("book")},
        options);
    const std::string output = out / "folder with blanks";

    ToolRun run = RunTool({backup.Path(), output, "-"}, options.password + "\n");
    EXPECT_EQ(run.exitCode, kExitOk) << run.output;
    EXPECT_EQ(ReadFile(output + "/" + kSms), "messages");
    EXPECT_EQ(ReadFile(output + "/" + kContacts), "book");
    EXPECT_EQ(run.output.find(options.password), std::string::npos);

    run = RunTool({backup.Path(), out / "wrong", "-"}, "with blank\n");
    EXPECT_EQ(run.exitCode, kExitWrongPassword);
    EXPECT_NE(run.output.find("Wrong password"), std::string::npos);
    EXPECT_FALSE(platform::PathExists(out / "wrong/" + kSms));

    // For manual use the password may be the argument itself; a line end in CR LF is accepted.
    run = RunTool({backup.Path(), out / "arg", options.password}, "");
    EXPECT_EQ(run.exitCode, kExitOk) << run.output;
    run = RunTool({backup.Path(), out / "crlf", "-"}, options.password + "\r\n");
    EXPECT_EQ(run.exitCode, kExitOk) << run.output;

    run = RunTool({backup.Path(), out / "x"}, "");
    EXPECT_EQ(run.exitCode, kExitUsage);
}

TEST(Tool, RunnerOfTheProgramAndTheShippedToolWorkTogether) {
    IsolatedHome home;
    platform::SetProgramFolderForTesting(std::string(TOLVANE_BIN_DIR) + "/");
    TempDir backup;
    testenv::BackupOptions options;
    options.password = "right password";
    testenv::WriteBackupFolder(
        backup.Path(), {testenv::SmsDatabase("messages"), testenv::ContactsDatabase("book")},
        options);
    const std::string folder = backup.Path();

    EXPECT_EQ(tolvane::VerifyBackupPassword("wrong password", folder),
              platform::kResultWrongPassword);
    EXPECT_EQ(tolvane::VerifyBackupPassword("right password", folder), 0);

    std::string out;
    ASSERT_EQ(tolvane::DecryptBackup("right password", folder, out), 0);
    ASSERT_EQ(tolvane::ExposeDecryptedDatabases(out), 0);
    EXPECT_EQ(ReadFile(out + "/sms"), "messages");
    EXPECT_EQ(ReadFile(out + "/content"), "book");
    platform::SetProgramFolderForTesting("");
}
