// The backup keybag (Manifest.plist's BackupKeyBag): a salt and iteration count for the password
// key, and the class keys wrapped with it.
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
    std::vector<ClassKeyEntry> classKeys;
};

inline constexpr uint32_t kWrapPassword = 2;
// No phone of that era uses more than a few ten thousand; a damaged count must not keep the tool
// busy for hours.
inline constexpr uint32_t kMaxIterations = 10'000'000;

// Parses a keybag. False, with a reason in `error`, when an item runs past the end, an integer
// item is not 1 to 8 bytes, or the salt or iteration count is missing or out of range.
bool ParseKeybag(std::string_view data, Keybag& bag, std::string& error);

enum class UnlockResult {
    Unlocked,       // every class key wrapped with the password was unwrapped
    WrongPassword,  // none of them could be unwrapped
    Damaged,        // some could and some could not, or the bag holds none to try
};

// Derives the password key and unwraps the class keys wrapped with it, into `classKeys` (by
// protection class). On Damaged the keys that did unwrap are still given, and `error` says why.
UnlockResult UnlockKeybag(const Keybag& bag, std::string_view password,
                          std::map<uint32_t, std::string>& classKeys, std::string& error);

}  // namespace backuptool
