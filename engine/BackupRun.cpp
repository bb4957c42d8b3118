// The backup run: a new timestamped folder with the phone's whole backup, or with copies of its
// message and/or contacts databases taken from a work backup.
//
// Folders during a run:
//   full      base/<timestamp>/<udid>  is the working backup folder while the phone writes into
//             it; on failure its files are deleted, on success fileinfo is written beside it.
//   category  TempBackupFolder()/<udid> is the working backup folder; it is emptied before and
//             after the phone's backup, whatever the result.
// Invariant: when a run returns, the working backup folder is the work backup's device folder,
// so a later ClearWorkingBackup never touches a finished backup.
#include "engine/BackupRun.h"

#include <libimobiledevice/mobilebackup2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/BackupEngine.h"
#include "engine/DeviceLink.h"
#include "engine/MessageLoop.h"
#include "engine/SeedBackup.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/Time.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "store/Plists.h"

namespace tolvane {
namespace {

constexpr int64_t kPlistEpochOffset = 978307200;  // 2001-01-01 in seconds since 1970
constexpr uint64_t kMaxDeviceFile = 16u << 20;
constexpr uint32_t kAfcReadPiece = 65536;
constexpr int kTimestampAttempts = 120;

const char* const kItunesFileNames[] = {
    "ApertureAlbumPrefs", "IC-Info.sidb",      "IC-Info.sidv",     "PhotosFolderAlbums",
    "PhotosFolderName",   "PhotosFolderPrefs", "iPhotoAlbumPrefs", "iTunesApplicationIDs",
    "iTunesPrefs",        "iTunesPrefs.plist",
};

void CopyValue(plist_t info, const char* key, plist_t values, const char* from,
               bool onlyString = false) {
    plist_t node = plist_dict_get_item(values, from);
    if (node == nullptr || (onlyString && plist_get_node_type(node) != PLIST_STRING)) {
        return;
    }
    plist_dict_set_item(info, key, plist_copy(node));
}

void SleepUntilNextSecond() {
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    const auto next = duration_cast<seconds>(now) + seconds(1);
    std::this_thread::sleep_for(next - now + milliseconds(5));
}

}  // namespace

bool AsksPasscodeForBackup(const std::string& productVersion) {
    int major = 0;
    int minor = 0;
    if (std::sscanf(productVersion.c_str(), "%d.%d", &major, &minor) < 1) {
        return false;
    }
    return major > 16 || (major == 16 && minor >= 1);
}

platform::PlistPtr BuildInfoPlistFrom(const std::string& udid, plist_t allValues,
                                      plist_t itunesSettings, const DeviceFileReader& readFile,
                                      int64_t nowUnix) {
    if (allValues == nullptr || plist_get_node_type(allValues) != PLIST_DICT) {
        return nullptr;
    }
    platform::PlistPtr info(plist_new_dict());
    plist_t d = info.get();
    CopyValue(d, "Build Version", allValues, "BuildVersion");
    CopyValue(d, "Device Name", allValues, "DeviceName");
    CopyValue(d, "Display Name", allValues, "DeviceName");
    plist_dict_set_item(d, "GUID", plist_new_string("---"));
    CopyValue(d, "ICCID", allValues, "IntegratedCircuitCardIdentity");
    CopyValue(d, "IMEI", allValues, "InternationalMobileEquipmentIdentity");
    plist_dict_set_item(d, "Last Backup Date",
                        plist_new_date(static_cast<int32_t>(nowUnix - kPlistEpochOffset), 0));
    CopyValue(d, "Phone Number", allValues, "PhoneNumber", true);
    CopyValue(d, "Product Type", allValues, "ProductType");
    CopyValue(d, "Product Version", allValues, "ProductVersion");
    CopyValue(d, "Serial Number", allValues, "SerialNumber");
    plist_dict_set_item(d, "Target Identifier", plist_new_string(udid.c_str()));
    plist_dict_set_item(d, "Target Type", plist_new_string("Device"));
    plist_dict_set_item(d, "Unique Identifier",
                        plist_new_string(platform::AsciiUpper(udid).c_str()));
    if (std::optional<std::string> books = readFile("/Books/iBooksData2.plist")) {
        plist_dict_set_item(d, "iBooks Data 2", plist_new_data(books->data(), books->size()));
    }
    plist_t files = plist_new_dict();
    for (const char* name : kItunesFileNames) {
        if (std::optional<std::string> bytes =
                readFile(std::string("/iTunes_Control/iTunes/") + name)) {
            plist_dict_set_item(files, name, plist_new_data(bytes->data(), bytes->size()));
        }
    }
    plist_dict_set_item(d, "iTunes Files", files);
    plist_dict_set_item(d, "iTunes Settings",
                        itunesSettings != nullptr ? plist_copy(itunesSettings) : plist_new_dict());
    plist_dict_set_item(d, "iTunes Version", plist_new_string("10.0.1"));
    return info;
}

platform::PlistPtr BuildInfoPlist(const std::string& udid, lockdownd_client_t lockdown,
                                  afc_client_t afc) {
    if (lockdown == nullptr) {
        return nullptr;
    }
    plist_t raw = nullptr;
    lockdownd_get_value(lockdown, nullptr, nullptr, &raw);
    platform::PlistPtr all(raw);
    if (all == nullptr) {
        return nullptr;
    }
    raw = nullptr;
    lockdownd_get_value(lockdown, "com.apple.iTunes", nullptr, &raw);
    platform::PlistPtr settings(raw);
    const DeviceFileReader reader = [afc](const std::string& path) {
        return ReadDeviceFile(afc, path);
    };
    return BuildInfoPlistFrom(udid, all.get(), settings.get(), reader, platform::UnixNow());
}

std::optional<std::string> ReadDeviceFile(afc_client_t afc, const std::string& path) {
    if (afc == nullptr) {
        return std::nullopt;
    }
    char** info = nullptr;
    if (afc_get_file_info(afc, path.c_str(), &info) != AFC_E_SUCCESS || info == nullptr) {
        return std::nullopt;
    }
    uint64_t size = 0;
    for (char** p = info; p[0] != nullptr && p[1] != nullptr; p += 2) {
        if (std::string_view(p[0]) == "st_size") {
            size = std::strtoull(p[1], nullptr, 10);
        }
    }
    afc_dictionary_free(info);
    // A phone that names a huge size gets nothing rather than a huge allocation.
    if (size == 0 || size > kMaxDeviceFile) {
        return std::nullopt;
    }
    uint64_t handle = 0;
    if (afc_file_open(afc, path.c_str(), AFC_FOPEN_RDONLY, &handle) != AFC_E_SUCCESS) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    uint64_t total = 0;
    while (total < size) {
        uint32_t got = 0;
        const uint32_t want =
            static_cast<uint32_t>(std::min<uint64_t>(size - total, kAfcReadPiece));
        if (afc_file_read(afc, handle, bytes.data() + total, want, &got) != AFC_E_SUCCESS ||
            got == 0) {
            break;
        }
        total += got;
    }
    afc_file_close(afc, handle);
    if (total != size) {
        return std::nullopt;
    }
    return bytes;
}

int32_t CopySelectedDatabases(uint32_t categories, const std::string& workFolder,
                              const std::string& udid, const std::string& targetFolder) {
    const std::string deviceFolder = platform::JoinPath(workFolder, udid);
    // Flat in the older layout, in its prefix folder in the newer one.
    const BackupFormat format = DeviceFolderFormat(deviceFolder);
    if ((categories & Sms) != 0) {
        const int32_t r =
            platform::CopyFileReplace(DeviceFolderDatabasePath(deviceFolder, format, Sms),
                                      platform::JoinPath(targetFolder, kSmsCopyName));
        if (r != 0) {
            return r;
        }
    }
    if ((categories & Contacts) != 0) {
        const int32_t r =
            platform::CopyFileReplace(DeviceFolderDatabasePath(deviceFolder, format, Contacts),
                                      platform::JoinPath(targetFolder, kContactsCopyName));
        if (r != 0) {
            return r;
        }
    }
    return 0;
}

int32_t CreateTimestampedFolder(const std::string& base, std::string& timestamp,
                                std::string& folder) {
    int32_t r = platform::kErrorAlreadyExists;
    for (int attempt = 0; attempt < kTimestampAttempts; ++attempt) {
        timestamp = platform::FormatTimestamp(platform::LocalNow());
        folder = platform::JoinPath(base, timestamp);
        r = platform::CreateFolder(folder);
        if (r != platform::kErrorAlreadyExists) {
            return r;
        }
        SleepUntilNextSecond();
    }
    return r;
}

int32_t BackupEngine::RequestBackup(const char* folder) {
    using platform::Failure;
    run_.SetBackupPhase(true);
    if (folder == nullptr || !platform::FolderExists(folder)) {
        return run_.NoteFailure(platform::kResultMissing, Failure::MissingFolder);
    }
    const std::string& udid = session_.Udid();
    const std::string deviceFolder = platform::JoinPath(folder, udid);
    if (const int32_t made = platform::CreateFolder(deviceFolder);
        made != 0 && made != platform::kErrorAlreadyExists) {
        return run_.NoteFailure(made, Failure::LocalFiles);
    }

    // Info.plist is in place before the request goes out, also when lockdown gave no values
    // (then empty).
    const std::string infoPath = platform::JoinPath(deviceFolder, "Info.plist");
    platform::PlistPtr info = BuildInfoPlist(udid, session_.Lockdown(), session_.Afc());
    std::string xml;
    if (info != nullptr) {
        char* raw = nullptr;
        uint32_t length = 0;
        plist_to_xml(info.get(), &raw, &length);
        if (raw != nullptr) {
            xml.assign(raw, length);
            plist_to_xml_free(raw);
        }
    }
    // The file is replaced in one rename, so no older Info.plist survives a failed write.
    if (const int32_t written = platform::WriteWholeFileAtomic(infoPath, xml); written != 0) {
        std::printf("Could not write '%s': %d\n", infoPath.c_str(), written);
        return run_.NoteFailure(written, Failure::LocalFiles);
    }

    if (session_.BackupClient() == nullptr) {
        return run_.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, Failure::DeviceService);
    }
    const mobilebackup2_error_t sent = mobilebackup2_send_request(
        session_.BackupClient(), "Backup", udid.c_str(), udid.c_str(), nullptr);
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        return run_.NoteFailure(sent, Failure::DeviceService);
    }
    LoopEnd end;
    LoopTiming timing;
    timing.patientForFirstMessage = AsksPasscodeForBackup(session_.CachedProductVersion());
    if (timing.patientForFirstMessage) {
        // Such a phone shows its passcode prompt now and says nothing until it is answered; the
        // library's receive waits 30 s before the loop even sees the silence, so the user is told
        // at once.
        std::printf("The phone may ask for its passcode: unlock it and type its passcode\n");
        std::fflush(stdout);
        run_.SetLastErrorText("Unlock the phone and type its passcode to let the backup begin.");
    }
    BackupServiceLink link(session_);
    const int32_t result = RunMessageLoop(folder, session_, run_, link, timing, &end);
    if (result != 0) {
        return result;
    }
    // A backup is complete only when the phone ended it with its success and its Status.plist
    // says the snapshot finished: a phone that hangs up half-way leaves a folder that only looks
    // like a backup.
    if (!end.outcome) {
        std::printf("The phone ended the backup without its outcome\n");
        return run_.NoteFailure(platform::kResultDeviceGone, Failure::EndedEarly);
    }
    if (mb2_status_check_snapshot_state(udid.c_str(), folder) != 1) {
        std::printf("The backup's snapshot did not finish\n");
        return run_.NoteFailure(platform::kResultDeviceGone, Failure::EndedEarly);
    }
    return 0;
}

