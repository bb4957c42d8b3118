// Opening the session with the phone, the device queries, and the password step.
//
// ConnectDevice moves the engine from "no session" to "connected" (see BackupEngine.h): device,
// lockdown session, AFC (optional), backup client (optional when the phone gives port 0), the sync
// lock (optional: another program may hold it), the encryption flag and the cached device values.
// A failing step returns at once and leaves what it opened in the engine for CloseDevice.
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>

#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "engine/BackupEngine.h"
#include "engine/MessageLoop.h"
#include "platform/Handles.h"
#include "platform/Strings.h"

namespace tolvane {
namespace {

constexpr char kLockdownLabel[] = "idevicebackup2";
constexpr char kNotificationProxy[] = "com.apple.mobile.notification_proxy";
constexpr char kAfcService[] = "com.apple.afc";
constexpr char kBackupService[] = "com.apple.mobilebackup2";
constexpr char kLockFilePath[] = "/com.apple.itunes.lock_sync";
constexpr uint64_t kAfcOpenReadWrite = 2;  // AFC_FOPEN_RW
constexpr uint64_t kAfcLockExclusiveNonBlocking = 6;
constexpr int32_t kAfcWouldBlock = 19;  // AFC_E_OP_WOULD_BLOCK

// A string value of all the device's values, or nothing.
int32_t QueryValue(lockdownd_client_t lockdown, const char* key, std::string& out) {
    if (lockdown == nullptr) {
        return platform::kResultMissing;
    }
    plist_t raw = nullptr;
    if (lockdownd_get_value(lockdown, nullptr, nullptr, &raw) != LOCKDOWN_E_SUCCESS ||
        raw == nullptr) {
        platform::PlistPtr drop(raw);
        return platform::kResultMissing;
    }
    platform::PlistPtr all(raw);
    plist_t node = plist_get_node_type(all.get()) == PLIST_DICT
                       ? plist_dict_get_item(all.get(), key)
                       : nullptr;
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return platform::kResultMissing;
    }
    out = platform::PlistString(node);
    return 0;
}

}  // namespace

int32_t BackupEngine::ConnectDevice(uint8_t* willEncrypt) {
    // A session left open would otherwise be dropped handle by handle in the wrong order.
    if (device_ != nullptr) {
        CloseDevice();
    }
    isBackupPhase = 0;

    idevice_t rawDevice = nullptr;
    if (idevice_new(&rawDevice, nullptr) != IDEVICE_E_SUCCESS || rawDevice == nullptr) {
        return platform::kResultDeviceGone;
    }
    device_.reset(rawDevice);
    char* rawUdid = nullptr;
    idevice_get_udid(device_.get(), &rawUdid);
    udid_ = rawUdid != nullptr ? rawUdid : "";
    std::free(rawUdid);

    lockdownd_client_t rawLockdown = nullptr;
    const lockdownd_error_t hs =
        lockdownd_client_new_with_handshake(device_.get(), &rawLockdown, kLockdownLabel);
    lockdown_.reset(rawLockdown);
    if (hs != LOCKDOWN_E_SUCCESS) {
        return hs;
    }

    // The notification proxy must be there; the engine posts through its own sessions later.
    {
        lockdownd_service_descriptor_t raw = nullptr;
        const lockdownd_error_t started =
            lockdownd_start_service(lockdown_.get(), kNotificationProxy, &raw);
        ServiceDescriptorPtr service(raw);
        if (started != LOCKDOWN_E_SUCCESS || service == nullptr || service->port == 0) {
            std::printf("lockdownd_start_service afc falied %d\n", started);
            return platform::kResultDeviceGone;
        }
    }

    {
        lockdownd_service_descriptor_t raw = nullptr;
        const lockdownd_error_t started =
            lockdownd_start_service(lockdown_.get(), kAfcService, &raw);
        ServiceDescriptorPtr service(raw);
        if (started == LOCKDOWN_E_SUCCESS && service != nullptr && service->port != 0) {
            afc_client_t rawAfc = nullptr;
            if (afc_client_new(device_.get(), service.get(), &rawAfc) == AFC_E_SUCCESS) {
                afc_.reset(rawAfc);
            }
        }
    }

    ServiceDescriptorPtr backupService;
    {
        lockdownd_service_descriptor_t raw = nullptr;
        lockdownd_error_t started =
            lockdownd_start_service_with_escrow_bag(lockdown_.get(), kBackupService, &raw);
        if (started != LOCKDOWN_E_SUCCESS) {
            lockdownd_service_descriptor_free(raw);
            raw = nullptr;
            started = lockdownd_start_service(lockdown_.get(), kBackupService, &raw);
        }
        backupService.reset(raw);
        if (started != LOCKDOWN_E_SUCCESS) {
            return started;
        }
    }

    if (backupService != nullptr && backupService->port != 0) {
        mobilebackup2_client_t rawBackup = nullptr;
        mobilebackup2_error_t err =
            mobilebackup2_client_new(device_.get(), backupService.get(), &rawBackup);
        backup_.reset(rawBackup);
        if (err != MOBILEBACKUP2_E_SUCCESS) {
            return err;
        }
        double versions[] = {2.0, 2.1};
        double remote = 0;
        err = mobilebackup2_version_exchange(backup_.get(), versions, 2, &remote);
        if (err != MOBILEBACKUP2_E_SUCCESS) {
            return err;
        }

        PostDeviceNotification("com.apple.itunes-mobdev.syncWillStart");
        if (const int32_t locked = TakeSyncLock(); locked != 0) {
            return locked;
        }

        willEncrypt_ = true;
        plist_t raw = nullptr;
        const lockdownd_error_t queried =
            lockdownd_get_value(lockdown_.get(), "com.apple.mobile.backup", "WillEncrypt", &raw);
        platform::PlistPtr value(raw);
        if (value != nullptr) {
            if (plist_get_node_type(value.get()) == PLIST_BOOLEAN) {
                uint8_t b = 0;
                plist_get_bool_val(value.get(), &b);
                willEncrypt_ = b != 0;
            }
        } else if (queried == LOCKDOWN_E_SUCCESS) {
            willEncrypt_ = false;
        }
        if (willEncrypt != nullptr) {
            *willEncrypt = willEncrypt_ ? 1 : 0;
        }
        if (queried != LOCKDOWN_E_SUCCESS) {
            return queried;
        }
    }

    GetProductVersion(productVersion_);
    GetDeviceName(deviceName_);
    GetDeviceClass(deviceClass_);
    return 0;
}

