// The one object through which the program talks to a phone.
//
// Session states:
//   no session   device_ null, every client null, lockFile_ 0.
//   connected    ConnectDevice succeeded: device_, lockdown_ and (when the phone offers them)
//                afc_ and backup_ are open; lockFile_ != 0 when the sync lock could be taken.
//   running      a backup, restore, import or unlock conversation runs on one thread.
//   unlocked     the conversation ended: RunMessageLoop released the sync lock (lockFile_ 0).
//   closed       CloseDevice freed everything; the next ConnectDevice starts a new session.
// Invariants: lockFile_ != 0 only while afc_ is open; ConnectDevice never closes an earlier
// session itself (callers run CloseDevice first); the engine has no lock of its own, so its
// callers take turns (one thread at a time).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/DeviceHandles.h"
#include "platform/Results.h"
#include "store/DataCategory.h"

namespace tolvane {

struct BackupEntry;
struct RestorePlan;

// Called with (user data, percent, is-backup phase 0 or 1): 0 goes on, any other value stops the
// running conversation and becomes its result.
using ProgressCallback = int32_t (*)(void* userData, int32_t nProcess, int32_t bIsBackup);

// Engine-wide values of the running device-link conversation, reset when a loop starts:
// the device's progress figure in percent, and the device-gone counter (> 0: the phone is gone).
extern std::atomic<double> OverallProgress;
extern std::atomic<int32_t> AbortFlag;

class BackupEngine {
  public:
    BackupEngine();
    ~BackupEngine();  // CloseDevice, then ClearWorkingBackup
    BackupEngine(const BackupEngine&) = delete;
    BackupEngine& operator=(const BackupEngine&) = delete;

    // --- device session -------------------------------------------------------------------
    int32_t ConnectDevice(uint8_t* willEncrypt);
    int32_t CloseDevice();
    int32_t GetDeviceName(std::string& name);
    int32_t GetProductVersion(std::string& version);
    int32_t GetDeviceClass(std::string& deviceClass);
    bool IsDevicePresent();
    int32_t UnlockBackupPassword(const char* password);
    // Posts a notification through a separate lockdown session; failures are only printed.
    void PostDeviceNotification(const char* name);
    // Unlocks and closes the sync lock file if it is held, then posts syncDidFinish.
    void ReleaseSyncLock();

    std::string GetLastErrorText() const;
    void SetLastErrorText(const std::string& text);

    // --- work backup folder ---------------------------------------------------------------
    // The hidden work folder, worked out, created and hidden on first use, then fixed for the
    // life of the process.
    static std::wstring TempBackupFolder();
    // Only for tests: forget the work folder so that the next call works it out again.
    static void ResetTempBackupFolderForTesting();
    // Deletes the files of the working backup folder and of its Snapshot subfolder, removes that
    // subfolder when it is empty, clears workingBackupReady. Returns 0.
    int32_t ClearWorkingBackup();

    // --- catalogue (store/Catalogue.h) ----------------------------------------------------------
    // Writes fileinfo for the operation that just finished, from `categories` and the cached
    // device values. 0 or a system error code.
    int32_t WriteFileInfo(const std::string& timestamp, const std::string& fileinfoPath) const;
    int32_t ListOwnBackups(const std::wstring& root, std::vector<BackupEntry>& entries);
    int32_t ListItunesBackups(std::vector<BackupEntry>& entries);

    // --- runs --------------------------------------------------------------------------------
    int32_t RunBackup(const std::wstring& baseFolder, const char* password);
    int32_t RequestBackup(const char* folder);
    int32_t RunRestore(const char* backupPassword, const std::wstring& backupFolder,
                       const char* devicePassword, bool itunes);
    int32_t RequestRestore(const char* folder, const char* sourceIdentifier, const char* password);

    // --- state shared with the runs and their callers ---------------------------------------
    uint32_t categories = 0;  // DataCategory bits of the next run
    ProgressCallback progressCallback = nullptr;
    void* callbackUserData = nullptr;
    int32_t progressScale = 100;
    bool workingBackupReady = false;
    std::string workingBackupFolder;  // the folder ClearWorkingBackup empties
    uint8_t isBackupPhase = 0;        // 1 while the phone sends a backup, 0 while it restores

    // Session handles, for the conversation and transfer code of the engine.
    idevice_t Device() const { return device_.get(); }
    lockdownd_client_t Lockdown() const { return lockdown_.get(); }
    afc_client_t Afc() const { return afc_.get(); }
    mobilebackup2_client_t BackupClient() const { return backup_.get(); }
    const std::string& Udid() const { return udid_; }
    bool WillEncrypt() const { return willEncrypt_; }
    // The timestamped folder of the last backup that RunBackup finished (empty before one).
    const std::string& LastBackupFolder() const { return lastBackupFolder_; }
    // Device values cached by ConnectDevice (the name already in the ANSI code page).
    const std::string& CachedDeviceName() const { return deviceName_; }
    const std::string& CachedDeviceClass() const { return deviceClass_; }
    const std::string& CachedProductVersion() const { return productVersion_; }

    // Sync lock attempts and the wait between them (50 x 2000 ms); tests shorten them.
    void SetSyncLockRetry(int attempts, int waitMs) {
        lockAttempts_ = attempts;
        lockWaitMs_ = waitMs;
    }
    bool HoldsSyncLockFile() const { return lockFile_ != 0; }

  private:
    friend class EngineTestAccess;

    // Opens the lock file and tries to lock it; 0 also when another program keeps it.
    int32_t TakeSyncLock();
    // Takes the sync lock again when an earlier conversation of this session released it
    // (syncWillStart, then as TakeSyncLock); going on without it when it cannot be had.
    void RetakeSyncLock();
    // The part of RunRestore that talks to the phone: unlock, then the whole restore, or the
    // fresh backup, the databases put in and the work backup restored.
    int32_t RestoreToPhone(const RestorePlan& plan, const std::string& work,
                           const char* backupPassword, const char* devicePassword);

    bool willEncrypt_ = true;
    DevicePtr device_;
    AfcPtr afc_;
    uint64_t lockFile_ = 0;
    int lockAttempts_ = 50;
    int lockWaitMs_ = 2000;
    BackupClientPtr backup_;
    LockdownPtr lockdown_;
    std::string udid_;
    std::string lastBackupFolder_;
    std::string productVersion_;
    std::string deviceName_;
    std::string deviceClass_;
    std::vector<std::wstring> folderList_;  // scratch list of the catalogue

    mutable std::mutex lastErrorMutex_;
    std::string lastErrorText_;
};

}  // namespace tolvane
