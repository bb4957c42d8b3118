// The decryption tool's reader of Manifest.plist on arbitrary bytes (XML or binary property
// lists), followed into the keybag parser as the tool goes: nothing may be read outside the data,
// a refusal always has its reason, and an encrypted manifest that is accepted always carries its
// keybag.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backuptool/Keybag.h"
#include "backuptool/ToolSupport.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A buffer of exactly the input's size, so that a read past its end is seen.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    bool encrypted = true;
    std::string keybag = "left over";
    std::string error;
    const bool ok = backuptool::ReadManifestPlist(bytes, encrypted, keybag, error);
    if (!ok) {
        Check(!error.empty());
        return 0;
    }
    if (!encrypted) {
        Check(keybag.empty());
        return 0;
    }
    backuptool::Keybag bag;
    std::string keybagError;
    if (!backuptool::ParseKeybag(keybag, bag, keybagError)) {
        Check(!keybagError.empty());
    }
    return 0;
}
