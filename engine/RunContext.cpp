#include "engine/RunContext.h"

#include "platform/Interrupt.h"

namespace tolvane {

bool RunContext::Interrupted() const {
    return interruptible_ && platform::InterruptRequested();
}

ProgressDetails RunContext::Details(std::chrono::steady_clock::time_point now) const {
    ProgressDetails d;
    const double overall = OverallProgress.load();
    d.percent = static_cast<int32_t>(overall * progressScale_ / 100);
    d.bytes = BytesReceived.load();
    const double elapsed = std::chrono::duration<double>(now - conversationStart_).count();
    if (elapsed > 0) {
        d.bytesPerSecond = static_cast<double>(d.bytes) / elapsed;
    }
    // The percent is the phone's own measure of the work; a second or more of it gives a pace. A
    // figure that has stood still for a while (one long list of files, one large file) gives
    // none: the estimate would only grow while the bytes go on.
    if (overall != figure_) {
        figure_ = overall;
        figureSince_ = now;
    }
    const bool figureMoving = now - figureSince_ <= kFigureStandsStill;
    if (overall >= 1 && overall < 100 && elapsed >= 1 && figureMoving) {
        d.secondsLeft = static_cast<int64_t>(elapsed * (100 - overall) / overall + 0.5);
    } else if (overall >= 100) {
        d.secondsLeft = 0;
    }
    return d;
}

int32_t RunContext::ReportProgress() {
    if (Interrupted()) {
        return NoteFailure(platform::kResultCancelled, platform::Failure::Cancelled);
    }
    const double overall = OverallProgress.load();
    if (overall <= 0 || (progressCallback_ == nullptr && detailedCallback_ == nullptr)) {
        return 0;
    }
    const int32_t percent = static_cast<int32_t>(overall * progressScale_ / 100);
    int32_t stop = progressCallback_ != nullptr
                       ? progressCallback_(callbackUserData_, percent, isBackupPhase_)
                       : 0;
    if (stop == 0 && detailedCallback_ != nullptr) {
        stop = detailedCallback_(callbackUserData_, Details(std::chrono::steady_clock::now()),
                                 isBackupPhase_);
    }
    if (stop != 0) {
        NoteFailure(stop, platform::Failure::Cancelled);
    }
    return stop;
}

void RunContext::ResetConversation() {
    figure_ = 0.0;
    figureSince_ = std::chrono::steady_clock::now();
    OverallProgress.store(0.0);
    AbortFlag.store(0);
    BytesReceived.store(0);
    conversationStart_ = std::chrono::steady_clock::now();
    NoteHeard();
}

void RunContext::BeginRun() {
    isBackupPhase_ = 0;
    std::lock_guard lock(mutex_);
    lastErrorText_.clear();
    failureResult_ = 0;
    failure_ = platform::Failure::None;
}

std::string RunContext::LastErrorText() const {
    std::lock_guard lock(mutex_);
    return lastErrorText_;
}

void RunContext::SetLastErrorText(const std::string& text) {
    std::lock_guard lock(mutex_);
    lastErrorText_ = text;
}

int32_t RunContext::NoteFailure(int32_t result, platform::Failure what) {
    if (result != 0) {
        std::lock_guard lock(mutex_);
        failureResult_ = result;
        failure_ = what;
    }
    return result;
}

platform::Failure RunContext::FailureOf(int32_t result) const {
    std::lock_guard lock(mutex_);
    return result != 0 && result == failureResult_ ? failure_ : platform::Failure::None;
}

}  // namespace tolvane
