// `tolvanectl restore` against the simulated phone: what a script sees (exit status, output,
// progress) and what the phone holds afterwards.
#include <gtest/gtest.h>

#include "tests/restore/RestoreFixture.h"
#include "tests/support/Programs.h"

using namespace restoretest;
using testenv::CommandRun;
using testenv::RunTolvanectl;
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
    EXPECT_NE(run.output.find("(code 2)"), std::string::npos) << run.output;
    run = RunTolvanectl({"restore"});
    EXPECT_EQ(run.exitCode, 64) << run.output;
}

}  // namespace
