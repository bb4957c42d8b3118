// The session operations of the engine and the password step; the runs are in BackupRun.cpp and
// RestoreRun.cpp.
#include "engine/BackupEngine.h"

#include <libimobiledevice/mobilebackup2.h>

#include <cstdio>

#include "engine/BackupRun.h"
#include "engine/DeviceLink.h"
#include "engine/MessageLoop.h"
#include "platform/Handles.h"
#include "platform/Interrupt.h"
#include "platform/OperationLock.h"

namespace tolvane {

BackupEngine::BackupEngine() {
    // A Ctrl-C during the wait for the phone's sync lock ends the wait, and so does the caller's
    // own stop check, except while the run gives the phone its password back.
    session_.SetStopCheck([this] {
        return run_.Interrupted() || (run_.Interruptible() && syncLockStop_ && syncLockStop_());
    });
}

BackupEngine::~BackupEngine() {
    // A password removed outside a run (the password window, then no run) goes back now; one that
    // a run already failed to give back is not tried again on the way out.
    if (passwordOwed_ && !giveBackTried_) {
        GiveBackupPasswordBack();
    }
    CloseDevice();
    ClearWorkingBackup();
}

int32_t BackupEngine::ConnectDevice(uint8_t* willEncrypt) {
    run_.SetBackupPhase(false);
    platform::Failure what = platform::Failure::None;
    const int32_t result = session_.Connect(willEncrypt, what);
    return run_.NoteFailure(result, what);
}

int32_t BackupEngine::CloseDevice() {
    return session_.Close();
}

int32_t BackupEngine::GetDeviceName(std::string& name) {
    return session_.GetDeviceName(name);
}

int32_t BackupEngine::GetProductVersion(std::string& version) {
    return session_.GetProductVersion(version);
}

int32_t BackupEngine::GetDeviceClass(std::string& deviceClass) {
    return session_.GetDeviceClass(deviceClass);
}

bool BackupEngine::IsDevicePresent() {
    return session_.IsDevicePresent();
}

int32_t BackupEngine::UnlockBackupPassword(const char* password) {
    using platform::Failure;
    if (!session_.WillEncrypt()) {
        return 0;
    }
    if (password == nullptr) {
        return run_.NoteFailure(platform::kResultMissing, Failure::PasswordNeeded);
    }
    if (session_.BackupClient() == nullptr) {
        return run_.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, Failure::DeviceService);
    }
    platform::PlistPtr request(plist_new_dict());
    plist_dict_set_item(request.get(), "TargetIdentifier",
                        plist_new_string(session_.Udid().c_str()));
    plist_dict_set_item(request.get(), "OldPassword", plist_new_string(password));
    const mobilebackup2_error_t sent =
        mobilebackup2_send_message(session_.BackupClient(), "ChangePassword", request.get());
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        return run_.NoteFailure(sent, Failure::DeviceService);
    }
    const int32_t result = RunMessageLoop(nullptr, session_, run_);
    if (result == 0) {
        session_.NoteBackupsUnencrypted();
        passwordOwed_ = true;
        giveBackTried_ = false;
        removedPassword_ = password;
    }
    return result;
}

namespace {

// The run's outcome as it was before the password went back: the conversation of the password
// step must not change what the run reports.
class KeptOutcome {
  public:
    explicit KeptOutcome(RunContext& run)
        : run_(run), text_(run.LastErrorText()), bytes_(run.BytesReceived.load()) {}
    void PutBack(int32_t result) {
        run_.SetLastErrorText(text_);
        run_.NoteFailure(result, what_);
        run_.BytesReceived.store(bytes_);
    }
    void Keep(int32_t result) { what_ = run_.FailureOf(result); }

  private:
    RunContext& run_;
    std::string text_;
    uint64_t bytes_;  // what the run's own conversation moved, not the password's give-back
    platform::Failure what_ = platform::Failure::None;
};

}  // namespace

