// tolvanectl end to end as a user walks it, against simulated phones of several generations:
// what each command prints, and what the backups and the phone hold afterwards.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <chrono>

#include "devsim/ModernDatabases.h"
#include "platform/Process.h"
#include "store/Catalogue.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

namespace {

using testenv::CommandRun;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::RunTolvanectl;
using testenv::SimulatedPhone;

constexpr char kSmsKey[] = "HomeDomain/Library/SMS/sms.db";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Runs `sql` on the phone's message database with `blob` bound to its first parameter.
void ChangeMessages(const SimulatedPhone& phone, const std::string& sql, const std::string& blob) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((phone.DeviceDir() + "/files/" + kSmsKey).c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_bind_blob(st, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// Runs tolvanectl with `args` and no input; a run that has not ended after `limit` is killed and
// gives -1.
CommandRun RunBounded(const std::vector<std::string>& args, std::chrono::seconds limit) {
    std::vector<std::string> argv = {std::string(TOLVANE_BIN_DIR) + "/tolvanectl"};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandRun run;
    const auto child = platform::ChildProcess::Start(argv);
    if (!child) {
        ADD_FAILURE() << "cannot start tolvanectl";
        return run;
    }
    child->CloseInput();
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    for (;;) {
        if (std::chrono::steady_clock::now() > end) {
            child->Kill();
            child->Wait(-1);
            run.exitCode = -1;
            return run;
        }
        const int waiting = child->Peek(100);
        if (waiting < 0) {
            break;
        }
        if (waiting > 0) {
            const long n = child->Read(buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            run.output.append(buf, static_cast<size_t>(n));
        }
    }
    child->Wait(-1, &run.exitCode);
    return run;
}

// The bytes of every file under `folder`.
uint64_t BytesUnder(const std::string& folder) {
    uint64_t total = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) {
            total += e.file_size();
        }
    }
    return total;
}

// The figure of "Transferred 1.7 MB ..." in `output` back in bytes (as rounded for the user);
// -1 without that line.
double TransferredBytes(const std::string& output) {
    const size_t at = output.find("Transferred ");
    if (at == std::string::npos) {
        return -1;
    }
    std::istringstream in(output.substr(at + 12));
    double value = 0;
    std::string unit;
    in >> value >> unit;
    const double scale = unit == "GB" ? 1e9 : unit == "MB" ? 1e6 : unit == "kB" ? 1e3 : 1;
    return value * scale;
}

class CliWalk : public ::testing::Test {
  protected:
    // The one backup in the folder the test backs up into.
    std::string OnlyBackup() const {
        std::vector<tolvane::BackupEntry> own;
        tolvane::ListOwnBackups(base_, own);
        EXPECT_EQ(own.size(), 1u);
        return own.empty() ? std::string() : own[0].folder;
    }

    IsolatedHome home_;
    const std::string base_ = home_.Home() + "/Backups";
};

// A long message whose words a phone keeps only in its attributedBody, with the two-byte length
// form a phone writes for 32 to 64 KiB, is listed whole from a backup.
TEST_F(CliWalk, AMessageOf40KiBKeptOnlyInItsBodyIsListedWhole) {
    PhoneOptions options;
    options.productVersion = "17.5";
    options.messages = 6;
    SimulatedPhone phone(options);
    std::string text;
    while (text.size() < 40 * 1024) {
        text += "A long letter, line " + std::to_string(text.size()) + ". ";
    }
    text.resize(40 * 1024);
    ChangeMessages(phone,
                   "UPDATE message SET text = NULL, attributedBody = ?1 WHERE ROWID = "
                   "(SELECT min(ROWID) FROM message)",
                   devsim::StreamTypedBody(text));

    CommandRun run = RunTolvanectl({"backup", "--sms", "--folder", base_});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = RunTolvanectl({"messages", OnlyBackup()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<std::string> lines = Lines(run.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "6 messages");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text), 1) << run.output.substr(0, 400);
    // No other line came out empty for want of its words.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string()), 0) << run.output;
}

// The summary of a whole backup tells what the phone sent, also when the phone encrypts its
// backups and the run gives it its password back (a conversation of its own) after the backup.
TEST_F(CliWalk, AWholeBackupOfAnEncryptingPhoneTellsWhatThePhoneSent) {
    for (const std::string version : {"7.1.2", "17.5"}) {
        SCOPED_TRACE(version);
        PhoneOptions options;
        options.productVersion = version;
        options.backupPassword = "pw";
        options.backupRounds = 1000;
        SimulatedPhone phone(options);
        const std::string folder = base_ + "/" + version;
        const CommandRun run =
            testenv::RunProgram({std::string(TOLVANE_BIN_DIR) + "/tolvanectl", "backup", "--full",
                                 "--folder", folder, "--password", "-"},
                                "pw\n");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        ASSERT_NE(run.output.find("The phone encrypts its backups again"), std::string::npos)
            << run.output;
        const double told = TransferredBytes(run.output);
        // The phone's files all came over (rounded to a tenth of a megabyte in the summary).
        EXPECT_GE(told, static_cast<double>(BytesUnder(phone.DeviceDir() + "/files")) - 1e5)
            << run.output;
    }
}

// A database file to import that is no regular file (a FIFO nobody writes, a device without
// end) is refused as no database, before the phone is touched, instead of waiting for ever.
TEST_F(CliWalk, AnImportOfAFifoOrADeviceIsRefusedNotWaitedOn) {
    PhoneOptions options;
    options.productVersion = "17.5";
    options.messages = 4;
    SimulatedPhone phone(options);
    const std::string fifo = home_.Home() + "/sms.db";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"import", "--sms", fifo},
          std::vector<std::string>{"import", "--contacts", fifo},
          std::vector<std::string>{"import", "--sms", "/dev/zero"}}) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        const CommandRun run = RunBounded(args, std::chrono::seconds(60));
        EXPECT_NE(run.exitCode, -1) << "still waiting after 60 s: " << run.output;
        EXPECT_NE(run.exitCode, 0) << run.output;
        EXPECT_NE(
            run.output.find("Invalid " + std::string(args[1] == "--sms" ? "SMS" : "contacts")),
            std::string::npos)
            << run.output;
    }
    // Neither a backup nor a restore was asked of the phone.
    for (const std::string& line : phone.Events()) {
        EXPECT_NE(line.rfind("backup started", 0), 0u) << line;
        EXPECT_NE(line.rfind("restore started", 0), 0u) << line;
    }
}

