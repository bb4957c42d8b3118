#include "engine/BackupEngine.h"

#include <cstdio>

#include "store/Catalogue.h"

namespace tolvane {

std::atomic<double> OverallProgress{0.0};
std::atomic<int32_t> AbortFlag{0};

namespace {
constexpr char kNotificationProxy[] = "com.apple.mobile.notification_proxy";
constexpr char kLockdownLabel[] = "idevicebackup2";
constexpr uint64_t kAfcUnlock = 12;  // AFC_LOCK_UN
}  // namespace

BackupEngine::BackupEngine() = default;

BackupEngine::~BackupEngine() {
    CloseDevice();
    ClearWorkingBackup();
}

std::string BackupEngine::GetLastErrorText() const {
    std::lock_guard lock(lastErrorMutex_);
    return lastErrorText_;
}

void BackupEngine::SetLastErrorText(const std::string& text) {
    std::lock_guard lock(lastErrorMutex_);
    lastErrorText_ = text;
}

void BackupEngine::PostDeviceNotification(const char* name) {
    if (device_ == nullptr || name == nullptr) {
        return;
    }
    lockdownd_client_t rawLockdown = nullptr;
    if (lockdownd_client_new_with_handshake(device_.get(), &rawLockdown, kLockdownLabel) !=
        LOCKDOWN_E_SUCCESS) {
        std::printf("Could not start %s\n", kNotificationProxy);
        return;
    }
    LockdownPtr lockdown(rawLockdown);
    lockdownd_service_descriptor_t rawService = nullptr;
    const lockdownd_error_t started =
        lockdownd_start_service(lockdown.get(), kNotificationProxy, &rawService);
    ServiceDescriptorPtr service(rawService);
    if (started != LOCKDOWN_E_SUCCESS || service == nullptr || service->port == 0) {
        std::printf("Could not start %s\n", kNotificationProxy);
        return;
    }
    np_client_t rawNp = nullptr;
    if (np_client_new(device_.get(), service.get(), &rawNp) == NP_E_SUCCESS) {
        NotificationPtr np(rawNp);
        np_post_notification(np.get(), name);
    }
}

void BackupEngine::ReleaseSyncLock() {
    if (lockFile_ == 0) {
        return;
    }
    if (afc_ != nullptr) {
        afc_file_lock(afc_.get(), lockFile_, static_cast<afc_lock_op_t>(kAfcUnlock));
        afc_file_close(afc_.get(), lockFile_);
    }
    lockFile_ = 0;
    PostDeviceNotification("com.apple.itunes-mobdev.syncDidFinish");
}

int32_t BackupEngine::WriteFileInfo(const std::string& timestamp,
                                    const std::string& fileinfoPath) const {
    return tolvane::WriteFileInfo(categories, timestamp, deviceName_, deviceClass_, productVersion_,
                                  fileinfoPath);
}

int32_t BackupEngine::ListOwnBackups(const std::wstring& root, std::vector<BackupEntry>& entries) {
    return tolvane::ListOwnBackups(root, entries);
}

int32_t BackupEngine::ListItunesBackups(std::vector<BackupEntry>& entries) {
    return tolvane::ListItunesBackups(entries);
}

int32_t BackupEngine::CloseDevice() {
    lockdown_.reset();
    ReleaseSyncLock();
    backup_.reset();
    afc_.reset();
    device_.reset();
    return 0;
}

}  // namespace tolvane
