#include "devsim/PasscodeWait.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "devsim/Connection.h"
#include "devsim/Generation.h"
#include "devsim/Phone.h"

namespace devsim {
namespace {

bool ParseSeconds(const std::string& text, uint64_t& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9) {
        return false;
    }
    out = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool ParsePasscodeFault(const std::string& flag, Faults& faults, std::string& error, bool& ok) {
    const size_t eq = flag.find('=');
    const std::string name = flag.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : flag.substr(eq + 1);
    uint64_t n = 0;
    if (flag == "passcode-never") {
        faults.passcodeNever = true;
        ok = true;
    } else if (name == "passcode-after" && eq != std::string::npos) {
        ok = ParseSeconds(value, n);
        faults.passcodeAfterSeconds = n;
    } else if (name == "passcode-limit" && eq != std::string::npos) {
        ok = ParseSeconds(value, n) && n > 0;
        faults.passcodeLimitSeconds = n;
    } else {
        return false;
    }
    if (!ok) {
        error = "bad value in fault: " + flag;
    }
    return true;
}

PasscodeOutcome WaitForPasscode(Phone& phone, Connection& connection) {
    const Faults& f = phone.GetFaults();
    if (!AsksForPasscode(phone.State().ValueString("ProductVersion")) ||
        (!f.passcodeNever && !f.passcodeAfterSeconds)) {
        return PasscodeOutcome::Entered;
    }
    phone.Events().Append("passcode asked");
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto limit = std::chrono::seconds(f.passcodeLimitSeconds);
    const bool enters = !f.passcodeNever && *f.passcodeAfterSeconds < f.passcodeLimitSeconds;
    const auto entersAfter = std::chrono::seconds(enters ? *f.passcodeAfterSeconds : 0);
    for (;;) {
        const Clock::duration waited = Clock::now() - start;
        if (enters && waited >= entersAfter) {
            phone.Events().Append("passcode entered");
            return PasscodeOutcome::Entered;
        }
        if (!enters && waited >= limit) {
            phone.Events().Append("passcode timeout");
            return PasscodeOutcome::Locked;
        }
        if (!phone.Attached() || connection.IsShutDown() || connection.PeerClosed()) {
            return PasscodeOutcome::Gone;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace devsim
