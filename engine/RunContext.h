// What a run of the engine is given by its caller and what it leaves behind: the progress
// callback with its user data and scale, the categories, the is-backup phase, the two values of
// the running device-link conversation (OverallProgress, AbortFlag), the last error text, and
// the Failure kept beside a result whose number alone does not say what happened.
//
// Threads: the caller sets the callback, user data, scale and categories before a run, on the
// thread that then runs it; the run reads them and calls the callback on that thread. The last
// error text and the kept failure are guarded, so that another thread may read them after the
// run (the windows read the text on the user interface thread). OverallProgress and AbortFlag are
// atomics: written by the thread that runs the conversation, readable from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Results.h"

namespace tolvane {

// How long a phone may send nothing at all (no message, no byte of a file) before the running
// conversation gives it up as gone, whatever lockdown still answers.
inline constexpr std::chrono::milliseconds kDefaultSilenceLimit{45000};

// Called with (user data, percent, is-backup phase 0 or 1): 0 goes on, any other value stops the
// running conversation and becomes its result.
using ProgressCallback = int32_t (*)(void* userData, int32_t nProcess, int32_t bIsBackup);

// The figures beside the percent: what crossed the link in this conversation, how fast over the
// conversation so far, and how long the rest should take at the pace the percent has risen
// (-1 while that cannot be told yet).
struct ProgressDetails {
    int32_t percent = 0;
    uint64_t bytes = 0;
    double bytesPerSecond = 0;
    int64_t secondsLeft = -1;
};
// Called beside the ProgressCallback, with the same meaning of the result.
using DetailedProgressCallback = int32_t (*)(void* userData, const ProgressDetails& details,
                                             int32_t bIsBackup);

// A run that waits for another operation of the program to end (platform::OperationLock) says
// so: Begins once when the wait starts, GoesOn every 200 ms while it lasts, Ends once when the
// lock is taken or the wait given up. A non-zero value for Begins or GoesOn gives the wait up.
enum class OperationWait : int32_t { Begins = 0, GoesOn = 1, Ends = 2 };
using OperationWaitCallback = int32_t (*)(void* userData, OperationWait state);

class RunContext {
  public:
    RunContext() = default;
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    void SetProgressCallback(ProgressCallback callback) { progressCallback_ = callback; }
    // The callback, which the context no longer calls until it is set again.
    ProgressCallback TakeProgressCallback() {
        const ProgressCallback callback = progressCallback_;
        progressCallback_ = nullptr;
        return callback;
    }
    // Whether an interrupt of the process (platform/Interrupt.h) stops the running conversation
    // as a cancel does (true unless set; false for a step that undoes what a run did).
    void SetInterruptible(bool on) { interruptible_ = on; }
    bool Interruptible() const { return interruptible_; }
    // True when the process was asked to end and the conversation may be stopped for it.
    bool Interrupted() const;
    void SetDetailedProgressCallback(DetailedProgressCallback callback) {
        detailedCallback_ = callback;
    }
    void SetCallbackUserData(void* userData) { callbackUserData_ = userData; }
    // Called with the callback user data while the run waits for another operation.
    void SetOperationWaitCallback(OperationWaitCallback callback) { waitCallback_ = callback; }
    bool HasOperationWaitCallback() const { return waitCallback_ != nullptr; }
    // The wait callback's value for `state` (0 without a callback).
    int32_t ReportOperationWait(OperationWait state) {
        return waitCallback_ != nullptr ? waitCallback_(callbackUserData_, state) : 0;
    }
    // The percent reported is OverallProgress × scale / 100, truncated toward zero.
    void SetProgressScale(int32_t scale) { progressScale_ = scale; }
    int32_t ProgressScale() const { return progressScale_; }
    // DataCategory bits of the next run: Full, or Sms and/or Contacts.
    void SetCategories(uint32_t categories) { categories_ = categories; }
    uint32_t Categories() const { return categories_; }

    // 1 while the phone sends a backup, 0 while it restores; passed to the callback as bIsBackup.
    void SetBackupPhase(bool backup) { isBackupPhase_ = backup ? 1 : 0; }
    uint8_t BackupPhase() const { return isBackupPhase_; }

    // Calls the progress callback with the percent of OverallProgress and the phase, once the
    // phone has sent a figure (not while OverallProgress is 0). Returns the callback's value: 0
    // without a callback or a figure. A non-zero value is kept as a cancel of the run. An
    // interrupt (Interrupted()) is such a cancel too, with kResultCancelled, figure or not.
    int32_t ReportProgress();

    // The start of a conversation: both shared values back to 0, the phone heard from now.
    void ResetConversation();

    // The silence a phone is allowed (kDefaultSilenceLimit unless set; tests shorten it).
    void SetSilenceLimit(std::chrono::milliseconds limit) { silenceLimit_ = limit; }
    std::chrono::milliseconds SilenceLimit() const { return silenceLimit_; }
    // Something came from the phone; and whether it has said nothing for longer than the limit.
    // (Both may be used from a watchdog thread beside the conversation.)
    void NoteHeard() {
        lastHeard_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    bool SilentTooLong() const {
        const std::chrono::steady_clock::time_point heard{
            std::chrono::steady_clock::duration(lastHeard_.load())};
        return std::chrono::steady_clock::now() - heard > silenceLimit_;
    }

    // The start of a backup, restore or import run: the phase, the last error text and the kept
    // failure are cleared.
    void BeginRun();

    std::string LastErrorText() const;
    void SetLastErrorText(const std::string& text);

    // Keeps what a non-zero `result` stands for; returns `result`. The last note wins.
    int32_t NoteFailure(int32_t result, platform::Failure what);
    // What was noted for `result` since the run began; Failure::None when the kept note belongs
    // to another number (the result then came from a step that noted nothing).
    platform::Failure FailureOf(int32_t result) const;

    // The conversation's values: the phone's progress figure in percent, and the device-gone
    // counter (> 0: the phone is gone and the current loop or transfer must end).
    std::atomic<double> OverallProgress{0.0};
    std::atomic<int32_t> AbortFlag{0};
    // Bytes received from the phone in this conversation (file data with its framing).
    std::atomic<uint64_t> BytesReceived{0};
    // The figures of the conversation so far, at `now` (on the run's thread). No time left while
    // the phone's figure has not moved for kFigureStandsStill.
    ProgressDetails Details(std::chrono::steady_clock::time_point now) const;
    static constexpr std::chrono::seconds kFigureStandsStill{15};

  private:
    ProgressCallback progressCallback_ = nullptr;
    DetailedProgressCallback detailedCallback_ = nullptr;
    OperationWaitCallback waitCallback_ = nullptr;
    std::chrono::steady_clock::time_point conversationStart_ = std::chrono::steady_clock::now();
    // The phone's figure as Details last saw it, and since when it has been that.
    mutable double figure_ = 0.0;
    mutable std::chrono::steady_clock::time_point figureSince_ = std::chrono::steady_clock::now();
    void* callbackUserData_ = nullptr;
    int32_t progressScale_ = 100;
    uint32_t categories_ = 0;
    uint8_t isBackupPhase_ = 0;
    bool interruptible_ = true;
    std::chrono::milliseconds silenceLimit_ = kDefaultSilenceLimit;
    std::atomic<std::chrono::steady_clock::rep> lastHeard_{
        std::chrono::steady_clock::now().time_since_epoch().count()};

    mutable std::mutex mutex_;  // guards the three below
    std::string lastErrorText_;
    int32_t failureResult_ = 0;
    platform::Failure failure_ = platform::Failure::None;
};

}  // namespace tolvane
