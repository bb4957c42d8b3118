#include "devsim/Faults.h"

#include "devsim/FileChanges.h"
#include "devsim/PasscodeWait.h"

#include <cerrno>
#include <cstdlib>

namespace devsim {
namespace {

bool ParseCount(const std::string& text, uint64_t& out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    out = value;
    return true;
}

bool ParseDeviceError(const std::string& text, DeviceError& out) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    uint64_t code = 0;
    if (!ParseCount(text.substr(0, colon), code) || code == 0 || code > UINT32_MAX) {
        return false;
    }
    out.code = code;
    out.description = text.substr(colon + 1);
    return true;
}

}  // namespace

bool ParseFault(const std::string& flag, Faults& faults, std::string& error) {
    const size_t eq = flag.find('=');
    const std::string name = flag.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? flag.substr(eq + 1) : std::string();
    uint64_t n = 0;
    bool ok = true;
    if (ParsePasscodeFault(flag, faults, error, ok)) {
        return ok;
    }

    if (name == "unplug-after-messages" && hasValue) {
        ok = ParseCount(value, n);
        faults.unplugAfterMessages = n;
    } else if (name == "unplug-after-bytes" && hasValue) {
        ok = ParseCount(value, n);
        faults.unplugAfterBytes = n;
    } else if (name == "silent-after-messages" && hasValue) {
        ok = ParseCount(value, n);
        faults.silentAfterMessages = n;
    } else if (name == "disconnect-after-messages" && hasValue) {
        ok = ParseCount(value, n);
        faults.disconnectAfterMessages = n;
    } else if (name == "close-after-messages" && hasValue) {
        ok = ParseCount(value, n);
        faults.closeAfterMessages = n;
    } else if (name == "lock-held" && hasValue) {
        if (value == "forever") {
            faults.lockHeldForever = true;
        } else {
            ok = ParseCount(value, n);
            faults.lockHeldSeconds = n;
        }
    } else if (name == "willencrypt" && value == "absent") {
        faults.willEncryptAbsent = true;
    } else if (name == "willencrypt" && value == "fail") {
        faults.willEncryptFail = true;
    } else if (flag == "backup-port-zero") {
        faults.backupPortZero = true;
    } else if (flag == "afc-unavailable") {
        faults.afcUnavailable = true;
    } else if (flag == "np-unavailable") {
        faults.npUnavailable = true;
    } else if (flag == "hostile-names") {
        faults.hostileNames = true;
    } else if (name == "refuse-restore" && hasValue) {
        DeviceError e;
        ok = ParseDeviceError(value, e);
        faults.refuseRestore = e;
    } else if (name == "fail-backup" && hasValue) {
        DeviceError e;
        ok = ParseDeviceError(value, e);
        faults.failBackup = e;
    } else if (name == "change-share" && hasValue) {
        ok = ParseShare(value, faults.changeShare);
    } else if (name == "rate" && hasValue) {
        char* end = nullptr;
        const double mbps = std::strtod(value.c_str(), &end);
        ok = !value.empty() && *end == '\0' && mbps > 0 && mbps < 1e6;
        faults.rateMBps = mbps;
    } else {
        error = "unknown fault: " + flag;
        return false;
    }
    if (!ok) {
        error = "bad value in fault: " + flag;
    }
    return ok;
}

}  // namespace devsim
