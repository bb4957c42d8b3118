#include "backuptool/ModernDecryptor.h"

#include "backuptool/BackupDecryptor.h"
#include "backuptool/Crypto.h"
#include "backuptool/FileDecryption.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "store/ManifestDb.h"
#include "store/MbFile.h"

namespace backuptool {
namespace {

// An archived MBFile is a few hundred bytes; a row holding more is not read.
constexpr size_t kMaxMbFileBytes = 1 << 20;
// A database of the phone larger than this is taken for damage.
constexpr uint64_t kMaxDatabaseBytes = 64ULL << 30;

// "3d/3d0d…": where the phone keeps a file in the newer layout.
std::string StoredPath(const std::string& folder, const std::string& name) {
    return platform::JoinPath(platform::JoinPath(folder, name.substr(0, 2)), name);
}

// Manifest.db into the output folder: decrypted with ManifestKey when the Manifest.plist has one
// (iOS 10.2 on), copied as it is otherwise (10.0 and 10.1 keep it plain).
// `decrypted` says which of the two it was.
bool OutputManifest(const std::string& input, const std::string& output, plist_t manifest,
                    const ClassKeys* classKeys, bool& decrypted, std::string& error) {
    decrypted = false;
    const std::string source = platform::JoinPath(input, kManifestDb);
    const std::string target = platform::JoinPath(output, kManifestDb);
    const std::optional<uint64_t> size = platform::FileSize(source);
    if (!size) {
        error = "cannot read it";
        return false;
    }
    if (*size > kMaxManifestDbBytes) {
        error = std::to_string(*size) + " bytes is more than a manifest can be";
        return false;
    }
    std::string manifestKey;
    if (classKeys == nullptr || !PlistData(manifest, "ManifestKey", manifestKey)) {
        const int32_t rc = platform::CopyFileReplace(source, target);
        if (rc != 0) {
            error = "cannot copy, error " + std::to_string(rc);
            return false;
        }
        return true;
    }
    std::string key;
    if (!UnwrapFileKey(*classKeys, manifestKey, key, error)) {
        error = "ManifestKey: " + error;
        return false;
    }
    DecryptOptions options;
    options.expectedStart = kSqliteHeader;
    options.wholeSqlitePages = true;
    options.maxBytes = kMaxManifestDbBytes;
    decrypted = DecryptFile(source, target, key, options, error);
    Wipe(key);
    return decrypted;
}

}  // namespace

bool IsModernBackup(const std::string& inputFolder) {
    return platform::FileExists(platform::JoinPath(inputFolder, kManifestDb));
}

bool FindDatabaseRecord(tolvane::ManifestDb& manifest, const Database& db, ModernRecord& record,
                        std::string& error) {
    record = ModernRecord{};
    const std::string fileId = HashedName(db.domain, db.path);
    tolvane::ManifestRow row;
    bool found = false;
    if (manifest.Find(fileId, row, found) != 0) {
        error = "Manifest.db cannot be read: " + manifest.Error();
        return false;
    }
    if (!found) {
        error = "no row in Manifest.db";
        return false;
    }
    // The row is taken only when it describes this very file: the name it is found under must
    // be the hash of its own domain and path.
    if (row.domain != db.domain || row.relativePath != db.path ||
        HashedName(row.domain, row.relativePath) != fileId) {
        error = "its row in Manifest.db names another file";
        return false;
    }
    if (row.flags != tolvane::kManifestFlagFile) {
        error = "its row in Manifest.db is not a file (flags " + std::to_string(row.flags) + ")";
        return false;
    }
    if (row.file.size() > kMaxMbFileBytes) {
        error = "its row in Manifest.db is too large";
        return false;
    }
    tolvane::MbFile file;
    std::string why;
    if (!tolvane::DecodeMbFile(row.file, file, why)) {
        error = "its row in Manifest.db is damaged: " + why;
        return false;
    }
    if (file.encryptionKey && file.encryptionKey->size() != tolvane::kMbFileKeyLength) {
        error = "its EncryptionKey has " + std::to_string(file.encryptionKey->size()) +
                " bytes instead of 44";
        return false;
    }
    record.size = file.size;
    record.encryptionKey = file.encryptionKey.value_or(std::string());
    return true;
}

int DecryptModernDatabases(const std::string& inputFolder, const std::string& outputFolder,
                           plist_t manifest, std::string_view password, std::FILE* log) {
    std::string error;
    if (!PlistBool(manifest, "IsEncrypted")) {
        int exit = kExitOk;
        bool decrypted = false;
        if (!OutputManifest(inputFolder, outputFolder, manifest, nullptr, decrypted, error)) {
            Say(log, "%s: %s\n", kManifestDb, error.c_str());
            exit = kExitFailed;
        }
        if (CopyPlainDatabases(inputFolder, outputFolder, true, log) != kExitOk) {
            exit = kExitFailed;
        }
        return exit;
    }

    ClassKeys classKeys;
    if (const int unlocked = UnlockBackupKeys(manifest, password, log, classKeys);
        unlocked != kExitOk) {
        return unlocked;
    }
    bool decrypted = false;
    if (!OutputManifest(inputFolder, outputFolder, manifest, &classKeys, decrypted, error)) {
        Say(log, "Error: %s: %s\n", kManifestDb, error.c_str());
        return kExitFailed;
    }
    tolvane::ManifestDb db;
    if (db.OpenReadOnly(platform::JoinPath(outputFolder, kManifestDb)) != 0) {
        Say(log, "Error: %s cannot be read: %s\n", kManifestDb, db.Error().c_str());
        return kExitFailed;
    }
    Say(log, "%s: %s\n", kManifestDb, decrypted ? "decrypted" : "copied, it is not encrypted");

    int exit = kExitOk;
    for (const Database& wanted : kDatabases) {
        const std::string name = HashedName(wanted.domain, wanted.path);
        const std::string source = StoredPath(inputFolder, name);
        const std::string target = platform::JoinPath(outputFolder, name);
        ModernRecord record;
        uint64_t written = 0;
        bool ok = false;
        if (!FindDatabaseRecord(db, wanted, record, error)) {
            // error says why
        } else if (record.encryptionKey.empty()) {
            // A file the phone did not encrypt.
            const int32_t rc = platform::CopyFileReplace(source, target);
            ok = rc == 0;
            error = "cannot copy, error " + std::to_string(rc);
            written = platform::FileSize(target).value_or(0);
        } else {
            std::string fileKey;
            if (UnwrapFileKey(classKeys, record.encryptionKey, fileKey, error)) {
                DecryptOptions options;
                options.expectedStart = kSqliteHeader;
                options.wholeSqlitePages = true;
                options.maxBytes = kMaxDatabaseBytes;
                ok = DecryptFile(source, target, fileKey, options, error, &written);
            }
            Wipe(fileKey);
        }
        if (ok) {
            Say(log, "%s (%s): decrypted, %llu bytes\n", name.c_str(), wanted.path,
                static_cast<unsigned long long>(written));
        } else {
            Say(log, "%s (%s): %s\n", name.c_str(), wanted.path, error.c_str());
            exit = kExitFailed;
        }
    }
    return exit;
}

}  // namespace backuptool
