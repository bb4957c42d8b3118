// tolvanectl end to end as a user walks it, against simulated phones of several generations:
// what each command prints, and what the backups and the phone hold afterwards.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "devsim/ModernDatabases.h"
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

}  // namespace
