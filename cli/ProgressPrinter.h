// Shows the engine's progress: a bar redrawn in place on a terminal, plain lines otherwise (one
// line whenever the percent changes), on standard error so that standard output stays for results.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "engine/RunContext.h"

namespace tolvane {
class BackupEngine;
}

namespace tolvane::cli {

class ProgressPrinter {
  public:
    // `terminal`: draw a bar (normally isatty of the stream).
    ProgressPrinter(std::FILE* stream, bool terminal);
    static ProgressPrinter ForStandardError();

    // The engine's progress callback: user data is the printer. Always returns 0 (go on).
    static int32_t Callback(void* userData, int32_t percent, int32_t isBackup);
    // The same with the bytes, speed and time left beside the percent.
    static int32_t DetailedCallback(void* userData, const ProgressDetails& details,
                                    int32_t isBackup);

    void Update(int32_t percent, bool isBackup);
    void Update(const ProgressDetails& details, bool isBackup);
    // Ends the bar's line, if one was drawn.
    void Finish();

  private:
    void Draw(int32_t percent, bool isBackup, const std::string& figures);

    std::FILE* stream_;
    bool terminal_;
    int32_t lastPercent_ = -1;
    int lastPhase_ = -1;
    bool drawn_ = false;
    std::mutex mutex_;
};

// "1.5 GB", "12.3 MB", "830 kB", "12 bytes" (powers of ten, as the link's speed is counted).
std::string FormatBytes(uint64_t bytes);
// "0:07", "12:05", "1:02:03".
std::string FormatDuration(int64_t seconds);
// "12.3 MB, 25.1 MB/s, 0:35 left" (the time left left out while unknown).
std::string FormatProgressFigures(const ProgressDetails& details);

// Shows the decryption tool's key derivation of an encrypted backup (seconds on a backup of iOS
// 10.2 or later) on `stream`: "Deriving the password key: N%", redrawn in place on a terminal,
// a line per step otherwise.
std::function<void(int percent)> DerivationPrinter(std::FILE* stream, bool terminal);

// Runs `run` (a run of `engine`) with its progress shown by a printer on standard error, and
// returns its result; the printer is finished and taken off the engine again afterwards.
int32_t RunShowingProgress(BackupEngine& engine, const std::function<int32_t()>& run);

}  // namespace tolvane::cli
