#include "backuptool/BackupDecryptor.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "backuptool/Crypto.h"
#include "backuptool/Keybag.h"
#include "backuptool/MbdbReader.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"

namespace backuptool {
namespace {

struct Database {
    const char* domain;
    const char* path;
};

// The message and contacts databases, in the home domain of the phone.
constexpr Database kDatabases[] = {
    {"HomeDomain", "Library/SMS/sms.db"},
    {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"},
};

constexpr uint64_t kMaxPlistBytes = 64ULL * 1024 * 1024;
constexpr uint64_t kMaxManifestBytes = 1ULL << 30;
constexpr size_t kChunkSize = 1 << 20;
constexpr size_t kEncryptionKeySize = 4 + kWrappedKeySize;

// A line for the user. A failed write to the log could not be reported anywhere else.
__attribute__((format(printf, 2, 3))) void Say(std::FILE* log, const char* format, ...) {
    va_list args;
    va_start(args, format);
    (void)std::vfprintf(log, format, args);
    va_end(args);
}

// The name under which the phone stores a file in a backup folder.
std::string HashedName(std::string_view domain, std::string_view path) {
    std::string key(domain);
    key += '-';
    key += path;
    return platform::HexLower(platform::Sha1Of(key));
}

std::string SystemMessage() {
    return platform::ErrnoMessage(errno);
}

bool ReadFully(int fd, unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;  // the file shrank while it was read
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WriteFully(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

plist_t ParsePlist(std::string_view data, const std::string& name, std::string& error) {
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

bool IsEncrypted(plist_t manifest) {
    plist_t node = plist_dict_get_item(manifest, "IsEncrypted");
    if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) {
        return false;
    }
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

bool KeybagBytes(plist_t manifest, std::string& bytes) {
    plist_t node = plist_dict_get_item(manifest, "BackupKeyBag");
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

// The plain backup's databases are copied as they are.
int CopyPlainDatabases(const std::string& input, const std::string& output, std::FILE* log) {
    int exit = kExitOk;
    for (const Database& db : kDatabases) {
        const std::string name = HashedName(db.domain, db.path);
        const int32_t rc = platform::CopyFileReplace(platform::JoinPath(input, name),
                                                     platform::JoinPath(output, name));
        if (rc != 0) {
            Say(log, "%s (%s): cannot copy, error %d\n", name.c_str(), db.path, rc);
            exit = kExitFailed;
        } else {
            Say(log, "%s (%s): copied, the backup is not encrypted\n", name.c_str(), db.path);
        }
    }
    return exit;
}

// The database's record: its plain size and encryption key.
struct FoundRecord {
    bool found = false;
    uint64_t size = 0;
    std::string encryptionKey;
};

}  // namespace

bool DecryptFile(const std::string& source, const std::string& target, std::string_view fileKey,
                 uint64_t plainSize, std::string& error) {
    int32_t openError = 0;
    platform::UniqueFd in(platform::OpenRegularFileForReading(source, &openError));
    if (in.get() < 0) {
        error = openError == platform::kErrorAccessDenied ? "not a regular file"
                                                          : "cannot open: " + SystemMessage();
        return false;
    }
    struct stat st {};
    if (fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a readable file";
        return false;
    }
    const auto encryptedSize = static_cast<uint64_t>(st.st_size);
    if (encryptedSize % 16 != 0 || encryptedSize < plainSize) {
        error = "encrypted size " + std::to_string(encryptedSize) +
                " does not fit the plain size " + std::to_string(plainSize);
        return false;
    }
    CbcDecryptor decryptor(fileKey);
    if (!decryptor.Ok()) {
        error = "the file key is unusable";
        return false;
    }
    posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::string temp = platform::JoinPath(platform::ParentPath(target),
                                                "." + platform::BaseName(target) + ".partial");
    platform::UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        error = "cannot write " + temp + ": " + SystemMessage();
        return false;
    }
    std::vector<unsigned char> cipher(kChunkSize);
    std::vector<unsigned char> plain(kChunkSize);
    uint64_t readSoFar = 0;
    uint64_t written = 0;
    bool ok = true;
    // Only the blocks that hold plain bytes are decrypted; the padding after them is not needed.
    const uint64_t needed = (plainSize + 15) / 16 * 16;
    while (ok && readSoFar < needed) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, needed - readSoFar));
        if (!ReadFully(in.get(), cipher.data(), n)) {
            error = "cannot read: " + SystemMessage();
            ok = false;
            break;
        }
        readSoFar += n;
        if (!decryptor.Update(cipher.data(), n, plain.data())) {
            error = "decryption failed";
            ok = false;
            break;
        }
        const size_t keep = static_cast<size_t>(std::min<uint64_t>(n, plainSize - written));
        if (!WriteFully(out.get(), plain.data(), keep)) {
            error = "cannot write: " + SystemMessage();
            ok = false;
            break;
        }
        written += keep;
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    if (out.Close() != 0 && ok) {
        error = "cannot write: " + SystemMessage();
        ok = false;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        error = "cannot write " + target + ": " + SystemMessage();
        ok = false;
    }
    if (!ok) {
        unlink(temp.c_str());
    }
    return ok;
}

bool ReadManifestPlist(std::string_view bytes, bool& encrypted, std::string& keybag,
                       std::string& error) {
    encrypted = false;
    keybag.clear();
    const platform::PlistPtr manifest(ParsePlist(bytes, "Manifest.plist", error));
    if (!manifest) {
        return false;
    }
    encrypted = IsEncrypted(manifest.get());
    if (encrypted && !KeybagBytes(manifest.get(), keybag)) {
        error = "Manifest.plist has no BackupKeyBag";
        return false;
    }
    return true;
}

int DecryptDatabases(const std::string& inputFolder, const std::string& outputFolder,
                     std::string_view password, std::FILE* log) {
    std::string error;
    std::string manifestBytes;
    if (platform::ReadWholeFile(platform::JoinPath(inputFolder, "Manifest.plist"), manifestBytes,
                                kMaxPlistBytes) != 0 ||
        manifestBytes.empty()) {
        Say(log, "Error: cannot read Manifest.plist\n");
        return kExitFailed;
    }
    bool encrypted = false;
    std::string keybagBytes;
    if (!ReadManifestPlist(manifestBytes, encrypted, keybagBytes, error)) {
        Say(log, "Error: %s\n", error.c_str());
        return kExitFailed;
    }
    const int32_t made = platform::CreateFolderWithParents(outputFolder);
    if (made != 0 && made != platform::kErrorAlreadyExists) {
        Say(log, "Error: cannot make the output folder %s (error %d)\n", outputFolder.c_str(),
            made);
        return kExitFailed;
    }
    if (!encrypted) {
        return CopyPlainDatabases(inputFolder, outputFolder, log);
    }

    Keybag keybag;
    if (!ParseKeybag(keybagBytes, keybag, error)) {
        Say(log, "Error: %s\n", error.c_str());
        return kExitFailed;
    }
    std::map<uint32_t, std::string> classKeys;
    switch (UnlockKeybag(keybag, password, classKeys, error)) {
        case UnlockResult::Unlocked:
            break;
        case UnlockResult::WrongPassword:
            Say(log, "Wrong password\n");
            return kExitWrongPassword;
        case UnlockResult::Damaged:
            Say(log, "Warning: %s\n", error.c_str());
            if (classKeys.empty()) {
                return kExitFailed;
            }
            break;
    }

    std::string mbdb;
    if (platform::ReadWholeFile(platform::JoinPath(inputFolder, "Manifest.mbdb"), mbdb,
                                kMaxManifestBytes) != 0) {
        Say(log, "Error: cannot read Manifest.mbdb\n");
        return kExitFailed;
    }
    std::map<std::string, FoundRecord> wanted;
    for (const Database& db : kDatabases) {
        wanted[HashedName(db.domain, db.path)];
    }
    const bool read = ReadMbdbRecords(
        mbdb,
        [&](const MbdbFileRecord& record) {
            const auto it = wanted.find(HashedName(record.domain, record.path));
            if (it != wanted.end() && !it->second.found) {
                it->second = {true, record.size, std::string(record.encryptionKey)};
            }
        },
        error);
    if (!read) {
        Say(log, "Error: %s\n", error.c_str());
        return kExitFailed;
    }

    int exit = kExitOk;
    for (const Database& db : kDatabases) {
        const std::string name = HashedName(db.domain, db.path);
        const FoundRecord& record = wanted[name];
        const std::string source = platform::JoinPath(inputFolder, name);
        const std::string target = platform::JoinPath(outputFolder, name);
        bool ok = false;
        if (!record.found) {
            error = "no record in Manifest.mbdb";
        } else if (record.encryptionKey.empty()) {
            // A file the phone did not encrypt.
            const int32_t rc = platform::CopyFileReplace(source, target);
            ok = rc == 0;
            error = "cannot copy, error " + std::to_string(rc);
        } else if (record.encryptionKey.size() != kEncryptionKeySize) {
            error = "its encryption key has " + std::to_string(record.encryptionKey.size()) +
                    " bytes instead of 44";
        } else {
            const auto* k = reinterpret_cast<const uint8_t*>(record.encryptionKey.data());
            const uint32_t protectionClass =
                static_cast<uint32_t>(k[0]) | static_cast<uint32_t>(k[1]) << 8 |
                static_cast<uint32_t>(k[2]) << 16 | static_cast<uint32_t>(k[3]) << 24;
            const auto classKey = classKeys.find(protectionClass);
            std::string fileKey;
            if (classKey == classKeys.end()) {
                error = "no key for protection class " + std::to_string(protectionClass);
            } else if (!UnwrapKey(classKey->second,
                                  std::string_view(record.encryptionKey).substr(4), fileKey)) {
                error = "its file key cannot be unwrapped";
            } else {
                ok = DecryptFile(source, target, fileKey, record.size, error);
            }
            Wipe(fileKey);
        }
        if (ok) {
            Say(log, "%s (%s): decrypted, %llu bytes\n", name.c_str(), db.path,
                static_cast<unsigned long long>(record.size));
        } else {
            Say(log, "%s (%s): %s\n", name.c_str(), db.path, error.c_str());
            exit = kExitFailed;
        }
    }
    for (auto& [cls, key] : classKeys) {
        Wipe(key);
    }
    return exit;
}

}  // namespace backuptool