int32_t BackupEngine::GiveBackupPasswordBack() {
    using platform::Failure;
    if (!passwordOwed_) {
        return 0;
    }
    giveBackTried_ = true;
    // Neither the user's cancel nor an interrupt may stop this step: it undoes what the run did
    // to the phone.
    const ProgressCallback callback = run_.TakeProgressCallback();
    run_.SetInterruptible(false);
    int32_t result = 0;
    platform::Failure what = Failure::None;
    result = session_.Connect(nullptr, what);
    if (result == 0 && session_.WillEncrypt()) {
        // The phone encrypts again of its own (a restore put the setting back).
        passwordOwed_ = false;
    } else if (result == 0 && session_.BackupClient() == nullptr) {
        result = MOBILEBACKUP2_E_INVALID_ARG;
    } else if (result == 0) {
        LoopTiming timing;
        timing.patientForFirstMessage = AsksPasscodeForBackup(session_.CachedProductVersion());
        if (timing.patientForFirstMessage) {
            std::printf(
                "To encrypt its backups again the phone asks for its passcode: unlock it "
                "and type the passcode\n");
            std::fflush(stdout);
        }
        platform::PlistPtr request(plist_new_dict());
        plist_dict_set_item(request.get(), "TargetIdentifier",
                            plist_new_string(session_.Udid().c_str()));
        plist_dict_set_item(request.get(), "NewPassword",
                            plist_new_string(removedPassword_.c_str()));
        const mobilebackup2_error_t sent =
            mobilebackup2_send_message(session_.BackupClient(), "ChangePassword", request.get());
        if (sent != MOBILEBACKUP2_E_SUCCESS) {
            result = sent;
        } else {
            BackupServiceLink link(session_);
            result = RunMessageLoop(nullptr, session_, run_, link, timing);
        }
        if (result == 0) {
            passwordOwed_ = false;
            session_.NoteBackupsEncrypted();
        }
    }
    run_.SetInterruptible(true);
    run_.SetProgressCallback(callback);
    if (passwordOwed_) {
        std::printf(
            "The phone's backup password could not be given back (%d): the phone no "
            "longer encrypts its backups\n",
            result);
        std::fflush(stdout);
        return result != 0 ? result : platform::kResultDeviceGone;
    }
    // Nothing of the password stays in memory longer than needed.
    removedPassword_.assign(removedPassword_.size(), '\0');
    removedPassword_.clear();
    std::printf("The phone encrypts its backups again\n");
    std::fflush(stdout);
    return 0;
}

int32_t OperationLockGivenUp(BackupEngine& engine) {
    return engine.NoteFailure(platform::kResultCancelled, platform::Failure::Cancelled);
}

RunLock::RunLock(BackupEngine& engine)
    : lock_(
          [this, &engine] {
              waited_ = true;
              std::printf("%s\n", platform::kOperationWaitText);
              std::fflush(stdout);
              stopped_ = engine.ReportOperationWait(OperationWait::Begins) != 0;
          },
          [this, &engine] {
              if (stopped_ || platform::InterruptRequested()) {
                  return true;
              }
              stopped_ = engine.ReportOperationWait(OperationWait::GoesOn) != 0;
              return stopped_;
          }) {
    if (waited_) {
        engine.ReportOperationWait(OperationWait::Ends);
    }
}

int32_t BackupEngine::RunBackup(const std::string& folder, const char* password) {
    run_.BeginRun();
    const RunLock lock(*this);
    if (lock.GaveUp()) {
        return OperationLockGivenUp(*this);
    }
    const int32_t result = RunBackupSteps(folder, password);
    KeptOutcome kept(run_);
    kept.Keep(result);
    GiveBackupPasswordBack();
    kept.PutBack(result);
    return result;
}

int32_t BackupEngine::RunRestore(const char* backupPassword, const std::string& backupFolder,
                                 const char* devicePassword, bool itunes) {
    run_.BeginRun();
    const RunLock lock(*this);
    if (lock.GaveUp()) {
        return OperationLockGivenUp(*this);
    }
    const int32_t result = RunRestoreSteps(backupPassword, backupFolder, devicePassword, itunes);
    KeptOutcome kept(run_);
    kept.Keep(result);
    GiveBackupPasswordBack();
    kept.PutBack(result);
    return result;
}

}  // namespace tolvane
