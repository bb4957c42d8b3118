// The restore run: a backup put back on the phone, whole or only its messages and/or contacts.
//
// A whole restore asks the phone to restore the chosen backup folder itself. A restore by category
// never sends the chosen backup: it takes a fresh backup of the phone into the work backup, puts
// the chosen databases into it, and restores that.
//
// Order of a run, and why:
//   1. check the chosen backup (and, by category, decrypt and check its databases)
//        before anything reaches the phone: a backup that cannot be restored must not cost the
//        phone its backup password or a whole fresh backup;
//   2. unlock the phone's backup password when it encrypts;
//   3. whole: RequestRestore on the chosen backup;
//      by category: fresh backup into the work backup (bIsBackup 1), databases in, manifest
//        fixed, RequestRestore on the work backup (bIsBackup 0);
//   4. empty the work backup's device folder, whatever happened, and delete the plain databases
//      a decryption left.
// Every conversation releases the sync lock when it ends; RequestRestore (and the fresh backup)
// take it again first, so the phone is never restored while another program may sync it.
#include "engine/RestoreRun.h"

#include <libimobiledevice/mobilebackup2.h>

#include <cstdio>
#include <set>
#include <vector>

#include "engine/BackupEngine.h"
#include "engine/MessageLoop.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"
#include "platform/Strings.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "store/CategoryRestore.h"
#include "store/DatabaseGeneration.h"
#include "store/EncryptedBackup.h"
#include "store/Manifest.h"
#include "store/ManifestDb.h"
#include "store/Plists.h"

namespace tolvane {
namespace {

struct CategoryFiles {
    DataCategory category;
    const char* copyName;
    const char* hashedName;
};

constexpr CategoryFiles kCategoryFiles[] = {
    {Sms, kSmsCopyName, kSmsDatabaseName},
    {Contacts, kContactsCopyName, kContactsDatabaseName},
};

}  // namespace

bool RestoreFilesAllSent(const char* folder, const char* sourceIdentifier,
                         const std::vector<std::string>& sent) {
    const std::string source = sourceIdentifier;
    const std::set<std::string> names(sent.begin(), sent.end());
    const std::string device = platform::JoinPath(folder, source);
    if (DeviceFolderFormat(device) == BackupFormat::Database) {
        if (names.count(source + "/Manifest.plist") == 0 ||
            names.count(source + "/Manifest.db") == 0) {
            return false;
        }
        if (ManifestPlistSaysEncrypted(device)) {
            // Its rows cannot be read without the key; the phone had both manifests.
            return true;
        }
        ManifestDb db;
        if (db.OpenReadOnly(platform::JoinPath(device, kManifestDbName)) != 0) {
            return false;
        }
        bool all = true;
        const int32_t walked = db.Walk([&](const ManifestRow& row) {
            if (row.flags == kManifestFlagFile) {
                all = names.count(source + "/" + PrefixedFileName(row.fileID)) != 0;
            }
            return all;
        });
        return walked == 0 && all;
    }
    if (names.count(source + "/Manifest.plist") == 0 ||
        names.count(source + "/Manifest.mbdb") == 0) {
        return false;
    }
    std::string manifest;
    if (platform::ReadWholeFile(platform::JoinPath(device, "Manifest.mbdb"), manifest) != 0) {
        return false;
    }
    bool all = true;
    const int32_t walked = WalkMbdbRecords(manifest, [&](const MbdbRecordSpan& r) {
        if (all && r.IsFile()) {
            const std::string hashed = platform::HexLower(
                platform::Sha1Of(std::string(r.domain) + "-" + std::string(r.path)));
            all = names.count(source + "/" + hashed) != 0;
        }
    });
    return walked == 0 && all;
}

bool SplitItunesBackupFolder(std::string_view backupFolder, std::string& folder,
                             std::string& name) {
    while (backupFolder.size() > 1 && backupFolder.back() == '/') {
        backupFolder.remove_suffix(1);
    }
    const size_t slash = backupFolder.rfind('/');
    if (slash == std::string_view::npos || slash + 1 == backupFolder.size()) {
        return false;
    }
    folder = slash == 0 ? std::string("/") : std::string(backupFolder.substr(0, slash));
    name = std::string(backupFolder.substr(slash + 1));
    return true;
}

int32_t CheckRestoreSource(const char* folder, const char* name, platform::Failure* what) {
    using platform::Failure;
    Failure ignored = Failure::None;
    Failure& kind = what != nullptr ? *what : ignored;
    kind = Failure::None;
    if (folder == nullptr || name == nullptr || !platform::FolderExists(folder)) {
        kind = Failure::MissingFolder;
        return platform::kResultMissing;
    }
    const std::string device = platform::JoinPath(folder, name);
    if (!platform::FileExists(platform::JoinPath(device, "Info.plist")) ||
        !ReadPlistFileOwned(platform::JoinPath(device, "Manifest.plist"))) {
        kind = Failure::IncompleteBackup;
        return platform::kResultCancelled;
    }
    if (mb2_status_check_snapshot_state(name, folder) == 0) {
        std::printf("ERROR: Cannot ensure we restore from a successful backup. Aborting.\n");
        kind = Failure::UnfinishedBackup;
        return platform::kResultMissing;
    }
    return 0;
}

platform::PlistPtr BuildRestoreOptions(bool wholeRestore, const char* password) {
    platform::PlistPtr options(plist_new_dict());
    plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(wholeRestore ? 0 : 1));
    plist_dict_set_item(options.get(), "RestoreDontCopyBackup", plist_new_bool(1));
    plist_dict_set_item(options.get(), "RestorePreserveSettings", plist_new_bool(1));
    if (password != nullptr) {
        plist_dict_set_item(options.get(), "Password", plist_new_string(password));
    }
    return options;
}

