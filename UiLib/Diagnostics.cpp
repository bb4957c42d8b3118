#include "UiLib/Diagnostics.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace UiLib {
namespace {

struct FaultLog {
    std::mutex mutex;
    std::set<std::string> seen;
    std::vector<std::string> ordered;
};

FaultLog& Log() {
    static FaultLog log;
    return log;
}

}  // namespace

void ReportFault(const std::string& text) {
    FaultLog& log = Log();
    std::lock_guard lock(log.mutex);
    if (!log.seen.insert(text).second) {
        return;
    }
    log.ordered.push_back(text);
    std::printf("uilib: %s\n", text.c_str());
    std::fflush(stdout);
}

std::vector<std::string> ReportedFaults() {
    FaultLog& log = Log();
    std::lock_guard lock(log.mutex);
    return log.ordered;
}

void ClearReportedFaults() {
    FaultLog& log = Log();
    std::lock_guard lock(log.mutex);
    log.seen.clear();
    log.ordered.clear();
}

}  // namespace UiLib
