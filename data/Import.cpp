#include "data/Import.h"

#include <libimobiledevice/mobilebackup2.h>

#include <cstdio>
#include <optional>
#include <string>

#include "data/ContactMerge.h"
#include "data/DataTexts.h"
#include "data/DatabaseCheck.h"
#include "data/DatabaseFiles.h"
#include "data/DatabaseGeneration.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "data/MessageMerge.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/OperationLock.h"
#include "platform/Results.h"
#include "store/BackupFormat.h"
#include "store/CategoryRestore.h"

namespace tolvane {
namespace {

bool IsGiven(const char* path) {
    return path != nullptr && *path != '\0';
}

// Takes the work backup unless this operation has taken it already (`backedUp`), and marks it
// ready for the change that follows.
int32_t EnsureWorkBackup(BackupEngine& engine, const char* password, bool& backedUp) {
    if (!backedUp) {
        if (const int32_t r = PrepareImportBackup(engine, password); r != 0) {
            return r;
        }
        backedUp = true;
    }
    engine.MarkWorkingBackupReady();
    return 0;
}

// The file a replacement database is taken from. A database in use by another program (a "-wal"
// file with content beside it) is taken as a consistent private copy: the file alone may lack
// committed changes or be half-way through a checkpoint. Any other file is used as it is, so it
// reaches the phone byte for byte.
class ReplacementCopy {
  public:
    explicit ReplacementCopy(const char* path) : path_(path) {
        if (HasLiveWriteAheadLog(path_)) {
            path_ = MergeTemporaryPath("replacementsqlite.tmp");
            made_ = true;
            Delete();
            failed_ = SnapshotDatabase(path, path_);
        }
    }
    ~ReplacementCopy() {
        if (made_) {
            Delete();
        }
    }
    ReplacementCopy(const ReplacementCopy&) = delete;
    ReplacementCopy& operator=(const ReplacementCopy&) = delete;

    const std::string& Path() const { return path_; }
    int32_t Failed() const { return failed_; }

  private:
    void Delete() const {
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            if (platform::PathExists(path_ + suffix)) {
                platform::DeleteFile(path_ + suffix);
            }
        }
    }

    std::string path_;
    bool made_ = false;
    int32_t failed_ = 0;
};

// Checks the file a replacement is taken from; nothing is touched when it fails.
int32_t CheckReplacement(BackupEngine& engine, const ReplacementCopy& copy, DataCategory category) {
    if (copy.Failed() != 0) {
        return copy.Failed();
    }
    const int32_t checked = category == Contacts ? CheckContactDatabase(engine, copy.Path())
                                                 : CheckMessageDatabase(engine, copy.Path());
    if (checked != 0) {
        return checked;
    }
    // A database of a newer phone generation cannot be read by an older phone.
    return CheckDatabaseFitsPhone(engine, copy.Path(), category, engine.CachedProductVersion());
}

int32_t MergeIntoWorkBackup(const char* password, BackupEngine& engine, const char* path,
                            DataCategory category, MergeTally* tally, bool& backedUp) {
    const std::string deviceFolder = engine.EnterWorkBackup();
    if (const int32_t r = EnsureWorkBackup(engine, password, backedUp); r != 0) {
        return r;
    }
    const std::string target = DeviceFolderDatabasePath(deviceFolder, category);
    if (category == Contacts) {
        return MergeContacts(engine, target, path, tally);
    }
    return MergeMessages(engine, target, path, tally);
}

// Copies a checked replacement over the work backup's database of its category.
int32_t ReplaceInWorkBackup(const char* password, BackupEngine& engine, const ReplacementCopy& copy,
                            DataCategory category, bool& backedUp) {
    const std::string deviceFolder = engine.EnterWorkBackup();
    if (const int32_t r = EnsureWorkBackup(engine, password, backedUp); r != 0) {
        return r;
    }
    const int32_t copied =
        platform::CopyFileReplace(copy.Path(), DeviceFolderDatabasePath(deviceFolder, category));
    return engine.NoteFailure(copied, platform::Failure::LocalFiles);
}

}  // namespace

bool IsExportPath(std::string_view path) {
    return path.find(".csv") != std::string_view::npos;
}

int32_t PrepareImportBackup(BackupEngine& engine, const char* password) {
    // Without a session there is no phone to back up, and no device folder to empty.
    if (engine.Udid().empty()) {
        return engine.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, platform::Failure::DeviceService);
    }
    if (engine.WillEncrypt()) {
        if (const int32_t r = engine.UnlockBackupPassword(password); r != 0) {
            return r;
        }
    }
    engine.ClearWorkingBackup();
    return engine.RequestBackup(BackupEngine::TempBackupFolder().c_str());
}

int32_t CheckExportHasRecords(BackupEngine& engine, const char* path, DataCategory category) {
    std::string bytes;
    if (const int32_t r = ReadExportFile(engine, path, bytes); r != 0) {
        return r;
    }
    bool any = false;
    if (category == Contacts) {
        ScanContactExport(bytes, [&any](const ContactRecord&) { return !(any = true); });
    } else {
        ScanMessageExport(bytes, [&any](const MessageRecord&) { return !(any = true); });
    }
    if (any) {
        return 0;
    }
    engine.SetLastErrorText(category == Contacts ? kInvalidContactsFileText : kInvalidSmsFileText);
    return engine.NoteFailure(platform::IMPORT_BAD_FILE, platform::Failure::UnusableDatabase);
}