int32_t ChooseCategorySource(const std::string& backupFolder, bool itunes,
                             const char* backupPassword, std::string& sourceFolder, bool& decrypted,
                             platform::Failure& what) {
    using platform::Failure;
    decrypted = false;
    what = Failure::None;
    if (!itunes) {
        std::vector<std::string> names;
        ListDeviceFolderNames(backupFolder, names);
        sourceFolder =
            names.empty() ? backupFolder : platform::JoinPath(backupFolder, names.front());
        return 0;
    }
    if (!IsEncryptedDeviceFolder(backupFolder)) {
        sourceFolder = backupFolder;
        return 0;
    }
    // Without a password the tool could only refuse it.
    if (backupPassword == nullptr || backupPassword[0] == '\0') {
        what = Failure::WrongPassword;
        return platform::kResultWrongPassword;
    }
    std::string output;
    int32_t result = DecryptBackup(backupPassword, backupFolder, output);
    if (!output.empty()) {
        // From here on the output folder may hold plain databases of this backup.
        decrypted = true;
        sourceFolder = output;
    }
    if (result != 0) {
        what = DecryptionFailure(result);
        return result;
    }
    result = ExposeDecryptedDatabases(output);
    // A tool that failed without saying so left no databases to expose.
    what = result == platform::kErrorFileNotFound ? Failure::MissingDatabase : Failure::LocalFiles;
    return result;
}

int32_t CheckCategorySource(uint32_t categories, const std::string& sourceFolder,
                            platform::Failure& what) {
    what = platform::Failure::None;
    for (const CategoryFiles& files : kCategoryFiles) {
        if ((categories & files.category) == 0) {
            continue;
        }
        // The same choice PrepareCategoryRestore makes: the copy when there is one.
        const std::string path = FindCategoryDatabase(sourceFolder, files.category);
        if (path.empty()) {
            what = platform::Failure::MissingDatabase;
            return platform::kErrorFileNotFound;
        }
        if (IsEncryptedDatabase(path)) {
            what = platform::Failure::UnusableDatabase;
            return platform::IMPORT_BAD_FILE;
        }
    }
    return 0;
}

int32_t CheckCategorySourceFitsPhone(uint32_t categories, const std::string& sourceFolder,
                                     const std::string& productVersion, std::string& refusal) {
    const int phone = IosMajorOf(productVersion);
    if (phone == 0) {
        return 0;
    }
    for (const CategoryFiles& files : kCategoryFiles) {
        if ((categories & files.category) == 0) {
            continue;
        }
        const std::string path = FindCategoryDatabase(sourceFolder, files.category);
        const int needed = path.empty() ? 0 : RequiredIosMajor(path, files.category);
        if (needed > phone) {
            refusal = NewerGenerationText(files.category, needed, productVersion, true);
            return platform::IMPORT_BAD_FILE;
        }
    }
    return 0;
}

