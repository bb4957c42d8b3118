// The one object through which the program talks to a phone: a device session (DeviceSession),
// the context of the run its caller sets up (RunContext) and the work backup (WorkBackup), with
// the operations the windows and tolvanectl use. It has no public data: callers set a run up
// through the setters and read results through the getters.
//
// Threads: the engine has no lock of its own, so its callers take turns (one thread at a time):
// the connect worker runs CloseDevice, ConnectDevice and the queries; the timer thread runs
// IsDevicePresent while nothing else uses the engine; a run worker sets up and runs one backup,
// restore or import and then reconnects; the user interface thread runs UnlockBackupPassword.
// GetLastErrorText and FailureOf may be called from any thread once the run has returned.
//
// Paths are byte strings (UTF-8 by convention, but any bytes a file name may hold), passed through
// unchanged; texts for display are converted where they are shown.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/DeviceSession.h"
#include "engine/RunContext.h"
#include "engine/SeedBackup.h"
#include "engine/WorkBackup.h"
#include "platform/OperationLock.h"
#include "platform/Results.h"
#include "store/DataCategory.h"

namespace tolvane {

struct RestorePlan;

class BackupEngine {
  public:
    BackupEngine();
    ~BackupEngine();  // CloseDevice, then ClearWorkingBackup
    BackupEngine(const BackupEngine&) = delete;
    BackupEngine& operator=(const BackupEngine&) = delete;

    // --- device session ---------------------------------------------------------------------
    // 0, or the first failing step's code (-1 without a phone); FailureOf tells which it was.
    int32_t ConnectDevice(uint8_t* willEncrypt);
    int32_t CloseDevice();
    int32_t GetDeviceName(std::string& name);
    int32_t GetProductVersion(std::string& version);
    int32_t GetDeviceClass(std::string& deviceClass);
    bool IsDevicePresent();
    // Removes the phone's backup password: 0 (also when the phone does not encrypt), 87 for a
    // null password, or the conversation's result.
    int32_t UnlockBackupPassword(const char* password);
    // Gives the phone back the backup password UnlockBackupPassword removed, on a session of its
    // own (the conversation that ran meanwhile may have been cut, or ended by the phone's hang-up
    // after a restore). 0 when nothing is owed or the phone took it; otherwise the phone stays
    // without encryption, BackupPasswordOwed() stays true and the reason is printed. A phone of
    // iOS 16.1 or later asks its user for the passcode first: the wait is printed, and lasts as
    // long as the phone waits. Every backup, restore and import run calls it at its end, whatever
    // its outcome, so callers only read BackupPasswordOwed() to warn the user.
    int32_t GiveBackupPasswordBack();
    bool BackupPasswordOwed() const { return passwordOwed_; }

    const std::string& Udid() const { return session_.Udid(); }
    bool WillEncrypt() const { return session_.WillEncrypt(); }
    bool HasBackupService() const { return session_.BackupClient() != nullptr; }
    // Device values cached by ConnectDevice (the name already in the ANSI code page).
    const std::string& CachedDeviceName() const { return session_.CachedDeviceName(); }
    const std::string& CachedDeviceClass() const { return session_.CachedDeviceClass(); }
    const std::string& CachedProductVersion() const { return session_.CachedProductVersion(); }
    bool HoldsSyncLock() const { return session_.HoldsSyncLock(); }
    // Sync lock attempts and the wait between them (50 x 2000 ms); tests shorten them.
    void SetSyncLockRetry(int attempts, int waitMs) { session_.SetSyncLockRetry(attempts, waitMs); }

    // --- the run, set up by the caller before it starts -------------------------------------
    void SetProgressCallback(ProgressCallback callback) { run_.SetProgressCallback(callback); }
    // Bytes, speed and time left beside the percent (optional; the plain callback still works).
    void SetDetailedProgressCallback(DetailedProgressCallback callback) {
        run_.SetDetailedProgressCallback(callback);
    }
    void SetCallbackUserData(void* userData) { run_.SetCallbackUserData(userData); }
    // Told while a run waits for another operation of the program (optional; see RunLock).
    void SetOperationWaitCallback(OperationWaitCallback callback) {
        run_.SetOperationWaitCallback(callback);
    }
    bool HasOperationWaitCallback() const { return run_.HasOperationWaitCallback(); }
    // Asked every 100 ms while a connection waits for the phone's sync lock that another program
    // keeps (up to 100 s): true ends the wait, and the connection with kResultCancelled, as a
    // Ctrl-C does (a window being closed). Not asked while a run gives the phone its password
    // back. Set before the first connection; called on the connecting thread.
    void SetSyncLockStopCheck(std::function<bool()> check) { syncLockStop_ = std::move(check); }
    int32_t ReportOperationWait(OperationWait state) { return run_.ReportOperationWait(state); }
    void SetProgressScale(int32_t scale) { run_.SetProgressScale(scale); }
    void SetCategories(uint32_t categories) { run_.SetCategories(categories); }
    // How long a silent phone is waited for before a run gives it up (kDefaultSilenceLimit).
    void SetSilenceLimit(std::chrono::milliseconds limit) { run_.SetSilenceLimit(limit); }
    uint32_t Categories() const { return run_.Categories(); }

