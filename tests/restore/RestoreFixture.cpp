#include "tests/restore/RestoreFixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "tests/support/Programs.h"

namespace restoretest {

namespace fs = std::filesystem;
using tolvane::BackupEngine;

PhoneFiles ReadPhoneFiles(const testenv::SimulatedPhone& phone) {
    PhoneFiles files;
    const fs::path root = phone.DeviceDir() + "/files";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), root).generic_string()] =
                testenv::ReadFile(entry.path().string());
        }
    }
    return files;
}

std::vector<std::string> Differences(const PhoneFiles& a, const PhoneFiles& b) {
    std::vector<std::string> keys;
    for (const auto& [key, contents] : a) {
        const auto it = b.find(key);
        if (it == b.end() || it->second != contents) {
            keys.push_back(key);
        }
    }
    for (const auto& [key, contents] : b) {
        if (a.count(key) == 0) {
            keys.push_back(key);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::vector<std::string> EventsStartingWith(const testenv::SimulatedPhone& phone,
                                            const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : phone.Events()) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string WriteOtherProgramsBackup(const testenv::SimulatedPhone& phone,
                                     const std::string& parent,
                                     const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {testenv::SimulatedPhone::ProgramPath(),
                                     "write-backup",
                                     phone.DeviceDir(),
                                     parent,
                                     "--date",
                                     "2015-03-07T18:05:09Z"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const testenv::CommandRun run = testenv::RunProgram(argv, {}, 60000);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return platform::JoinPath(parent, phone.Udid());
}

void Scribble(const testenv::SimulatedPhone& phone, const std::string& key) {
    std::ofstream out(phone.DeviceDir() + "/files/" + key, std::ios::binary | std::ios::app);
    out << "changed after the backup";
    ASSERT_TRUE(out.good()) << key;
}

int32_t RecordProgress(void* userData, int32_t percent, int32_t isBackup) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->calls.emplace_back(percent, isBackup);
    return static_cast<int32_t>(log->calls.size()) - 1 == log->stopAt ? 2 : 0;
}

RestoreTest::RestoreTest() : base_(home_.Home() + "/Backups") {
    // The decryption tool is shipped beside the programs, not beside the tests.
    platform::SetProgramFolderForTesting(std::string(TOLVANE_BIN_DIR) + "/");
    // The work folder is fixed on first use for the life of the process: find it in this home.
    BackupEngine::ResetTempBackupFolderForTesting();
}

RestoreTest::~RestoreTest() {
    platform::SetProgramFolderForTesting("");
}

void RestoreTest::StartPhone(const testenv::PhoneOptions& options,
                             const std::vector<std::string>& faults) {
    engine_.CloseDevice();
    phone_ = std::make_unique<testenv::SimulatedPhone>(options, faults);
    udid_ = phone_->Udid();
    Connect();
}

void RestoreTest::Connect() {
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine_.ConnectDevice(&willEncrypt), 0);
}

void RestoreTest::Reconnect() {
    engine_.CloseDevice();
    Connect();
}

std::string RestoreTest::OwnBackup(uint32_t categories, const char* password) {
    engine_.SetCategories(categories);
    engine_.SetProgressCallback(nullptr);
    const int32_t result = engine_.RunBackup(base_, password);
    EXPECT_EQ(result, 0) << engine_.GetLastErrorText();
    Reconnect();
    return engine_.LastBackupFolder();
}

int32_t RestoreTest::Restore(uint32_t categories, const std::string& backup, bool itunes,
                             const char* backupPassword, const char* devicePassword) {
    engine_.SetCategories(categories);
    engine_.SetProgressCallback(RecordProgress);
    engine_.SetCallbackUserData(&progress_);
    engine_.SetProgressScale(100);
    return engine_.RunRestore(backupPassword, backup, devicePassword, itunes);
}

std::string RestoreTest::WorkDeviceFolder() const {
    return BackupEngine::TempBackupFolder() + "/" + udid_;
}

}  // namespace restoretest
