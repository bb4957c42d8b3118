#include "data/Import.h"

#include <libimobiledevice/mobilebackup2.h>

#include <string>

#include "data/ContactMerge.h"
#include "data/DatabaseCheck.h"
#include "data/MessageMerge.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "store/CategoryRestore.h"

namespace tolvane {
namespace {

constexpr char kManifestName[] = "Manifest.mbdb";
constexpr char kSavedManifestSuffix[] = "_bak";

const char* DatabaseNameOf(DataCategory category) {
    return category == Contacts ? kContactsDatabaseName : kSmsDatabaseName;
}

bool IsGiven(const char* path) {
    return path != nullptr && *path != '\0';
}

// Creates the work backup folder and makes its device folder for the connected phone the
// engine's working backup folder. A work backup marked ready counts only while it is the one in
// that folder: one taken of another phone (which has its own device folder), or one whose
// manifest has gone, is taken again rather than restored onto this phone.
std::string EnterWorkBackup(BackupEngine& engine) {
    const std::string work = platform::WideToAnsi(BackupEngine::TempBackupFolder());
    platform::CreateFolderWithParents(work);
    const std::string deviceFolder = platform::JoinPath(work, engine.Udid());
    if (engine.workingBackupReady &&
        (engine.workingBackupFolder != deviceFolder ||
         !platform::FileExists(platform::JoinPath(deviceFolder, kManifestName)))) {
        engine.workingBackupReady = false;
    }
    engine.workingBackupFolder = deviceFolder;
    return deviceFolder;
}

int32_t EnsureWorkBackup(BackupEngine& engine, const char* password) {
    if (!engine.workingBackupReady) {
        if (const int32_t r = PrepareImportBackup(engine, password); r != 0) {
            return r;
        }
    }
    engine.workingBackupReady = true;
    return 0;
}

// Puts the manifest that the restore preparation set aside back in place, so that the work
// backup is a whole backup again. When that cannot be done the work backup is no longer fit to be
// used again, and the next import takes a new one.
void PutManifestBack(BackupEngine& engine, const std::string& deviceFolder) {
    const std::string manifest = platform::JoinPath(deviceFolder, kManifestName);
    const std::string saved = manifest + kSavedManifestSuffix;
    if (!platform::FileExists(saved)) {
        return;
    }
    // One rename replaces the stripped manifest, so the folder is never without a manifest.
    if (platform::RenameReplace(saved, manifest) != 0) {
        engine.workingBackupReady = false;
    }
}

}  // namespace

bool IsExportPath(std::string_view path) {
    return path.find(".csv") != std::string_view::npos;
}

int32_t PrepareImportBackup(BackupEngine& engine, const char* password) {
    // Without a session there is no phone to back up, and no device folder to empty.
    if (engine.Udid().empty()) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    if (engine.WillEncrypt()) {
        if (const int32_t r = engine.UnlockBackupPassword(password); r != 0) {
            return r;
        }
    }
    engine.ClearWorkingBackup();
    const std::string work = platform::WideToAnsi(BackupEngine::TempBackupFolder());
    return engine.RequestBackup(work.c_str());
}

int32_t ImportFromExport(const char* password, BackupEngine& engine, const char* path,
                         DataCategory category) {
    const std::string deviceFolder = EnterWorkBackup(engine);
    if (const int32_t r = EnsureWorkBackup(engine, password); r != 0) {
        return r;
    }
    const std::string target = platform::JoinPath(deviceFolder, DatabaseNameOf(category));
    if (category == Contacts) {
        return MergeContacts(engine, target, path);
    }
    return MergeMessages(engine, target, path);
}

int32_t ImportFromDatabase(const char* password, BackupEngine& engine, const char* path,
                           DataCategory category) {
    const std::string deviceFolder = EnterWorkBackup(engine);
    const int32_t checked = category == Contacts ? CheckContactDatabase(engine, path)
                                                 : CheckMessageDatabase(engine, path);
    if (checked != 0) {
        return checked;
    }
    if (const int32_t r = EnsureWorkBackup(engine, password); r != 0) {
        return r;
    }
    return platform::CopyFileReplace(path,
                                     platform::JoinPath(deviceFolder, DatabaseNameOf(category)));
}

int32_t ImportData(BackupEngine& engine, const char* smsPath, const char* contactsPath,
                   const char* password, uint32_t categories) {
    engine.isBackupPhase = 0;
    engine.SetLastErrorText({});

    const uint32_t wanted = categories & (Sms | Contacts);
    // Without a category there is nothing to put into the work backup; restoring it anyway would
    // put an older state back on the phone.
    if (wanted == 0) {
        return platform::kResultMissing;
    }
    // A requested category without its file is refused before anything is done.
    if (((wanted & Sms) != 0 && !IsGiven(smsPath)) ||
        ((wanted & Contacts) != 0 && !IsGiven(contactsPath))) {
        return platform::kResultMissing;
    }
    // The manifest is prepared and the restore is run for exactly the imported databases.
    engine.categories = wanted;

    for (const DataCategory category : {Sms, Contacts}) {
        if ((wanted & category) == 0) {
            continue;
        }
        const char* path = category == Sms ? smsPath : contactsPath;
        const int32_t r = IsExportPath(path) ? ImportFromExport(password, engine, path, category)
                                             : ImportFromDatabase(password, engine, path, category);
        if (r != 0) {
            return r;
        }
    }

    const std::string work = platform::WideToAnsi(BackupEngine::TempBackupFolder());
    const std::string deviceFolder = platform::JoinPath(work, engine.Udid());
    // The digests of both databases go into the manifest, not only the imported one's. A reused
    // work backup may hold a database that an earlier import changed, while the manifest put back
    // after that import carries the digest the phone wrote; the phone refuses a restore in which
    // a file does not match its digest. A database the work backup lacks is left out.
    uint32_t digests = wanted;
    for (const DataCategory category : {Sms, Contacts}) {
        if (platform::FileExists(platform::JoinPath(deviceFolder, DatabaseNameOf(category)))) {
            digests |= category;
        }
    }
    int32_t result = PrepareCategoryRestore(digests, engine.Udid(), nullptr, work);
    if (result == 0) {
        result = engine.RequestRestore(work.c_str(), engine.Udid().c_str(), nullptr);
    }
    PutManifestBack(engine, deviceFolder);
    return result;
}

}  // namespace tolvane
