#include "store/BackupFormat.h"

#include <plist/plist.h>

#include "platform/Files.h"
#include "platform/Results.h"
#include "store/DatabaseGeneration.h"
#include "store/ManifestDb.h"
#include "store/Plists.h"

namespace tolvane {

const char* BackupFormatName(BackupFormat format) {
    switch (format) {
        case BackupFormat::Mbdb:
            return kManifestMbdbName;
        case BackupFormat::Database:
            return kManifestDbName;
        case BackupFormat::Unknown:
            break;
    }
    return "?";
}

BackupFormat DeviceFolderFormat(const std::string& deviceFolder) {
    if (platform::FileExists(platform::JoinPath(deviceFolder, kManifestDbName))) {
        return BackupFormat::Database;
    }
    if (platform::FileExists(platform::JoinPath(deviceFolder, kManifestMbdbName))) {
        return BackupFormat::Mbdb;
    }
    return BackupFormat::Unknown;
}

BackupFormat PhoneBackupFormat(const std::string& productVersion) {
    const int major = IosMajorOf(productVersion);
    if (major == 0) {
        return BackupFormat::Unknown;
    }
    return major >= 10 ? BackupFormat::Database : BackupFormat::Mbdb;
}

const char* CategoryDatabaseName(DataCategory category) {
    switch (category) {
        case Sms:
            return kSmsDatabaseName;
        case Contacts:
            return kContactsDatabaseName;
        default:
            return nullptr;
    }
}

std::string DeviceFolderDatabasePath(const std::string& deviceFolder, BackupFormat format,
                                     DataCategory category) {
    const char* name = CategoryDatabaseName(category);
    if (name == nullptr) {
        return {};
    }
    return platform::JoinPath(deviceFolder,
                              format == BackupFormat::Database ? PrefixedFileName(name) : name);
}

std::string DeviceFolderDatabasePath(const std::string& deviceFolder, DataCategory category) {
    return DeviceFolderDatabasePath(deviceFolder, DeviceFolderFormat(deviceFolder), category);
}

std::string FindCategoryDatabase(const std::string& folder, DataCategory category) {
    const char* name = CategoryDatabaseName(category);
    if (name == nullptr) {
        return {};
    }
    const char* copy = category == Sms ? kSmsCopyName : kContactsCopyName;
    for (const std::string& candidate :
         {platform::JoinPath(folder, copy), platform::JoinPath(folder, name),
          platform::JoinPath(folder, PrefixedFileName(name))}) {
        if (platform::FileExists(candidate)) {
            return candidate;
        }
    }
    return {};
}

bool ManifestPlistSaysEncrypted(const std::string& deviceFolder) {
    platform::PlistPtr manifest =
        ReadPlistFileOwned(platform::JoinPath(deviceFolder, "Manifest.plist"));
    if (!manifest || plist_get_node_type(manifest.get()) != PLIST_DICT) {
        return false;
    }
    plist_t flag = plist_dict_get_item(manifest.get(), "IsEncrypted");
    if (flag == nullptr || plist_get_node_type(flag) != PLIST_BOOLEAN) {
        return false;
    }
    uint8_t value = 0;
    plist_get_bool_val(flag, &value);
    return value != 0;
}

int32_t CheckBackupManifestDb(const std::string& deviceFolder, uint32_t categories,
                              std::string& problem) {
    if (DeviceFolderFormat(deviceFolder) != BackupFormat::Database) {
        return platform::kResultOk;
    }
    if (ManifestPlistSaysEncrypted(deviceFolder)) {
        return platform::kResultOk;  // its Manifest.db is there: DeviceFolderFormat saw it
    }
    ManifestDb db;
    if (db.OpenReadOnly(platform::JoinPath(deviceFolder, kManifestDbName)) != 0) {
        problem = "The backup's Manifest.db is damaged: " + db.Error();
        return platform::kResultBadManifest;
    }
    bool sms = false;
    bool contacts = false;
    const int32_t walked = db.Walk(
        [&](const ManifestRow& row) {
            if (row.flags == kManifestFlagFile) {
                sms = sms || row.fileID == kSmsDatabaseName;
                contacts = contacts || row.fileID == kContactsDatabaseName;
            }
            return true;
        },
        false);
    if (walked != 0) {
        problem = "The backup's Manifest.db cannot be used: " + db.Error();
        return platform::kResultBadManifest;
    }
    if ((categories & Sms) != 0 && !sms) {
        problem = "The backup's Manifest.db has no record of the message database";
        return platform::kResultBadManifest;
    }
    if ((categories & Contacts) != 0 && !contacts) {
        problem = "The backup's Manifest.db has no record of the contacts database";
        return platform::kResultBadManifest;
    }
    return platform::kResultOk;
}

int32_t CheckBackupFitsPhone(const std::string& deviceFolder, const std::string& productVersion,
                             std::string& problem) {
    const int phone = IosMajorOf(productVersion);
    if (phone == 0) {
        return platform::kResultOk;
    }
    if (DeviceFolderFormat(deviceFolder) == BackupFormat::Database && phone < 10) {
        problem =
            "This backup has the layout of iOS 10 and later (Manifest.db); the phone runs iOS " +
            productVersion + " and cannot restore it.";
        return platform::IMPORT_BAD_FILE;
    }
    platform::PlistPtr info = ReadPlistFileOwned(platform::JoinPath(deviceFolder, "Info.plist"));
    if (info && plist_get_node_type(info.get()) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(info.get(), "Product Version");
        if (node != nullptr && plist_get_node_type(node) == PLIST_STRING) {
            const std::string version = plist_get_string_ptr(node, nullptr);
            const int backup = IosMajorOf(version);
            if (backup > phone) {
                problem = "This backup was made on iOS " + version + "; the phone runs iOS " +
                          productVersion + " and cannot restore a backup of a newer iOS.";
                return platform::IMPORT_BAD_FILE;
            }
        }
    }
    return platform::kResultOk;
}

}  // namespace tolvane
