#include "backuptool/BackupDecryptor.h"

#include <plist/plist.h>

#include <map>

#include "backuptool/Crypto.h"
#include "backuptool/FileDecryption.h"
#include "backuptool/MbdbReader.h"
#include "backuptool/ModernDecryptor.h"
#include "backuptool/ToolSupport.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"

namespace backuptool {
namespace {

constexpr uint64_t kMaxManifestBytes = 1ULL << 30;

// The database's record: its plain size and encryption key.
struct FoundRecord {
    bool found = false;
    uint64_t size = 0;
    std::string encryptionKey;
};

// A backup of the Manifest.mbdb layout: flat hashed files, keys and sizes in the records.
int DecryptOlderDatabases(const std::string& inputFolder, const std::string& outputFolder,
                          plist_t manifest, std::string_view password, std::FILE* log) {
    ClassKeys classKeys;
    if (const int unlocked = UnlockBackupKeys(manifest, password, log, classKeys);
        unlocked != kExitOk) {
        return unlocked;
    }
    std::string error;
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
        } else {
            std::string fileKey;
            if (UnwrapFileKey(classKeys, record.encryptionKey, fileKey, error)) {
                DecryptOptions options;
                options.plainSize = record.size;
                ok = DecryptFile(source, target, fileKey, options, error);
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
    return exit;
}

}  // namespace

int DecryptDatabases(const std::string& inputFolder, const std::string& outputFolder,
                     std::string_view password, std::FILE* log) {
    std::string error;
    const platform::PlistPtr manifest(
        ReadPlistFile(platform::JoinPath(inputFolder, "Manifest.plist"), error));
    if (!manifest) {
        Say(log, "Error: %s\n", error.c_str());
        return kExitFailed;
    }
    const int32_t made = platform::CreateFolderWithParents(outputFolder);
    if (made != 0 && made != platform::kErrorAlreadyExists) {
        Say(log, "Error: cannot make the output folder %s (error %d)\n", outputFolder.c_str(),
            made);
        return kExitFailed;
    }
    if (IsModernBackup(inputFolder)) {
        return DecryptModernDatabases(inputFolder, outputFolder, manifest.get(), password, log);
    }
    if (!PlistBool(manifest.get(), "IsEncrypted")) {
        return CopyPlainDatabases(inputFolder, outputFolder, false, log);
    }
    return DecryptOlderDatabases(inputFolder, outputFolder, manifest.get(), password, log);
}

}  // namespace backuptool