int32_t BackupEngine::TakeSyncLock() {
    assert(lockFile_ == 0);
    if (afc_ == nullptr) {
        return 0;
    }
    uint64_t handle = 0;
    if (afc_file_open(afc_.get(), kLockFilePath, static_cast<afc_file_mode_t>(kAfcOpenReadWrite),
                      &handle) != AFC_E_SUCCESS ||
        handle == 0) {
        return 0;
    }
    lockFile_ = handle;
    PostDeviceNotification("com.apple.itunes-mobdev.syncLockRequest");
    for (int attempt = 0; attempt < lockAttempts_; ++attempt) {
        const afc_error_t err = afc_file_lock(
            afc_.get(), lockFile_, static_cast<afc_lock_op_t>(kAfcLockExclusiveNonBlocking));
        if (err == AFC_E_SUCCESS) {
            PostDeviceNotification("com.apple.itunes-mobdev.syncDidStart");
            return 0;
        }
        if (err != kAfcWouldBlock) {
            afc_file_close(afc_.get(), lockFile_);
            lockFile_ = 0;
            return err;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(lockWaitMs_));
    }
    // Another program keeps the lock: go on without it, keeping the file open.
    return 0;
}

int32_t BackupEngine::GetDeviceName(std::string& name) {
    std::string utf8;
    const int32_t r = QueryValue(lockdown_.get(), "DeviceName", utf8);
    if (r == 0) {
        name = platform::WideToAnsi(platform::AnsiToWide(utf8));
    }
    return r;
}

int32_t BackupEngine::GetProductVersion(std::string& version) {
    return QueryValue(lockdown_.get(), "ProductVersion", version);
}

int32_t BackupEngine::GetDeviceClass(std::string& deviceClass) {
    return QueryValue(lockdown_.get(), "DeviceClass", deviceClass);
}

bool BackupEngine::IsDevicePresent() {
    std::string name;
    return GetDeviceName(name) == 0;
}

int32_t BackupEngine::UnlockBackupPassword(const char* password) {
    if (!willEncrypt_) {
        return 0;
    }
    if (password == nullptr) {
        return platform::kResultMissing;
    }
    if (backup_ == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    platform::PlistPtr request(plist_new_dict());
    plist_dict_set_item(request.get(), "TargetIdentifier", plist_new_string(udid_.c_str()));
    plist_dict_set_item(request.get(), "OldPassword", plist_new_string(password));
    const mobilebackup2_error_t sent =
        mobilebackup2_send_message(backup_.get(), "ChangePassword", request.get());
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        return sent;
    }
    const int32_t result = RunMessageLoop(nullptr, *this);
    if (result == 0) {
        willEncrypt_ = false;
    }
    return result;
}

}  // namespace tolvane