std::string DescribeImport(const ImportReport& report) {
    std::string out;
    auto describe = [&out](const char* what, const MergeTally& t) {
        if (!out.empty()) {
            out += "; ";
        }
        out += std::string(what) + ": " + std::to_string(t.added) + " added";
        if (t.LeftOut() == 0) {
            return;
        }
        out += ", " + std::to_string(t.LeftOut()) + " left out (";
        std::string reasons;
        auto reason = [&reasons](int32_t n, const char* why) {
            if (n > 0) {
                reasons += (reasons.empty() ? "" : ", ") + std::to_string(n) + " " + why;
            }
        };
        reason(t.alreadyPresent, "already present");
        reason(t.unknownCorrespondent, "with an unknown correspondent");
        reason(t.unreadable, "unreadable");
        out += reasons + ")";
    };
    if (report.smsMerged) {
        describe("messages", report.sms);
    }
    if (report.contactsMerged) {
        describe("contacts", report.contacts);
    }
    return out;
}

int32_t ImportFromExport(const char* password, BackupEngine& engine, const char* path,
                         DataCategory category, MergeTally* tally) {
    bool backedUp = engine.WorkingBackupReady();
    return MergeIntoWorkBackup(password, engine, path, category, tally, backedUp);
}

int32_t ImportFromDatabase(const char* password, BackupEngine& engine, const char* path,
                           DataCategory category) {
    const ReplacementCopy copy(path);
    if (const int32_t r = CheckReplacement(engine, copy, category); r != 0) {
        return r;
    }
    bool backedUp = engine.WorkingBackupReady();
    return ReplaceInWorkBackup(password, engine, copy, category, backedUp);
}

namespace {

int32_t ImportSteps(BackupEngine& engine, const char* smsPath, const char* contactsPath,
                    const char* password, uint32_t categories, ImportReport* report) {
    ImportReport merged;

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
    engine.SetCategories(wanted);

    // Every given file is checked before anything touches the phone: a contacts file that fails
    // its check must not cost a whole backup of the phone taken for the messages. An export of
    // which not one record can be read would be imported as nothing after a whole backup and
    // restore; a database file must pass the database check.
    std::optional<ReplacementCopy> replacements[2];
    for (const DataCategory category : {Sms, Contacts}) {
        if ((wanted & category) == 0) {
            continue;
        }
        const char* path = category == Sms ? smsPath : contactsPath;
        int32_t r = 0;
        if (IsExportPath(path)) {
            r = CheckExportHasRecords(engine, path, category);
        } else {
            std::optional<ReplacementCopy>& copy = replacements[category == Sms ? 0 : 1];
            copy.emplace(path);
            r = CheckReplacement(engine, *copy, category);
        }
        if (r != 0) {
            return r;
        }
    }

    // The work backup is taken afresh for each import and shared only by its two categories:
    // one kept from an earlier import lacks what reached the phone since, which its restore
    // would take away again.
    bool backedUp = false;
    for (const DataCategory category : {Sms, Contacts}) {
        if ((wanted & category) == 0) {
            continue;
        }
        const char* path = category == Sms ? smsPath : contactsPath;
        const bool isExport = IsExportPath(path);
        MergeTally* tally = category == Sms ? &merged.sms : &merged.contacts;
        const int32_t r =
            isExport ? MergeIntoWorkBackup(password, engine, path, category, tally, backedUp)
                     : ReplaceInWorkBackup(password, engine, *replacements[category == Sms ? 0 : 1],
                                           category, backedUp);
        if (r != 0) {
            return r;
        }
        (category == Sms ? merged.smsMerged : merged.contactsMerged) = isExport;
    }

    const std::string work = BackupEngine::TempBackupFolder();
    const std::string deviceFolder = platform::JoinPath(work, engine.Udid());
    // The digests of both databases go into the manifest, not only the imported one's. A reused
    // work backup may hold a database that an earlier import changed, while the manifest put back
    // after that import carries the digest the phone wrote; the phone refuses a restore in which
    // a file does not match its digest. A database the work backup lacks is left out.
    uint32_t digests = wanted;
    for (const DataCategory category : {Sms, Contacts}) {
        if (platform::FileExists(DeviceFolderDatabasePath(deviceFolder, category))) {
            digests |= category;
        }
    }
    int32_t result = PrepareCategoryRestore(digests, engine.Udid(), nullptr, work);
    if (result == 0) {
        result = engine.RequestRestore(work.c_str(), engine.Udid().c_str(), nullptr);
    } else if (result != platform::kResultBadManifest) {
        engine.NoteFailure(result, platform::Failure::LocalFiles);
    }
    // Whatever the restore gave, the work backup is a whole backup again; when the manifest
    // cannot be put back the work backup is no longer ready and the next import takes a new one.
    if (const int32_t putBack = engine.PutWorkBackupManifestBack(); putBack != 0) {
        std::printf("Could not put the work backup's manifest back: %d\n", putBack);
    }
    if (result == 0 && report != nullptr) {
        *report = merged;
    }
    return result;
}

}  // namespace

int32_t ImportData(BackupEngine& engine, const char* smsPath, const char* contactsPath,
                   const char* password, uint32_t categories, ImportReport* report) {
    engine.BeginRun();
    // The work backup and the phone's sync lock are shared by every operation of every process.
    const RunLock lock(engine);
    if (lock.GaveUp()) {
        return OperationLockGivenUp(engine);
    }
    const int32_t result = ImportSteps(engine, smsPath, contactsPath, password, categories, report);
    // Whatever happened, the phone gets back the backup password the import removed.
    const std::string text = engine.GetLastErrorText();
    const platform::Failure what = engine.FailureOf(result);
    engine.GiveBackupPasswordBack();
    engine.SetLastErrorText(text);
    engine.NoteFailure(result, what);
    return result;
}

}  // namespace tolvane
