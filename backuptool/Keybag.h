// The backup keybag (Manifest.plist's BackupKeyBag): a salt and iteration count for the password
// key, and the class keys wrapped with it.
//
// Bags of phones from iOS 10.2 on protect the password twice: their header adds DPWT, DPIC and
// DPSL, and the password is first run through PBKDF2-HMAC-SHA256 with DPSL and DPIC (ten million
// rounds on real phones, seconds of work); the result then takes the password's place in the
// older PBKDF2-HMAC-SHA1 step with SALT and ITER.
//
// The bag is a run of items, each a 4-byte ASCII tag, a 4-byte big-endian length and that many
// value bytes. The items up to the second UUID describe the bag; each later UUID starts a class
// key entry, and the items after it belong to that entry.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "backuptool/Crypto.h"

namespace backuptool {

struct ClassKeyEntry {
    std::string uuid;
    uint32_t protectionClass = 0;
    uint32_t wrap = 0;  // bit flags; kWrapPassword: wrapped with the password key
    uint32_t keyType = 0;
    std::string wrappedKey;
};

struct Keybag {
    uint32_t version = 0;
    uint32_t type = 0;
    std::string uuid;
    std::string salt;
    uint32_t iterations = 0;
    // The first step of the newer bags; an empty salt: an older bag without it.
    uint32_t doubleProtectionWrap = 0;        // DPWT
    uint32_t doubleProtectionIterations = 0;  // DPIC
    std::string doubleProtectionSalt;         // DPSL
    std::vector<ClassKeyEntry> classKeys;

    bool DoublyProtected() const { return !doubleProtectionSalt.empty(); }
};

inline constexpr uint32_t kWrapPassword = 2;
// No phone of that era uses more than a few ten thousand; a damaged count must not keep the tool
// busy for hours.
inline constexpr uint32_t kMaxIterations = 10'000'000;
// Phones ask for 10 000 000 rounds of the SHA-256 step; more than that is taken for damage.
inline constexpr uint32_t kMaxDoubleProtectionIterations = 10'000'000;

// Parses a keybag. False, with a reason in `error`, when an item runs past the end, an integer
// item is not 1 to 8 bytes, the salt or iteration count is missing or out of range, or the bag
// has a DPSL without a DPIC in range (or a DPIC without a DPSL).
bool ParseKeybag(std::string_view data, Keybag& bag, std::string& error);

enum class UnlockResult {
    Unlocked,       // every class key wrapped with the password was unwrapped
    WrongPassword,  // none of them could be unwrapped
    Damaged,        // some could and some could not, or the bag holds none to try
};

// The key that unwraps the bag's class keys: both steps for a doubly protected bag, the SHA-1
// step alone for an older one. `progress` follows the long first step. False when the bag's
// parameters are unusable.
bool DeriveKeybagKey(const Keybag& bag, std::string_view password, std::string& key,
                     const DeriveProgress& progress = {});

// Unwraps the class keys wrapped with the password key into `classKeys` (by protection class).
// On Damaged the keys that did unwrap are still given, and `error` says why.
UnlockResult UnlockKeybagWithKey(const Keybag& bag, std::string_view passwordKey,
                                 std::map<uint32_t, std::string>& classKeys, std::string& error);

// DeriveKeybagKey and UnlockKeybagWithKey in one; the password key is cleared afterwards.
UnlockResult UnlockKeybag(const Keybag& bag, std::string_view password,
                          std::map<uint32_t, std::string>& classKeys, std::string& error,
                          const DeriveProgress& progress = {});

}  // namespace backuptool
