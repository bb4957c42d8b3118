#include "cli/ProgressPrinter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

std::string FormatBytes(uint64_t bytes) {
    char text[48];
    const double b = static_cast<double>(bytes);
    if (bytes >= 1000000000ull) {
        std::snprintf(text, sizeof text, "%.1f GB", b / 1e9);
    } else if (bytes >= 1000000ull) {
        std::snprintf(text, sizeof text, "%.1f MB", b / 1e6);
    } else if (bytes >= 1000ull) {
        std::snprintf(text, sizeof text, "%.0f kB", b / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    }
    return text;
}

std::string FormatDuration(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string FormatProgressFigures(const ProgressDetails& details) {
    std::string out = FormatBytes(details.bytes) + ", " +
                      FormatBytes(static_cast<uint64_t>(details.bytesPerSecond)) + "/s";
    if (details.secondsLeft >= 0) {
        out += ", " + FormatDuration(details.secondsLeft) + " left";
    }
    return out;
}

std::function<void(int percent)> DerivationPrinter(std::FILE* stream, bool terminal) {
    return [stream, terminal](int percent) {
        if (terminal) {
            std::fprintf(stream, "\rDeriving the password key: %3d%%%s", percent,
                         percent >= 100 ? "\n" : "");
        } else {
            std::fprintf(stream, "Deriving the password key: %d%%\n", percent);
        }
        std::fflush(stream);
    };
}

int32_t ProgressPrinter::DetailedCallback(void* userData, const ProgressDetails& details,
                                          int32_t isBackup) {
    static_cast<ProgressPrinter*>(userData)->Update(details, isBackup != 0);
    return 0;
}

void ProgressPrinter::Update(const ProgressDetails& details, bool isBackup) {
    Draw(details.percent, isBackup, FormatProgressFigures(details));
}

void ProgressPrinter::Update(int32_t percent, bool isBackup) {
    Draw(percent, isBackup, "");
}

void ProgressPrinter::Draw(int32_t percent, bool isBackup, const std::string& figures) {
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
        std::fprintf(stream_, "%s: %d%%%s%s\n", what, percent, figures.empty() ? "" : " - ",
                     figures.c_str());
        std::fflush(stream_);
        return;
    }
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    // The figures are padded so that a shorter line leaves nothing of a longer one behind.
    if (figures.empty()) {
        std::fprintf(stream_, "\r%-10s [%s] %3d%%", what, bar.c_str(), percent);
    } else {
        std::fprintf(stream_, "\r%-10s [%s] %3d%% %-36s", what, bar.c_str(), percent,
                     figures.c_str());
    }
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
    engine.SetDetailedProgressCallback(ProgressPrinter::DetailedCallback);
    engine.SetCallbackUserData(&progress);
    engine.SetProgressScale(100);
    const int32_t result = run();
    progress.Finish();
    engine.SetDetailedProgressCallback(nullptr);
    engine.SetCallbackUserData(nullptr);
    return result;
}

}  // namespace tolvane::cli
