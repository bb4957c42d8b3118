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
#include <cstdlib>
#include <thread>

#include "engine/BackupEngine.h"
#include "engine/MessageLoop.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/Time.h"

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
    if ((categories & Sms) != 0) {
        const int32_t r =
            platform::CopyFileReplace(platform::JoinPath(deviceFolder, kSmsDatabaseName),
                                      platform::JoinPath(targetFolder, kSmsCopyName));
        if (r != 0) {
            return r;
        }
    }
    if ((categories & Contacts) != 0) {
        const int32_t r =
            platform::CopyFileReplace(platform::JoinPath(deviceFolder, kContactsDatabaseName),
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
    isBackupPhase = 1;
    if (folder == nullptr || !platform::FolderExists(folder)) {
        return platform::kResultMissing;
    }
    const std::string deviceFolder = platform::JoinPath(folder, udid_);
    platform::CreateFolder(deviceFolder);

    const std::string infoPath = platform::JoinPath(deviceFolder, "Info.plist");
    platform::DeleteFile(infoPath);
    platform::PlistPtr info = BuildInfoPlist(udid_, lockdown_.get(), afc_.get());
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
    platform::WriteWholeFileAtomic(infoPath, xml);

    if (backup_ == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    const mobilebackup2_error_t sent =
        mobilebackup2_send_request(backup_.get(), "Backup", udid_.c_str(), udid_.c_str(), nullptr);
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        return sent;
    }
    return RunMessageLoop(folder, *this);
}

int32_t BackupEngine::RunBackup(const std::wstring& baseFolder, const char* password) {
    SetLastErrorText({});
    const std::string base = platform::WideToAnsi(baseFolder);
    platform::CreateFolderWithParents(base);

    if ((categories & Full) != 0) {
        if (willEncrypt_) {
            if (const int32_t r = UnlockBackupPassword(password); r != 0) {
                return r;
            }
        }
        std::string timestamp;
        std::string folder;
        CreateTimestampedFolder(base, timestamp, folder);  // a failure shows in RequestBackup
        workingBackupFolder = platform::JoinPath(folder, udid_);
        int32_t result = RequestBackup(folder.c_str());
        if (result != 0) {
            ClearWorkingBackup();
        } else {
            // A backup the catalogue cannot list is not reported as done.
            result = WriteFileInfo(timestamp, platform::JoinPath(folder, "fileinfo"));
            if (result == 0) {
                lastBackupFolder_ = folder;
            }
        }
        workingBackupFolder = platform::JoinPath(platform::WideToAnsi(TempBackupFolder()), udid_);
        return result;
    }

    if ((categories & (Sms | Contacts)) != 0) {
        if (willEncrypt_) {
            if (const int32_t r = UnlockBackupPassword(password); r != 0) {
                return r;
            }
        }
        const std::string workFolder = platform::WideToAnsi(TempBackupFolder());
        platform::CreateFolderWithParents(workFolder);
        workingBackupFolder = platform::JoinPath(workFolder, udid_);
        ClearWorkingBackup();
        int32_t result = RequestBackup(workFolder.c_str());
        if (result == 0) {
            std::string timestamp;
            std::string folder;
            CreateTimestampedFolder(base, timestamp, folder);
            result = CopySelectedDatabases(categories, workFolder, udid_, folder);
            if (result == 0) {
                result = WriteFileInfo(timestamp, platform::JoinPath(folder, "fileinfo"));
            }
            if (result == 0) {
                lastBackupFolder_ = folder;
            }
        }
        ClearWorkingBackup();
        return result;
    }
    return 0;
}

}  // namespace tolvane
