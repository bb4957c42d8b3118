// What the restore tests share: a connected engine on a simulated phone, pictures of the phone's
// files taken before and after a run, and backups written as another program leaves them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/BackupEngine.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

namespace restoretest {

inline constexpr char kSmsPath[] = "HomeDomain/Library/SMS/sms.db";
inline constexpr char kContactsPath[] = "HomeDomain/Library/AddressBook/AddressBook.sqlitedb";

// Every file of the phone: "<Domain>/<path>" -> its contents.
using PhoneFiles = std::map<std::string, std::string>;
PhoneFiles ReadPhoneFiles(const testenv::SimulatedPhone& phone);

// The keys on which two pictures differ (missing on one side, or other contents).
std::vector<std::string> Differences(const PhoneFiles& a, const PhoneFiles& b);

using testenv::FilesUnder;

// Lines of the phone's events.log that begin with `prefix`.
std::vector<std::string> EventsStartingWith(const testenv::SimulatedPhone& phone,
                                            const std::string& prefix);

// Runs `tolvane-devsim write-backup` on the phone's folder into `parent` (extra arguments after
// the fixed date); returns the backup's folder, parent/<UDID>.
std::string WriteOtherProgramsBackup(const testenv::SimulatedPhone& phone,
                                     const std::string& parent,
                                     const std::vector<std::string>& extra = {});

// Changes a phone file in place (appends to it), so that a restore has something to undo.
void Scribble(const testenv::SimulatedPhone& phone, const std::string& key);

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;  // (percent, bIsBackup)
    int32_t stopAt = -1;                             // the call that answers 2
};
int32_t RecordProgress(void* userData, int32_t percent, int32_t isBackup);

class RestoreTest : public ::testing::Test {
  protected:
    RestoreTest();
    ~RestoreTest() override;

    // Serves a new phone (kept in phone_) and connects the engine to it.
    void StartPhone(const testenv::PhoneOptions& options = {},
                    const std::vector<std::string>& faults = {});
    void Connect();
    void Reconnect();  // CloseDevice, ConnectDevice: what a worker does after every run

    // A backup of the phone made by the program itself; returns its timestamped folder.
    std::string OwnBackup(uint32_t categories, const char* password = nullptr);

    int32_t Restore(uint32_t categories, const std::string& backup, bool itunes = false,
                    const char* backupPassword = nullptr, const char* devicePassword = nullptr);

    std::string WorkDeviceFolder() const;

    testenv::IsolatedHome home_;
    std::string base_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    tolvane::BackupEngine engine_;
    ProgressLog progress_;
    std::string udid_;
};

}  // namespace restoretest
