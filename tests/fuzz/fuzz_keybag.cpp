// The decryption tool's keybag parser on arbitrary bytes, the newer bags' DPWT, DPIC and DPSL
// included: it must stay inside the data and refuse what it cannot use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backuptool/Keybag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    backuptool::Keybag bag;
    std::string error;
    const bool ok = backuptool::ParseKeybag(
        std::string_view(reinterpret_cast<const char*>(data), size), bag, error);
    if (ok &&
        (bag.salt.empty() || bag.iterations == 0 || bag.iterations > backuptool::kMaxIterations)) {
        std::abort();
    }
    // A bag that asks for the SHA-256 step gives its salt and a round count in range, and one
    // that does not ask for it gives no round count for it.
    if (ok && bag.DoublyProtected() &&
        (bag.doubleProtectionIterations == 0 ||
         bag.doubleProtectionIterations > backuptool::kMaxDoubleProtectionIterations)) {
        std::abort();
    }
    if (ok && !bag.DoublyProtected() && bag.doubleProtectionIterations != 0) {
        std::abort();
    }
    if (!ok && error.empty()) {
        std::abort();
    }
    return 0;
}
