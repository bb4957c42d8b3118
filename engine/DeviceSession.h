// The session with one phone: the device, its lockdown session, the AFC and backup-service
// clients, the sync lock, the will-encrypt flag and the device values cached at connection.
//
// States:
//   none       device_ null, every client null, lockFile_ 0.
//   connected  Connect succeeded: device_, lockdown_ and (when the phone offers them) afc_ and
//              backup_ are open; lockFile_ != 0 when the sync lock could be taken.
//   unlocked   a conversation ended and ReleaseSyncLock closed the lock file (lockFile_ 0).
//   closed     Close freed everything; the next Connect starts a new session.
// Invariant: lockFile_ != 0 only while afc_ is open (asserted by every operation that changes
// either). A failing step of Connect leaves what it opened for Close.
// Threads: its users take turns (Connect, Close and the runs one thread at a time), with one
// exception: the device queries (and IsDevicePresent) may run on the timer thread while the user
// interface thread runs the password step, whose conversation asks the same lockdown session
// whether the phone is still there. The queries therefore take turns on the lockdown client under
// a lock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/DeviceHandles.h"
#include "platform/Results.h"

namespace tolvane {

class DeviceSession {
  public:
    DeviceSession() = default;
    ~DeviceSession();  // Close
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Opens the session with the first phone of the device service. 0, or the code of the first
    // step that failed: -1 without a phone or when the notification proxy cannot be started, or
    // the device library's code. `what` tells which of those it was. `willEncrypt` (may be null)
    // receives the will-encrypt flag once the backup service has answered. An open session is
    // closed first, so that its handles go in the right order.
    int32_t Connect(uint8_t* willEncrypt, platform::Failure& what);
    // Frees the lockdown client, releases the sync lock, frees the backup and AFC clients and the
    // device, in that order. Returns 0.
    int32_t Close();

    // The device queries: 0, or 87 when there is no lockdown client or the query fails. The name
    // is given in the system's ANSI code page, the other two as the phone's UTF-8 bytes.
    int32_t GetDeviceName(std::string& name);
    int32_t GetProductVersion(std::string& version);
    int32_t GetDeviceClass(std::string& deviceClass);
    bool IsDevicePresent();

    // Posts a notification through a separate lockdown session; failures are only printed.
    void PostDeviceNotification(const char* name);
    // Takes the sync lock again when an earlier conversation of this session released it
    // (syncWillStart, syncLockRequest, lock, syncDidStart); the session goes on without it when it
    // cannot be had.
    void RetakeSyncLock();
    // Unlocks and closes the lock file if it is held, then posts syncDidFinish.
    // For a phone found gone: the lock is taken as released without a word to the phone, which
    // drops it with the connection (asking a phone that no longer answers would wait on every
    // library timeout).
    void ForgetSyncLock() { lockFile_ = 0; }
    void ReleaseSyncLock();
    bool HoldsSyncLock() const { return lockFile_ != 0; }
    // Sync lock attempts and the wait between them (50 x 2000 ms); tests shorten them.
    void SetSyncLockRetry(int attempts, int waitMs) {
        lockAttempts_ = attempts;
        lockWaitMs_ = waitMs;
    }
    // Asked between the attempts for the sync lock: when it says stop, the wait ends at once and
    // Connect returns platform::kResultCancelled (a Ctrl-C need not sit out another program's
    // hold on the lock).
    void SetStopCheck(std::function<bool()> stop) { stopCheck_ = std::move(stop); }

    // After the phone accepted the removal of its backup password: its backups are no longer
    // encrypted.
    void NoteBackupsUnencrypted() { willEncrypt_ = false; }
    // After the phone took a backup password again.
    void NoteBackupsEncrypted() { willEncrypt_ = true; }

    // The handles, for the conversation and transfer code of the engine.
    idevice_t Device() const { return device_.get(); }
    lockdownd_client_t Lockdown() const { return lockdown_.get(); }
    afc_client_t Afc() const { return afc_.get(); }
    mobilebackup2_client_t BackupClient() const { return backup_.get(); }

    const std::string& Udid() const { return udid_; }
    bool WillEncrypt() const { return willEncrypt_; }
    // Device values cached by Connect (the name already in the ANSI code page).
    const std::string& CachedDeviceName() const { return deviceName_; }
    const std::string& CachedDeviceClass() const { return deviceClass_; }
    const std::string& CachedProductVersion() const { return productVersion_; }

  private:
    // Opens the lock file and tries to lock it; 0 also when another program keeps it,
    // platform::kResultCancelled when the stop check ends the wait.
    int32_t TakeSyncLock();
    // A string of all the device's values, under queryMutex_.
    int32_t Query(const char* key, std::string& out);
    void AssertInvariants() const;

    DevicePtr device_;
    LockdownPtr lockdown_;
    AfcPtr afc_;
    BackupClientPtr backup_;
    uint64_t lockFile_ = 0;
    int lockAttempts_ = 50;
    int lockWaitMs_ = 2000;
    std::function<bool()> stopCheck_;
    bool willEncrypt_ = true;
    std::string udid_;
    std::string productVersion_;
    std::string deviceName_;
    std::string deviceClass_;
    std::mutex queryMutex_;  // one lockdown query at a time
};

}  // namespace tolvane