int32_t BackupEngine::RunBackupSteps(const std::string& folder, const char* password) {
    lastSeed_ = SeedOutcome{};
    const int32_t made = platform::CreateFolderWithParents(folder);
    if (made != 0 && made != platform::kErrorAlreadyExists) {
        // The timestamped folder cannot be made in it either; that step reports it.
        std::printf("Could not create '%s': %d\n", folder.c_str(), made);
    }
    const uint32_t categories = run_.Categories();
    if ((categories & Full) == 0 && (categories & (Sms | Contacts)) == 0) {
        return 0;
    }
    if (session_.WillEncrypt()) {
        if (const int32_t r = UnlockBackupPassword(password); r != 0) {
            return r;
        }
    }
    return (categories & Full) != 0 ? RunFullBackup(folder) : RunCategoryBackup(folder);
}

// A whole backup straight into base/<timestamp>/<udid>; on failure the files the phone wrote
// there are deleted, on success fileinfo is written beside the device folder.
int32_t BackupEngine::RunFullBackup(const std::string& base) {
    using platform::Failure;
    std::string timestamp;
    std::string folder;
    if (const int32_t made = CreateTimestampedFolder(base, timestamp, folder); made != 0) {
        std::printf("Could not create '%s': %d\n", folder.c_str(), made);
        // The number callers know for a backup folder that is not there.
        return run_.NoteFailure(platform::kResultMissing, Failure::LocalFiles);
    }
    const std::string udid = session_.Udid();
    const std::string deviceFolder = platform::JoinPath(folder, udid);
    work_.PointAt(deviceFolder);
    // The phone's newest earlier backup gives the new folder its files, so that the phone sends
    // only what changed since.
    lastSeed_ = SeedOutcome{};
    if (const std::optional<std::string> earlier =
            FindEarlierBackup(base, udid, session_.WillEncrypt() != 0, folder)) {
        if (platform::CreateFolder(deviceFolder) == 0) {
            lastSeed_ = SeedDeviceFolder(platform::JoinPath(*earlier, udid), deviceFolder);
        }
    }
    int32_t result = RequestBackup(folder.c_str());
    if (result != 0) {
        ClearWorkingBackup();
        // The folder is this run's own (a timestamped name is never reused): nothing of a backup
        // that did not finish stays behind, not even its empty folders.
        platform::RemoveFolderTree(folder);
    } else {
        // A backup the catalogue cannot list is not reported as done.
        result = WriteFileInfo(run_.Categories(), timestamp, session_.CachedDeviceName(),
                               session_.CachedDeviceClass(), session_.CachedProductVersion(),
                               platform::JoinPath(folder, "fileinfo"));
        if (result == 0) {
            lastBackupFolder_ = folder;
        } else {
            run_.NoteFailure(result, Failure::LocalFiles);
        }
    }
    // A later ClearWorkingBackup must never touch the finished backup.
    work_.PointAt(platform::JoinPath(TempBackupFolder(), udid));
    return result;
}