// A whole backup of the newer layout offered to a phone of the iOS 7 generation is refused with
// one clear message, before the phone is asked for anything.
TEST_F(CliWalk, AWholeRestoreOfANewerLayoutIsRefusedOnceAndClearly) {
    PhoneOptions modern;
    modern.productVersion = "17.5";
    modern.messages = 4;
    std::string backup;
    {
        SimulatedPhone phone(modern);
        const CommandRun made = RunTolvanectl({"backup", "--full", "--folder", base_});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        backup = OnlyBackup();
    }
    PhoneOptions older;
    older.messages = 4;
    SimulatedPhone phone(older);
    const CommandRun run = RunTolvanectl({"restore", backup, "--full"});
    EXPECT_NE(run.exitCode, 0) << run.output;
    const std::string text = "the phone runs iOS 7.1.2 and cannot restore it";
    const size_t first = run.output.find(text);
    ASSERT_NE(first, std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(text, first + 1), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("error: This backup has the layout of iOS 10"), std::string::npos)
        << run.output;
    for (const std::string& line : phone.Events()) {
        EXPECT_NE(line.rfind("restore started", 0), 0u) << line;
    }
}

// A repeat backup that the phone fails, though it had nothing new to send, fails: its folder,
// seeded from the first backup, goes again and the catalogue holds the first backup alone.
TEST_F(CliWalk, ARepeatBackupThePhoneFailsLeavesOnlyTheFirstBackup) {
    for (const std::string version : {"7.1.2", "17.5"}) {
        SCOPED_TRACE(version);
        PhoneOptions options;
        options.productVersion = version;
        options.messages = 4;
        SimulatedPhone phone(options);
        const std::string folder = base_ + "/" + version;
        CommandRun run = RunTolvanectl({"backup", "--full", "--folder", folder});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        phone.Restart({"fail-backup=105:Not enough space on the phone"});
        run = RunTolvanectl({"backup", "--full", "--folder", folder});
        EXPECT_NE(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("error: Not enough space on the phone (code -105)"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("Backup complete"), std::string::npos) << run.output;
        std::vector<tolvane::BackupEntry> own;
        tolvane::ListOwnBackups(folder, own);
        EXPECT_EQ(own.size(), 1u);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// A whole restore asked of an own backup by category says what the backup is, not that its
// device folder is missing; the phone is not asked.
TEST_F(CliWalk, AWholeRestoreOfABackupByCategorySaysWhatTheBackupHolds) {
    PhoneOptions options;
    options.productVersion = "17.5";
    options.messages = 4;
    SimulatedPhone phone(options);
    const std::vector<std::pair<std::string, std::string>> kinds = {{"--sms", "messages"},
                                                                    {"--contacts", "contacts"}};
    for (const auto& [option, what] : kinds) {
        SCOPED_TRACE(option);
        const std::string folder = base_ + "/" + what;
        CommandRun run = RunTolvanectl({"backup", option, "--folder", folder});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        std::vector<tolvane::BackupEntry> own;
        tolvane::ListOwnBackups(folder, own);
        ASSERT_EQ(own.size(), 1u);
        run = RunTolvanectl({"restore", own[0].folder});
        EXPECT_EQ(run.exitCode, 2) << run.output;
        EXPECT_NE(run.output.find("error: This backup holds only the phone's " + what +
                                  ", not a whole backup"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find("no device folder"), std::string::npos) << run.output;
    }
    for (const std::string& line : phone.Events()) {
        EXPECT_NE(line.rfind("restore started", 0), 0u) << line;
    }
}

// A listing of an encrypted backup of the other program without a password names the option
// that gives it, as a restore does; with the password it lists.
TEST_F(CliWalk, AListingOfAnEncryptedBackupWithoutItsPasswordNamesTheOption) {
    for (const std::string version : {"7.1.2", "17.5"}) {
        SCOPED_TRACE(version);
        PhoneOptions options;
        options.productVersion = version;
        options.messages = 3;
        options.contacts = 2;
        options.backupRounds = 1000;
        SimulatedPhone phone(options);
        const std::string parent = home_.Home() + "/other-" + version;
        const CommandRun written =
            testenv::RunProgram({SimulatedPhone::ProgramPath(), "write-backup", phone.DeviceDir(),
                                 parent, "--encrypt", "pw"},
                                {}, 60000);
        ASSERT_EQ(written.exitCode, 0) << written.output;
        const std::string backup = parent + "/" + phone.Udid();
        for (const std::string command : {"messages", "contacts"}) {
            CommandRun run = RunTolvanectl({command, backup, "--itunes"});
            EXPECT_EQ(run.exitCode, 86) << run.output;
            EXPECT_NE(run.output.find("error: the backup is encrypted: give its password with "
                                      "--password"),
                      std::string::npos)
                << run.output;
            run = RunTolvanectl({command, backup, "--itunes", "--password", "pw"});
            EXPECT_EQ(run.exitCode, 0) << run.output;
            EXPECT_EQ(Lines(run.output).at(0), command == "messages" ? "3 messages" : "2 contacts")
                << run.output;
        }
    }
}

// The newer encryption's key derivation takes seconds: a listing and a restore by category of
// such a backup show it on standard error while it runs, and the listing on standard output stays
// as it was.
TEST_F(CliWalk, TheKeyDerivationOfANewerEncryptedBackupIsShownWhileItRuns) {
    PhoneOptions options;
    options.productVersion = "17.5";
    options.messages = 3;
    options.backupRounds = 400000;  // enough for the tool to show its steps
    SimulatedPhone phone(options);
    const std::string parent = home_.Home() + "/other";
    const CommandRun written = testenv::RunProgram({SimulatedPhone::ProgramPath(), "write-backup",
                                                    phone.DeviceDir(), parent, "--encrypt", "pw"},
                                                   {}, 60000);
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const std::string backup = parent + "/" + phone.Udid();
    const auto steps = [](const std::string& output) {
        std::vector<std::string> shown;
        for (const std::string& line : Lines(output)) {
            if (line.rfind("Deriving the password key: ", 0) == 0) {
                shown.push_back(line);
            }
        }
        return shown;
    };

    CommandRun run = RunTolvanectl({"messages", backup, "--itunes", "--password", "pw"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> shown = steps(run.output);
    ASSERT_FALSE(shown.empty()) << run.output;
    EXPECT_EQ(shown.back(), "Deriving the password key: 100%") << run.output;
    const std::vector<std::string> lines = Lines(run.output);
    EXPECT_EQ(lines.at(shown.size()), "3 messages") << run.output;

    run = RunTolvanectl({"restore", backup, "--itunes", "--sms", "--password", "pw"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    shown = steps(run.output);
    ASSERT_FALSE(shown.empty()) << run.output;
    EXPECT_EQ(shown.back(), "Deriving the password key: 100%") << run.output;
}

}  // namespace
