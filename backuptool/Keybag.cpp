#include "backuptool/Keybag.h"

#include "backuptool/Crypto.h"

namespace backuptool {
namespace {

uint32_t ReadBigEndian32(std::string_view bytes) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[3]));
}

// An integer item: 1 to 8 big-endian bytes, which must fit 32 bits.
bool ReadInteger(std::string_view tag, std::string_view value, uint32_t& out, std::string& error) {
    if (value.empty() || value.size() > 8) {
        error = "keybag item " + std::string(tag) + " is not an integer";
        return false;
    }
    uint64_t v = 0;
    for (const char c : value) {
        v = v << 8 | static_cast<uint8_t>(c);
    }
    if (v > UINT32_MAX) {
        error = "keybag item " + std::string(tag) + " is out of range";
        return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

bool ParseKeybag(std::string_view data, Keybag& bag, std::string& error) {
    bag = Keybag{};
    bool inHeader = true;
    bool seenBagUuid = false;
    size_t pos = 0;
    while (pos < data.size()) {
        if (data.size() - pos < 8) {
            error = "keybag ends inside an item header";
            return false;
        }
        const std::string_view tag = data.substr(pos, 4);
        const uint32_t length = ReadBigEndian32(data.substr(pos + 4, 4));
        pos += 8;
        if (data.size() - pos < length) {
            error = "keybag item " + std::string(tag) + " runs past the end";
            return false;
        }
        const std::string_view value = data.substr(pos, length);
        pos += length;

        if (tag == "UUID") {
            if (!seenBagUuid) {
                seenBagUuid = true;
                bag.uuid = value;
            } else {
                inHeader = false;
                bag.classKeys.emplace_back();
                bag.classKeys.back().uuid = value;
            }
            continue;
        }
        if (inHeader) {
            if (tag == "VERS") {
                if (!ReadInteger(tag, value, bag.version, error)) {
                    return false;
                }
            } else if (tag == "TYPE") {
                if (!ReadInteger(tag, value, bag.type, error)) {
                    return false;
                }
            } else if (tag == "SALT") {
                bag.salt = value;
            } else if (tag == "ITER") {
                if (!ReadInteger(tag, value, bag.iterations, error)) {
                    return false;
                }
            } else if (tag == "DPSL") {
                bag.doubleProtectionSalt = value;
            } else if (tag == "DPIC") {
                if (!ReadInteger(tag, value, bag.doubleProtectionIterations, error)) {
                    return false;
                }
            } else if (tag == "DPWT") {
                if (!ReadInteger(tag, value, bag.doubleProtectionWrap, error)) {
                    return false;
                }
            }
            // HMCK and the header's WRAP are not needed to decrypt.
            continue;
        }
        ClassKeyEntry& entry = bag.classKeys.back();
        if (tag == "CLAS") {
            if (!ReadInteger(tag, value, entry.protectionClass, error)) {
                return false;
            }
        } else if (tag == "WRAP") {
            if (!ReadInteger(tag, value, entry.wrap, error)) {
                return false;
            }
        } else if (tag == "KTYP") {
            if (!ReadInteger(tag, value, entry.keyType, error)) {
                return false;
            }
        } else if (tag == "WPKY") {
            entry.wrappedKey = value;
        }
    }
    if (bag.salt.empty()) {
        error = "keybag has no salt";
        return false;
    }
    if (bag.iterations == 0 || bag.iterations > kMaxIterations) {
        error = "keybag iteration count " + std::to_string(bag.iterations) + " is out of range";
        return false;
    }
    if (bag.DoublyProtected() &&
        (bag.doubleProtectionIterations == 0 ||
         bag.doubleProtectionIterations > kMaxDoubleProtectionIterations)) {
        error = "keybag DPIC " + std::to_string(bag.doubleProtectionIterations) +
                " is missing or out of range";
        return false;
    }
    if (!bag.DoublyProtected() && bag.doubleProtectionIterations != 0) {
        error = "keybag has a DPIC but no DPSL";
        return false;
    }
    return true;
}

bool DeriveKeybagKey(const Keybag& bag, std::string_view password, std::string& key,
                     const DeriveProgress& progress) {
    if (!bag.DoublyProtected()) {
        return DerivePasswordKey(password, bag.salt, bag.iterations, key);
    }
    std::string first;
    if (!DerivePasswordKeySha256(password, bag.doubleProtectionSalt, bag.doubleProtectionIterations,
                                 first, progress)) {
        return false;
    }
    const bool ok = DerivePasswordKey(first, bag.salt, bag.iterations, key);
    Wipe(first);
    return ok;
}

UnlockResult UnlockKeybag(const Keybag& bag, std::string_view password,
                          std::map<uint32_t, std::string>& classKeys, std::string& error,
                          const DeriveProgress& progress) {
    classKeys.clear();
    std::string passwordKey;
    if (!DeriveKeybagKey(bag, password, passwordKey, progress)) {
        error = "the password key cannot be derived";
        return UnlockResult::Damaged;
    }
    const UnlockResult result = UnlockKeybagWithKey(bag, passwordKey, classKeys, error);
    Wipe(passwordKey);
    return result;
}

UnlockResult UnlockKeybagWithKey(const Keybag& bag, std::string_view passwordKey,
                                 std::map<uint32_t, std::string>& classKeys, std::string& error) {
    classKeys.clear();
    size_t unwrapped = 0;
    size_t failed = 0;
    for (const ClassKeyEntry& entry : bag.classKeys) {
        if ((entry.wrap & kWrapPassword) == 0 || entry.wrappedKey.empty()) {
            continue;  // held by the phone itself; no use for a backup
        }
        std::string key;
        if (UnwrapKey(passwordKey, entry.wrappedKey, key)) {
            Wipe(classKeys[entry.protectionClass]);
            classKeys[entry.protectionClass] = std::move(key);
            ++unwrapped;
        } else {
            ++failed;
        }
    }
    if (unwrapped == 0 && failed > 0) {
        return UnlockResult::WrongPassword;
    }
    if (unwrapped == 0) {
        error = "keybag holds no class key wrapped with the password";
        return UnlockResult::Damaged;
    }
    if (failed > 0) {
        error = std::to_string(failed) + " class key(s) of the keybag cannot be unwrapped";
        return UnlockResult::Damaged;
    }
    return UnlockResult::Unlocked;
}

}  // namespace backuptool