void DiscardDecryptedDatabases(const std::string& folder) {
    for (const CategoryFiles& files : kCategoryFiles) {
        platform::DeleteFile(platform::JoinPath(folder, files.hashedName));
        platform::DeleteFile(platform::JoinPath(folder, files.copyName));
    }
}

int32_t BackupEngine::RequestRestore(const char* folder, const char* sourceIdentifier,
                                     const char* password) {
    using platform::Failure;
    run_.SetBackupPhase(false);
    Failure what = Failure::None;
    if (const int32_t checked = CheckRestoreSource(folder, sourceIdentifier, &what); checked != 0) {
        return run_.NoteFailure(checked, what);
    }
    if (session_.BackupClient() == nullptr) {
        return run_.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, Failure::DeviceService);
    }
    session_.RetakeSyncLock();

    const bool whole = (run_.Categories() & (Sms | Contacts)) == 0;
    platform::PlistPtr options = BuildRestoreOptions(whole, password);
    const mobilebackup2_error_t sent =
        mobilebackup2_send_request(session_.BackupClient(), "Restore", session_.Udid().c_str(),
                                   sourceIdentifier, options.get());
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        if (sent == MOBILEBACKUP2_E_BAD_VERSION) {
            std::printf(
                "ERROR: Could not start restore process: backup protocol version mismatch!\n");
        } else if (sent == MOBILEBACKUP2_E_REPLY_NOT_OK) {
            std::printf(
                "ERROR: Could not start restore process: device refused to start the "
                "restore process.\n");
        } else {
            std::printf("ERROR: Could not start restore process: unspecified error occured\n");
        }
        // The conversation never started: give back the lock taken for it.
        session_.ReleaseSyncLock();
        return run_.NoteFailure(sent, Failure::DeviceService);
    }
    LoopEnd end;
    const int32_t result = RunMessageLoop(folder, session_, run_, &end);
    if (result != 0 || end.outcome) {
        return result;
    }
    // A phone applies a restore and hangs up; one that hangs up before it has every file of the
    // backup has applied nothing.
    if (!RestoreFilesAllSent(folder, sourceIdentifier, end.sentFiles)) {
        std::printf("The phone ended the restore before it had the whole backup\n");
        return run_.NoteFailure(platform::kResultDeviceGone, Failure::EndedEarly);
    }
    return 0;
}

namespace {

// What a whole restore of an own backup by category is told: it holds no device folder by
// design, so "no device folder" would send the user looking for something lost. Empty for any
// other folder.
std::string CategoryBackupText(const std::string& backupFolder) {
    BackupEntry entry;
    platform::FilePtr file(
        platform::OpenRegularFileStream(platform::JoinPath(backupFolder, "fileinfo")));
    if (file == nullptr) {
        return {};
    }
    ScanFileInfo(file.get(), backupFolder, entry);
    const uint32_t kinds = static_cast<uint32_t>(entry.categories);
    if ((kinds & Full) != 0 || (kinds & (Sms | Contacts)) == 0) {
        return {};
    }
    const char* what = (kinds & (Sms | Contacts)) == (Sms | Contacts) ? "messages and contacts"
                       : (kinds & Sms) != 0                           ? "messages"
                                                                      : "contacts";
    return std::string("This backup holds only the phone's ") + what +
           ", not a whole backup: it can restore those alone, not the whole phone.";
}

}  // namespace

int32_t PlanRestore(uint32_t categories, const std::string& backupFolder, bool itunes,
                    const char* backupPassword, RestorePlan& plan) {
    using platform::Failure;
    plan = RestorePlan{};
    if ((categories & Full) != 0) {
        plan.whole = true;
        if (itunes) {
            if (!SplitItunesBackupFolder(backupFolder, plan.folder, plan.name)) {
                plan.failure = Failure::IncompleteBackup;
                return platform::kResultCancelled;
            }
        } else {
            std::vector<std::string> names;
            ListDeviceFolderNames(backupFolder, names);
            if (names.empty()) {
                plan.failure = platform::FolderExists(backupFolder) ? Failure::IncompleteBackup
                                                                    : Failure::MissingFolder;
                plan.problem = CategoryBackupText(backupFolder);
                return platform::kResultCancelled;
            }
            plan.folder = backupFolder;
            plan.name = names.front();
        }
        const int32_t checked =
            CheckRestoreSource(plan.folder.c_str(), plan.name.c_str(), &plan.failure);
        if (checked != 0) {
            return checked;
        }
        return CheckBackupManifestDb(platform::JoinPath(plan.folder, plan.name), 0, plan.problem);
    }
    if (!platform::FolderExists(backupFolder)) {
        plan.failure = Failure::MissingFolder;
        return platform::kResultMissing;
    }
    int32_t result = ChooseCategorySource(backupFolder, itunes, backupPassword, plan.source,
                                          plan.decrypted, plan.failure);
    if (result == 0 && !plan.decrypted) {
        // A device folder of the newer layout is used only when its manifest is sound and lists
        // the chosen databases.
        result = CheckBackupManifestDb(plan.source, categories, plan.problem);
    }
    return result != 0 ? result : CheckCategorySource(categories, plan.source, plan.failure);
}

