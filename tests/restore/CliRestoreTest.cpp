// `tolvanectl restore` against the simulated phone: what a script sees (exit status, output,
// progress) and what the phone holds afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "tests/restore/RestoreFixture.h"
#include "tests/support/Programs.h"

using namespace restoretest;
using testenv::CommandRun;
using testenv::RunTolvanectl;
using tolvane::BackupEntry;
using tolvane::Full;
using tolvane::ListOwnBackups;
using tolvane::Sms;
using Lines = std::vector<std::string>;

namespace {

class CliRestore : public RestoreTest {};

TEST_F(CliRestore, EncryptedBackupByCategoryAndWhole) {
    StartPhone();
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw"});
    Scribble(*phone_, kSmsPath);
    Scribble(*phone_, kContactsPath);
    const PhoneFiles changed = ReadPhoneFiles(*phone_);
    engine_.CloseDevice();  // the command opens its own session

    CommandRun run = RunTolvanectl({"restore", backup, "--itunes", "--sms"});
    EXPECT_EQ(run.exitCode, 86) << run.output;
    EXPECT_NE(run.output.find("--password"), std::string::npos) << run.output;
    run = RunTolvanectl({"restore", backup, "--itunes", "--password", "wrong"});
    EXPECT_EQ(run.exitCode, 86) << run.output;
    EXPECT_NE(run.output.find("error: the backup password is not correct (code 86)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});

    run = RunTolvanectl({"restore", backup, "--itunes", "--sms", "--password", "pw"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const PhoneFiles after = ReadPhoneFiles(*phone_);
    EXPECT_TRUE(after.at(kSmsPath) == atBackup.at(kSmsPath));
    EXPECT_TRUE(after.at(kContactsPath) == changed.at(kContactsPath));
    // Progress of the fresh backup, then of the restore.
    const size_t backingUp = run.output.find("Backing up: ");
    const size_t restoring = run.output.find("Restoring: ");
    EXPECT_NE(backingUp, std::string::npos) << run.output;
    EXPECT_NE(restoring, std::string::npos) << run.output;
    EXPECT_LT(backingUp, restoring);
    EXPECT_NE(run.output.find("Restore complete"), std::string::npos) << run.output;

    run = RunTolvanectl({"restore", backup, "--itunes", "--full", "--password", "pw"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Differences(atBackup, ReadPhoneFiles(*phone_)), Lines{});
}

TEST_F(CliRestore, LongPasswordCheckOfAnEncryptedNewerBackupShowsItsProgress) {
    testenv::PhoneOptions modern;
    modern.productVersion = "17.5";
    modern.backupRounds = 200000;
    StartPhone(modern);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw"});
    engine_.CloseDevice();

    const CommandRun run = RunTolvanectl({"restore", backup, "--itunes", "--password", "wrong"});
    EXPECT_EQ(run.exitCode, 86) << run.output;
    const size_t first = run.output.find("Checking the backup password: 10%\n");
    const size_t last = run.output.find("Checking the backup password: 100%\n");
    EXPECT_NE(first, std::string::npos) << run.output;
    EXPECT_NE(last, std::string::npos) << run.output;
    EXPECT_LT(first, last);
    EXPECT_LT(last, run.output.find("the backup password is not correct")) << run.output;
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
}

TEST_F(CliRestore, FailuresGiveTheirCodeAndThePhonesText) {
    StartPhone({}, {"refuse-restore=204:The backup is incomplete"});
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    engine_.CloseDevice();

    CommandRun run = RunTolvanectl({"restore", backup, "--itunes"});
    EXPECT_EQ(run.exitCode, 1) << run.output;  // -204 clamped
    EXPECT_NE(run.output.find("error: The backup is incomplete (code -204)"), std::string::npos)
        << run.output;
    run = RunTolvanectl({"restore", home_.Home() + "/nothing here"});
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("error: the backup folder does not exist, or its backup did not "
                              "finish (code 2)"),
              std::string::npos)
        << run.output;
    run = RunTolvanectl({"restore"});
    EXPECT_EQ(run.exitCode, 64) << run.output;
}

// 2 is a cancel, a missing file and a backup without its device folder; the messages say which.
TEST_F(CliRestore, AMissingDatabaseIsNamedAsSuchNotAsACancel) {
    StartPhone();
    engine_.CloseDevice();
    CommandRun run = RunTolvanectl({"backup", "--contacts", "--folder", base_});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<BackupEntry> own;
    ListOwnBackups(base_, own);
    ASSERT_EQ(own.size(), 1u);

    // The contacts-only backup has no messages to restore; the phone is not asked.
    run = RunTolvanectl({"restore", own[0].folder, "--sms"});
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("error: the backup holds no database of the chosen kind (code 2)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(EventsStartingWith(*phone_, "backup started"), Lines{"backup started"});

    // A phone without its message database: its backup has nothing to copy.
    ASSERT_EQ(platform::DeleteFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")), 0);
    run = RunTolvanectl({"backup", "--sms", "--folder", base_});
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find("error: the phone has no message database (code 2)"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("cancelled"), std::string::npos) << run.output;
}

// A file name need not be UTF-8. A backup folder whose name is not makes the whole trip: backed
// up into, found in the catalogue, listed, and restored from, whole and by category.
TEST_F(CliRestore, AFolderWhoseNameIsNotUtf8WorksAsAnyOther) {
    StartPhone();
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    engine_.CloseDevice();
    // Latin-1 e-acute and a byte that never occurs in UTF-8.
    const std::string root = home_.Home() + "/Sauvegardes caf\xE9 \xFF";
    ASSERT_TRUE(platform::Utf8ToWide(root).empty());  // really not UTF-8

    CommandRun run = RunTolvanectl({"backup", "--full", "--folder", root});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = RunTolvanectl({"backup", "--sms", "--folder", root});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    std::vector<BackupEntry> own;
    ListOwnBackups(root, own);
    ASSERT_EQ(own.size(), 2u);
    const BackupEntry& messagesOnly = own[0];  // newest first
    const BackupEntry& whole = own[1];
    EXPECT_EQ(messagesOnly.categories, static_cast<int32_t>(Sms));
    EXPECT_EQ(whole.categories, static_cast<int32_t>(Full));
    for (const BackupEntry* e : {&messagesOnly, &whole}) {
        EXPECT_EQ(e->folder.rfind(root + "/", 0), 0u) << e->folder;
    }
    EXPECT_NE(run.output.find("Backup complete: " + messagesOnly.folder), std::string::npos)
        << run.output;

    // Both backups list the same messages.
    const CommandRun fromWhole = RunTolvanectl({"messages", whole.folder});
    const CommandRun fromCopy = RunTolvanectl({"messages", messagesOnly.folder});
    ASSERT_EQ(fromWhole.exitCode, 0) << fromWhole.output;
    ASSERT_EQ(fromCopy.exitCode, 0) << fromCopy.output;
    EXPECT_EQ(fromWhole.output, fromCopy.output);
    EXPECT_GT(std::atoi(fromWhole.output.c_str()), 10) << fromWhole.output;
    EXPECT_NE(fromWhole.output.find(" messages\n"), std::string::npos) << fromWhole.output;

    Scribble(*phone_, kSmsPath);
    Scribble(*phone_, kContactsPath);
    run = RunTolvanectl({"restore", messagesOnly.folder, "--sms"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    PhoneFiles now = ReadPhoneFiles(*phone_);
    EXPECT_TRUE(now.at(kSmsPath) == atBackup.at(kSmsPath));
    EXPECT_FALSE(now.at(kContactsPath) == atBackup.at(kContactsPath));

    run = RunTolvanectl({"restore", whole.folder});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Differences(atBackup, ReadPhoneFiles(*phone_)), Lines{});
}

}  // namespace

namespace {

// The line of `list` output that names `folder`, split at its tabs.
std::vector<std::string> ListedColumns(const std::string& output, const std::string& folder) {
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string line = output.substr(start, end - start);
        if (line.size() >= folder.size() &&
            line.compare(line.size() - folder.size(), folder.size(), folder) == 0) {
            std::vector<std::string> columns;
            size_t from = 0;
            for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
                columns.push_back(line.substr(from, tab - from));
            }
            columns.push_back(line.substr(from));
            return columns;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

TEST_F(CliRestore, InfoAndListTellEachGenerationsFormat) {
    const std::string itunes = platform::ItunesBackupFolder();
    std::vector<std::string> folders;  // own backups, in the order made
    for (const char* version : {"17.5", ""}) {
        engine_.CloseDevice();
        phone_.reset();
        testenv::PhoneOptions options;
        options.productVersion = version;
        options.seed = version[0] != '\0' ? 1 : 2;  // two phones, two device folders
        StartPhone(options);
        WriteOtherProgramsBackup(*phone_, itunes);
        engine_.CloseDevice();  // the commands open their own sessions

        CommandRun run = RunTolvanectl({"info"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const std::string expected =
            std::string("Backup format: ") + (version[0] != '\0' ? "Manifest.db" : "Manifest.mbdb");
        EXPECT_NE(run.output.find(expected), std::string::npos) << run.output;

        run = RunTolvanectl({"backup", "--full"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        const std::string done = "Backup complete: ";
        const size_t at = run.output.rfind(done);
        ASSERT_NE(at, std::string::npos) << run.output;
        std::string folder = run.output.substr(at + done.size());
        folder = folder.substr(0, folder.find('\n'));
        folders.push_back(folder);
        // Timestamped folders are named by the second.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }

    CommandRun run = RunTolvanectl({"list"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<std::string> newer = ListedColumns(run.output, folders[0]);
    const std::vector<std::string> older = ListedColumns(run.output, folders[1]);
    ASSERT_EQ(newer.size(), 7u) << run.output;
    ASSERT_EQ(older.size(), 7u) << run.output;
    EXPECT_EQ(newer[1], "full");
    EXPECT_EQ(newer[2], "plain");
    EXPECT_EQ(newer[3], "Manifest.db");
    EXPECT_EQ(older[3], "Manifest.mbdb");
    EXPECT_NE(newer[4].find(", new data "), std::string::npos) << newer[4];

    run = RunTolvanectl({"list", "--itunes"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\tfull\tplain\tManifest.db\t"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\tfull\tplain\tManifest.mbdb\t"), std::string::npos) << run.output;
}