// A whole backup into the work backup, then copies of the chosen databases in a new timestamped
// folder; the work backup's device folder is emptied before and after, whatever the result.
int32_t BackupEngine::RunCategoryBackup(const std::string& base) {
    using platform::Failure;
    const std::string work = TempBackupFolder();
    platform::CreateFolderWithParents(work);  // a folder that cannot be made fails the request
    const std::string udid = session_.Udid();
    work_.PointAt(platform::JoinPath(work, udid));
    ClearWorkingBackup();
    int32_t result = RequestBackup(work.c_str());
    if (result == 0) {
        std::string timestamp;
        std::string folder;
        result = CreateTimestampedFolder(base, timestamp, folder);
        const bool made = result == 0;
        if (result != 0) {
            // The system's code, as the copy into the missing folder would have given.
            std::printf("Could not create '%s': %d\n", folder.c_str(), result);
            run_.NoteFailure(result, Failure::LocalFiles);
        }
        if (result == 0) {
            result = CopySelectedDatabases(run_.Categories(), work, udid, folder);
            // The phone's backup without the database is the likely reason for a missing source.
            run_.NoteFailure(result, result == platform::kErrorFileNotFound
                                         ? Failure::MissingDatabase
                                         : Failure::LocalFiles);
        }
        if (result == 0) {
            result = WriteFileInfo(run_.Categories(), timestamp, session_.CachedDeviceName(),
                                   session_.CachedDeviceClass(), session_.CachedProductVersion(),
                                   platform::JoinPath(folder, "fileinfo"));
            run_.NoteFailure(result, Failure::LocalFiles);
        }
        if (result == 0) {
            lastBackupFolder_ = folder;
        } else if (made) {
            platform::RemoveFolderTree(
                folder);  // this run's copies of a backup that did not finish
        }
    }
    ClearWorkingBackup();
    return result;
}

}  // namespace tolvane