int32_t BackupEngine::RunRestoreSteps(const char* backupPassword, const std::string& backupFolder,
                                      const char* devicePassword, bool itunes) {
    const uint32_t categories = run_.Categories();
    if ((categories & (Full | Sms | Contacts)) == 0) {
        return 0;  // nothing chosen: nothing to restore, and the phone is not troubled
    }
    RestorePlan plan;
    int32_t result = PlanRestore(categories, backupFolder, itunes, backupPassword, plan);
    run_.NoteFailure(result, plan.failure);
    if (result != 0 && !plan.problem.empty()) {
        run_.SetLastErrorText(plan.problem);  // said by whoever reports the run's error
    }
    if (result == 0 && plan.whole) {
        // A phone cannot take a backup of a newer generation than its own; it is told before the
        // phone is touched.
        std::string refusal;
        result = CheckBackupFitsPhone(platform::JoinPath(plan.folder, plan.name),
                                      session_.CachedProductVersion(), refusal);
        if (result != 0) {
            // Said once, by whoever reports the run's error (as for a restore by category).
            run_.SetLastErrorText(refusal);
            run_.NoteFailure(result, platform::Failure::UnusableDatabase);
        }
    }
    if (result == 0 && !plan.whole) {
        // A database of a newer phone generation cannot be read by this phone.
        std::string refusal;
        result = CheckCategorySourceFitsPhone(categories, plan.source,
                                              session_.CachedProductVersion(), refusal);
        if (result != 0) {
            run_.SetLastErrorText(refusal);
            run_.NoteFailure(result, platform::Failure::UnusableDatabase);
        }
    }
    const std::string& udid = session_.Udid();
    if (udid.empty()) {
        // No session: nothing to restore to, and no work backup to name.
        if (result == 0) {
            result =
                run_.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, platform::Failure::DeviceService);
        }
    } else {
        const std::string work = TempBackupFolder();
        work_.PointAt(platform::JoinPath(work, udid));
        if (result == 0) {
            result = RestoreToPhone(plan, work, backupPassword, devicePassword);
        }
        ClearWorkingBackup();
    }
    if (plan.decrypted) {
        DiscardDecryptedDatabases(plan.source);
        DiscardDecryptedOutput();
    }
    return result;
}

int32_t BackupEngine::RestoreToPhone(const RestorePlan& plan, const std::string& work,
                                     const char* backupPassword, const char* devicePassword) {
    if (session_.WillEncrypt()) {
        if (const int32_t unlocked = UnlockBackupPassword(devicePassword); unlocked != 0) {
            return unlocked;
        }
    }
    if (const int32_t made = platform::CreateFolderWithParents(work);
        made != 0 && made != platform::kErrorAlreadyExists) {
        std::printf("Could not create the work folder '%s': %d\n", work.c_str(), made);
    }
    if (plan.whole) {
        return RequestRestore(plan.folder.c_str(), plan.name.c_str(), backupPassword);
    }
    ClearWorkingBackup();  // nothing of an earlier work backup may mix with the fresh one
    session_.RetakeSyncLock();
    int32_t result = RequestBackup(work.c_str());
    if (result == 0) {
        std::string problem;
        result = PrepareCategoryRestore(run_.Categories(), session_.Udid(), &plan.source, work,
                                        &problem);
        if (!problem.empty()) {
            std::printf("%s\n", problem.c_str());
            run_.SetLastErrorText(problem);
        }
        if (result != platform::kResultBadManifest) {
            run_.NoteFailure(result, platform::Failure::LocalFiles);
        }
    }
    if (result == 0) {
        result = RequestRestore(work.c_str(), session_.Udid().c_str(), nullptr);
    }
    return result;
}

}  // namespace tolvane