    // The start of every backup, restore and import run (they call it themselves): clears the
    // is-backup phase, the last error text and the failure kept from an earlier operation.
    void BeginRun() { run_.BeginRun(); }

    // The phone's ErrorDescription of the last conversation, or a text an operation left.
    std::string GetLastErrorText() const { return run_.LastErrorText(); }
    void SetLastErrorText(const std::string& text) { run_.SetLastErrorText(text); }
    // What the non-zero `result` of the last operation stands for (Failure::None when nothing
    // more is known); read it right after the operation, before the next one.
    platform::Failure FailureOf(int32_t result) const { return run_.FailureOf(result); }
    // For operations outside the engine that run on it (the import, the listings): keeps what
    // `result` stands for and returns it.
    int32_t NoteFailure(int32_t result, platform::Failure what) {
        return run_.NoteFailure(result, what);
    }

    // --- runs ---------------------------------------------------------------------------------
    // A backup of the phone into a new timestamped folder in `folder` (whole, or copies of its
    // databases, after Categories()). The folder of the finished backup is LastBackupFolder().
    int32_t RunBackup(const std::string& folder, const char* password);
    int32_t RequestBackup(const char* folder);
    // A backup put back on the phone, whole or only its databases (after Categories());
    // `itunes`: `backupFolder` is the other program's device folder.
    int32_t RunRestore(const char* backupPassword, const std::string& backupFolder,
                       const char* devicePassword, bool itunes);
    int32_t RequestRestore(const char* folder, const char* sourceIdentifier, const char* password);
    // The timestamped folder of the last backup that RunBackup finished (empty before one).
    const std::string& LastBackupFolder() const { return lastBackupFolder_; }
    // How the last whole backup's folder was started from an earlier backup (Mode::None: empty),
    // and the bytes the phone sent in the last conversation.
    const SeedOutcome& LastSeed() const { return lastSeed_; }
    uint64_t LastBytesReceived() const { return run_.BytesReceived.load(); }

    // --- the work backup ------------------------------------------------------------------------
    static std::string TempBackupFolder() { return WorkBackup::TempBackupFolder(); }
    static void ResetTempBackupFolderForTesting() { WorkBackup::ResetTempBackupFolderForTesting(); }
    // Empties the working backup folder (see WorkBackup::Clear) and clears the ready flag.
    int32_t ClearWorkingBackup() { return work_.Clear(); }
    const std::string& WorkingBackupFolder() const { return work_.Folder(); }
    // The import's steps on the work backup: enter this phone's device folder of it (returned),
    // whether it holds a backup the import may change again, mark it so, and put back the whole
    // manifest after the restore (0, or the rename's code; the work backup is then not ready).
    std::string EnterWorkBackup() { return work_.Enter(session_.Udid()); }
    bool WorkingBackupReady() const { return work_.Ready(); }
    void MarkWorkingBackupReady() { work_.MarkReady(); }
    int32_t PutWorkBackupManifestBack() { return work_.PutManifestBack(); }

  private:
    friend class EngineTestAccess;

    // The part of RunRestore that talks to the phone: unlock, then the whole restore, or the
    // fresh backup, the databases put in and the work backup restored.
    int32_t RestoreToPhone(const RestorePlan& plan, const std::string& work,
                           const char* backupPassword, const char* devicePassword);
    int32_t RunBackupSteps(const std::string& folder, const char* password);
    int32_t RunRestoreSteps(const char* backupPassword, const std::string& backupFolder,
                            const char* devicePassword, bool itunes);
    int32_t RunFullBackup(const std::string& base);
    int32_t RunCategoryBackup(const std::string& base);

    DeviceSession session_;
    RunContext run_;
    WorkBackup work_;
    std::string lastBackupFolder_;
    // The backup password removed from the phone and not yet given back.
    bool passwordOwed_ = false;
    bool giveBackTried_ = false;
    std::string removedPassword_;
    SeedOutcome lastSeed_;
    std::function<bool()> syncLockStop_;
};

// What a run that gave up waiting for another operation returns (a cancel), after noting it.
int32_t OperationLockGivenUp(BackupEngine& engine);

// The operation lock of a run on `engine` (platform::OperationLock): the wait is printed as the
// program's own wait is, and told to the engine's wait callback when one is set; it is given up
// on an interrupt or when the callback returns non-zero.
class RunLock {
  public:
    explicit RunLock(BackupEngine& engine);
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    bool GaveUp() const { return lock_.GaveUp(); }

  private:
    bool waited_ = false;
    bool stopped_ = false;
    platform::OperationLock lock_;  // after the two above, which its callbacks use
};

}  // namespace tolvane
