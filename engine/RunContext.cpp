#include "engine/RunContext.h"

#include "platform/Interrupt.h"

namespace tolvane {

bool RunContext::Interrupted() const {
    return interruptible_ && platform::InterruptRequested();
}

int32_t RunContext::ReportProgress() {
    if (Interrupted()) {
        return NoteFailure(platform::kResultCancelled, platform::Failure::Cancelled);
    }
    const double overall = OverallProgress.load();
    if (overall <= 0 || progressCallback_ == nullptr) {
        return 0;
    }
    const int32_t percent = static_cast<int32_t>(overall * progressScale_ / 100);
    const int32_t stop = progressCallback_(callbackUserData_, percent, isBackupPhase_);
    if (stop != 0) {
        NoteFailure(stop, platform::Failure::Cancelled);
    }
    return stop;
}

void RunContext::ResetConversation() {
    OverallProgress.store(0.0);
    AbortFlag.store(0);
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
