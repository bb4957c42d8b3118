#include "backuptool/ToolSupport.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "backuptool/BackupDecryptor.h"
#include "backuptool/Crypto.h"
#include "backuptool/Keybag.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"

namespace backuptool {
namespace {

constexpr uint64_t kMaxPlistBytes = 64ULL * 1024 * 1024;
constexpr size_t kEncryptionKeySize = 4 + kWrappedKeySize;
// Fewer rounds than this end before anyone would wait for a figure.
constexpr uint32_t kRoundsWorthShowing = 100'000;

}  // namespace

void Say(std::FILE* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    (void)std::vfprintf(log, format, args);
    va_end(args);
    (void)std::fflush(log);
}

std::string HashedName(std::string_view domain, std::string_view path) {
    std::string key(domain);
    key += '-';
    key += path;
    return platform::HexLower(platform::Sha1Of(key));
}

plist_t ParsePlistBytes(std::string_view data, const std::string& name, std::string& error) {
    plist_t root = nullptr;
    if (data.empty() || data.size() > kMaxPlistBytes) {
        error = name + " is not a property list dictionary";
        return nullptr;
    }
    if (data.size() > 8 && std::memcmp(data.data(), "bplist00", 8) == 0) {
        plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
    } else {
        plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
    }
    if (root == nullptr || plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        error = name + " is not a property list dictionary";
        return nullptr;
    }
    return root;
}

plist_t ReadPlistFile(const std::string& path, std::string& error) {
    std::string data;
    if (platform::ReadWholeFile(path, data, kMaxPlistBytes) != 0 || data.empty()) {
        error = "cannot read " + platform::BaseName(path);
        return nullptr;
    }
    return ParsePlistBytes(data, platform::BaseName(path), error);
}

bool ReadManifestPlist(std::string_view bytes, bool& encrypted, std::string& keybag,
                       std::string& error) {
    encrypted = false;
    keybag.clear();
    const platform::PlistPtr manifest(ParsePlistBytes(bytes, "Manifest.plist", error));
    if (!manifest) {
        return false;
    }
    encrypted = PlistBool(manifest.get(), "IsEncrypted");
    if (encrypted && !PlistData(manifest.get(), "BackupKeyBag", keybag)) {
        error = "Manifest.plist has no BackupKeyBag";
        return false;
    }
    return true;
}

bool PlistBool(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) {
        return false;
    }
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

bool PlistData(plist_t dict, const char* key, std::string& bytes) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return false;
    }
    char* data = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &data, &length);
    bytes.assign(data != nullptr ? data : "", data != nullptr ? length : 0);
    std::free(data);
    return true;
}

uint32_t LittleEndian32(std::string_view bytes) {
    const auto* k = reinterpret_cast<const uint8_t*>(bytes.data());
    return static_cast<uint32_t>(k[0]) | static_cast<uint32_t>(k[1]) << 8 |
           static_cast<uint32_t>(k[2]) << 16 | static_cast<uint32_t>(k[3]) << 24;
}

}  // namespace backuptool

namespace backuptool {

ClassKeys::~ClassKeys() {
    for (auto& [cls, key] : keys) {
        Wipe(key);
    }
}

int UnlockBackupKeys(plist_t manifest, std::string_view password, std::FILE* log,
                     ClassKeys& classKeys) {
    std::string bytes;
    if (!PlistData(manifest, "BackupKeyBag", bytes)) {
        Say(log, "Error: Manifest.plist has no BackupKeyBag\n");
        return kExitFailed;
    }
    Keybag keybag;
    std::string error;
    if (!ParseKeybag(bytes, keybag, error)) {
        Say(log, "Error: %s\n", error.c_str());
        return kExitFailed;
    }
    DeriveProgress progress;
    int shown = 0;
    if (keybag.DoublyProtected() && keybag.doubleProtectionIterations >= kRoundsWorthShowing) {
        Say(log, "Deriving the password key (%u rounds)\n", keybag.doubleProtectionIterations);
        progress = [&](uint32_t done, uint32_t total) {
            const int percent = static_cast<int>(uint64_t{done} * 100 / total);
            if (percent / 10 > shown / 10) {
                shown = percent;
                Say(log, "Deriving the password key: %d%%\n", percent);
            }
        };
    }
    switch (UnlockKeybag(keybag, password, classKeys.keys, error, progress)) {
        case UnlockResult::Unlocked:
            return kExitOk;
        case UnlockResult::WrongPassword:
            Say(log, "Wrong password\n");
            return kExitWrongPassword;
        case UnlockResult::Damaged:
            Say(log, "Warning: %s\n", error.c_str());
            return classKeys.keys.empty() ? kExitFailed : kExitOk;
    }
    return kExitFailed;
}

bool UnwrapFileKey(const ClassKeys& classKeys, std::string_view encryptionKey, std::string& fileKey,
                   std::string& error) {
    if (encryptionKey.size() != kEncryptionKeySize) {
        error = "its key has " + std::to_string(encryptionKey.size()) + " bytes instead of 44";
        return false;
    }
    const uint32_t protectionClass = LittleEndian32(encryptionKey);
    const auto classKey = classKeys.keys.find(protectionClass);
    if (classKey == classKeys.keys.end()) {
        error = "no key for protection class " + std::to_string(protectionClass);
        return false;
    }
    if (!UnwrapKey(classKey->second, encryptionKey.substr(4), fileKey)) {
        error = "its file key cannot be unwrapped";
        return false;
    }
    return true;
}

int CopyPlainDatabases(const std::string& input, const std::string& output, bool prefixed,
                       std::FILE* log) {
    int exit = kExitOk;
    for (const Database& db : kDatabases) {
        const std::string name = HashedName(db.domain, db.path);
        const std::string source =
            prefixed ? platform::JoinPath(platform::JoinPath(input, name.substr(0, 2)), name)
                     : platform::JoinPath(input, name);
        const int32_t rc = platform::CopyFileReplace(source, platform::JoinPath(output, name));
        if (rc != 0) {
            Say(log, "%s (%s): cannot copy, error %d\n", name.c_str(), db.path, rc);
            exit = kExitFailed;
        } else {
            Say(log, "%s (%s): copied, the backup is not encrypted\n", name.c_str(), db.path);
        }
    }
    return exit;
}

}  // namespace backuptool
