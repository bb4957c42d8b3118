#include "store/CategoryRestore.h"

#include "platform/Files.h"
#include "store/DataCategory.h"
#include "store/Manifest.h"

namespace tolvane {
namespace {

struct CategoryFiles {
    DataCategory category;
    const char* copyName;      // in the program's own category backups
    const char* hashedName;    // in a device folder
    const char* manifestText;  // found in the path of the database's manifest record
};

constexpr CategoryFiles kCategories[] = {
    {Sms, kSmsCopyName, kSmsDatabaseName, "sms.db"},
    {Contacts, kContactsCopyName, kContactsDatabaseName, "AddressBook.sqlitedb"},
};

}  // namespace

int32_t PrepareCategoryRestore(uint32_t categories, const std::string& udid,
                               const std::string* sourceFolder, const std::string& workFolder) {
    const std::string deviceFolder = platform::JoinPath(workFolder, udid);
    const std::string manifest = platform::JoinPath(deviceFolder, "Manifest.mbdb");
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
            std::string source = platform::JoinPath(*sourceFolder, files.copyName);
            if (!platform::FileExists(source)) {
                source = platform::JoinPath(*sourceFolder, files.hashedName);
            }
            result = platform::CopyFileReplace(source, target);
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

}  // namespace tolvane
