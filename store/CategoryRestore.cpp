#include "store/CategoryRestore.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Sha1.h"
#include "store/BackupFormat.h"
#include "store/DataCategory.h"
#include "store/Manifest.h"
#include "store/ManifestDb.h"
#include "store/MbFile.h"

namespace tolvane {
namespace {

struct CategoryFiles {
    DataCategory category;
    const char* hashedName;    // in a device folder
    const char* manifestText;  // found in the path of the database's manifest record
    const char* what;          // for messages
};

constexpr CategoryFiles kCategories[] = {
    {Sms, kSmsDatabaseName, "sms.db", "message database"},
    {Contacts, kContactsDatabaseName, "AddressBook.sqlitedb", "contacts database"},
};

void Tell(std::string* problem, std::string text) {
    if (problem != nullptr) {
        *problem = std::move(text);
    }
}

// The database of a category in the chosen source; a missing one gives the flat hashed path, so
// that the copy fails with the system's "not found" as it always has.
std::string SourceDatabase(const std::string& sourceFolder, const CategoryFiles& files) {
    std::string found = FindCategoryDatabase(sourceFolder, files.category);
    return found.empty() ? platform::JoinPath(sourceFolder, files.hashedName) : found;
}

int32_t PrepareMbdbWorkBackup(uint32_t categories, const std::string& deviceFolder,
                              const std::string* sourceFolder) {
    const std::string manifest = platform::JoinPath(deviceFolder, kManifestMbdbName);
    const std::string saved = manifest + "_bak";

    int32_t result = platform::MovePath(manifest, saved);
    if (result != 0) {
        return result;
    }
    result = StripAppDomainRecords(saved, manifest);

    for (const CategoryFiles& files : kCategories) {
        if ((categories & files.category) == 0) {
            continue;
        }
        const std::string target = platform::JoinPath(deviceFolder, files.hashedName);
        if (sourceFolder != nullptr) {
            result = platform::CopyFileReplace(SourceDatabase(*sourceFolder, files), target);
            if (result != 0) {
                return result;
            }
        }
        char digest[41] = {};
        result = Sha1FileHex(target, digest);
        if (result != 0) {
            // The manifest is patched with nothing but a whole digest.
            return result;
        }
        result = PatchManifestDigest(digest, manifest, files.manifestText);
        if (result != 0) {
            // A later category's success must not hide a database whose record was left stale.
            return result;
        }
    }
    return result;
}

// The newer layout: the manifest is an SQLite database. The original is set aside as
// "Manifest.db_bak" (as the older manifest is), a copy without the applications' rows is written
// in its place, and each chosen database's MBFile there gets the new content's size and digest. A
// database row the manifest lacks is an error: the phone would never ask for the file.
int32_t PrepareDatabaseWorkBackup(uint32_t categories, const std::string& deviceFolder,
                                  const std::string* sourceFolder, std::string* problem) {
    const std::string manifest = platform::JoinPath(deviceFolder, kManifestDbName);
    const std::string saved = manifest + "_bak";
    int32_t result = platform::MovePath(manifest, saved);
    if (result != 0) {
        Tell(problem, "the work backup's manifest cannot be set aside");
        return result;
    }
    std::string error;
    result = ManifestDb::CopyWithoutApplicationRows(saved, manifest, error);
    if (result != 0) {
        Tell(problem, "the work backup's manifest cannot be rewritten: " + error);
        return result;
    }
    ManifestDb db;
    result = db.OpenForRewrite(manifest);
    if (result == 0) {
        result = db.Begin();
    }
    if (result != 0) {
        Tell(problem, db.Error());
        return result;
    }
    for (const CategoryFiles& files : kCategories) {
        if ((categories & files.category) == 0) {
            continue;
        }
        ManifestRow row;
        bool found = false;
        result = db.Find(files.hashedName, row, found);
        if (result != 0) {
            Tell(problem, db.Error());
            return result;
        }
        if (!found || row.flags != kManifestFlagFile) {
            Tell(problem, std::string("the phone's backup has no record of its ") + files.what);
            return platform::kResultBadManifest;
        }
        const std::string target = platform::JoinPath(deviceFolder, PrefixedFileName(row.fileID));
        if (sourceFolder != nullptr) {
            const int32_t made = platform::CreateFolderWithParents(platform::ParentPath(target));
            if (made != 0 && made != platform::kErrorAlreadyExists) {
                return made;
            }
            result = platform::CopyFileReplace(SourceDatabase(*sourceFolder, files), target);
            if (result != 0) {
                return result;
            }
        }
        platform::Sha1Digest digest{};
        result = platform::Sha1OfFile(target, digest);
        if (result != 0) {
            return result;
        }
        const std::optional<uint64_t> size = platform::FileSize(target);
        std::string updated;
        if (!size ||
            !UpdateMbFileContent(
                row.file, *size,
                std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()),
                updated, error)) {
            Tell(problem, std::string("the record of the ") + files.what + " is damaged: " + error);
            return platform::kResultBadManifest;
        }
        result = db.ReplaceFile(row.fileID, updated);
        if (result != 0) {
            Tell(problem, db.Error());
            return result;
        }
    }
    result = db.Commit();
    if (result != 0) {
        Tell(problem, db.Error());
    }
    return result;
}

}  // namespace

int32_t PrepareCategoryRestore(uint32_t categories, const std::string& udid,
                               const std::string* sourceFolder, const std::string& workFolder,
                               std::string* problem) {
    const std::string deviceFolder = platform::JoinPath(workFolder, udid);
    if (DeviceFolderFormat(deviceFolder) == BackupFormat::Database) {
        return PrepareDatabaseWorkBackup(categories, deviceFolder, sourceFolder, problem);
    }
    return PrepareMbdbWorkBackup(categories, deviceFolder, sourceFolder);
}

}  // namespace tolvane
