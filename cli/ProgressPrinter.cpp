#include "cli/ProgressPrinter.h"

#include <unistd.h>

#include <algorithm>

#include "engine/BackupEngine.h"

namespace tolvane::cli {
namespace {
constexpr int kBarWidth = 40;
}

ProgressPrinter::ProgressPrinter(std::FILE* stream, bool terminal)
    : stream_(stream), terminal_(terminal) {}

ProgressPrinter ProgressPrinter::ForStandardError() {
    return ProgressPrinter(stderr, isatty(fileno(stderr)) != 0);
}

int32_t ProgressPrinter::Callback(void* userData, int32_t percent, int32_t isBackup) {
    static_cast<ProgressPrinter*>(userData)->Update(percent, isBackup != 0);
    return 0;
}

void ProgressPrinter::Update(int32_t percent, bool isBackup) {
    std::lock_guard lock(mutex_);
    percent = std::clamp(percent, 0, 100);
    const int phase = isBackup ? 1 : 0;
    if (percent == lastPercent_ && phase == lastPhase_) {
        return;
    }
    lastPercent_ = percent;
    lastPhase_ = phase;
    const char* what = isBackup ? "Backing up" : "Restoring";
    if (!terminal_) {
        std::fprintf(stream_, "%s: %d%%\n", what, percent);
        std::fflush(stream_);
        return;
    }
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stream_, "\r%-10s [%s] %3d%%", what, bar.c_str(), percent);
    std::fflush(stream_);
    drawn_ = true;
}

void ProgressPrinter::Finish() {
    std::lock_guard lock(mutex_);
    if (drawn_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
        drawn_ = false;
    }
}

int32_t RunShowingProgress(BackupEngine& engine, const std::function<int32_t()>& run) {
    ProgressPrinter progress = ProgressPrinter::ForStandardError();
    engine.SetProgressCallback(ProgressPrinter::Callback);
    engine.SetCallbackUserData(&progress);
    engine.SetProgressScale(100);
    const int32_t result = run();
    progress.Finish();
    engine.SetProgressCallback(nullptr);
    engine.SetCallbackUserData(nullptr);
    return result;
}

}  // namespace tolvane::cli
