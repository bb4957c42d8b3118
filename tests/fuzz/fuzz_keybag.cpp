// The decryption tool's keybag parser on arbitrary bytes: it must stay inside the data and refuse
// what it cannot use.
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
    if (!ok && error.empty()) {
        std::abort();
    }
    return 0;
}
