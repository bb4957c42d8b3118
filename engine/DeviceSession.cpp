// Opening the session with the phone, the device queries, notifications and the sync lock.
//
// Connect moves the session from "none" to "connected" (see DeviceSession.h): device, lockdown
// session, AFC (optional), backup client (optional when the phone gives port 0), the sync lock
// (optional: another program may hold it), the encryption flag and the cached device values.
// A failing step returns at once and leaves what it opened for Close.
#include "engine/DeviceSession.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>
#include <libimobiledevice/notification_proxy.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/Handles.h"
#include "platform/Strings.h"

namespace tolvane {
namespace {

// The Hello exchange of the backup protocol, done here rather than by the library's
// mobilebackup2_version_exchange, which reads freed memory when the connection ends before the
// phone's answer (a phone unplugged right after its ready message). Every early end is an error.
mobilebackup2_error_t ExchangeVersions(mobilebackup2_client_t client, const double* versions,
                                       uint32_t count, double& remote) {
    remote = 0;
    platform::PlistPtr hello(plist_new_dict());
    plist_t offered = plist_new_array();
    for (uint32_t i = 0; i < count; ++i) {
        plist_array_append_item(offered, plist_new_real(versions[i]));
    }
    plist_dict_set_item(hello.get(), "SupportedProtocolVersions", offered);
    mobilebackup2_error_t err = mobilebackup2_send_message(client, "Hello", hello.get());
    if (err != MOBILEBACKUP2_E_SUCCESS) {
        return err;
    }
    plist_t raw = nullptr;
    char* rawName = nullptr;
    err = mobilebackup2_receive_message(client, &raw, &rawName);
    platform::PlistPtr message(raw);
    const std::string name = rawName != nullptr ? rawName : "";
    std::free(rawName);
    if (err != MOBILEBACKUP2_E_SUCCESS) {
        return err;
    }
    if (name != "DLMessageProcessMessage" || plist_get_node_type(message.get()) != PLIST_ARRAY ||
        plist_array_get_size(message.get()) < 2) {
        return MOBILEBACKUP2_E_PLIST_ERROR;
    }
    plist_t answer = plist_array_get_item(message.get(), 1);
    if (plist_get_node_type(answer) != PLIST_DICT) {
        return MOBILEBACKUP2_E_PLIST_ERROR;
    }
    plist_t code = plist_dict_get_item(answer, "ErrorCode");
    uint64_t value = 0;
    if (code == nullptr || plist_get_node_type(code) != PLIST_UINT) {
        return MOBILEBACKUP2_E_PLIST_ERROR;
    }
    plist_get_uint_val(code, &value);
    if (value != 0) {
        return MOBILEBACKUP2_E_NO_COMMON_VERSION;
    }
    plist_t version = plist_dict_get_item(answer, "ProtocolVersion");
    if (version == nullptr || plist_get_node_type(version) != PLIST_REAL) {
        return MOBILEBACKUP2_E_PLIST_ERROR;
    }
    plist_get_real_val(version, &remote);
    return MOBILEBACKUP2_E_SUCCESS;
}

constexpr char kLockdownLabel[] = "idevicebackup2";
constexpr char kNotificationProxy[] = "com.apple.mobile.notification_proxy";
constexpr char kAfcService[] = "com.apple.afc";
constexpr char kBackupService[] = "com.apple.mobilebackup2";
constexpr char kLockFilePath[] = "/com.apple.itunes.lock_sync";
constexpr uint64_t kAfcOpenReadWrite = 2;  // AFC_FOPEN_RW
constexpr uint64_t kAfcLockExclusiveNonBlocking = 6;
constexpr uint64_t kAfcUnlock = 12;     // AFC_LOCK_UN
constexpr int32_t kAfcWouldBlock = 19;  // AFC_E_OP_WOULD_BLOCK

// A string value of all the device's values, or nothing.
int32_t QueryValue(lockdownd_client_t lockdown, const char* key, std::string& out) {
    if (lockdown == nullptr) {
        return platform::kResultMissing;
    }
    plist_t raw = nullptr;
    const lockdownd_error_t queried = lockdownd_get_value(lockdown, nullptr, nullptr, &raw);
    platform::PlistPtr all(raw);
    if (queried != LOCKDOWN_E_SUCCESS || all == nullptr) {
        return platform::kResultMissing;
    }
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

DeviceSession::~DeviceSession() {
    Close();
}

void DeviceSession::AssertInvariants() const {
    assert(lockFile_ == 0 || afc_ != nullptr);
    assert(device_ != nullptr || (lockdown_ == nullptr && afc_ == nullptr && backup_ == nullptr));
}

int32_t DeviceSession::Connect(uint8_t* willEncrypt, platform::Failure& what) {
    using platform::Failure;
    // A session left open would otherwise be dropped handle by handle in the wrong order.
    if (device_ != nullptr) {
        Close();
    }
    what = Failure::DeviceService;

    idevice_t rawDevice = nullptr;
    if (idevice_new(&rawDevice, nullptr) != IDEVICE_E_SUCCESS || rawDevice == nullptr) {
        what = Failure::NoDevice;
        return platform::kResultDeviceGone;
    }
    device_.reset(rawDevice);
    char* rawUdid = nullptr;
    if (idevice_get_udid(device_.get(), &rawUdid) != IDEVICE_E_SUCCESS) {
        std::printf("idevice_get_udid failed\n");
    }
    udid_ = rawUdid != nullptr ? rawUdid : "";
    std::free(rawUdid);

    lockdownd_client_t rawLockdown = nullptr;
    const lockdownd_error_t hs =
        lockdownd_client_new_with_handshake(device_.get(), &rawLockdown, kLockdownLabel);
    lockdown_.reset(rawLockdown);
    if (hs != LOCKDOWN_E_SUCCESS) {
        return hs;
    }

    // The notification proxy must be there; the session posts through its own sessions later.
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
        err = ExchangeVersions(backup_.get(), versions, 2, remote);
        if (err != MOBILEBACKUP2_E_SUCCESS) {
            return err;
        }

        PostDeviceNotification("com.apple.itunes-mobdev.syncWillStart");
        if (const int32_t locked = TakeSyncLock(); locked != 0) {
            if (locked == platform::kResultCancelled) {
                what = Failure::Cancelled;
            }
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

    // A value the phone does not give stays empty; the session is usable without it.
    GetProductVersion(productVersion_);
    GetDeviceName(deviceName_);
    GetDeviceClass(deviceClass_);
    what = Failure::None;
    AssertInvariants();
    return 0;
}

int32_t DeviceSession::Close() {
    lockdown_.reset();
    ReleaseSyncLock();
    backup_.reset();
    afc_.reset();
    device_.reset();
    AssertInvariants();
    return 0;
}

int32_t DeviceSession::TakeSyncLock() {
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
            AssertInvariants();
            return 0;
        }
        if (err != kAfcWouldBlock) {
            if (afc_file_close(afc_.get(), lockFile_) != AFC_E_SUCCESS) {
                std::printf("Could not close the sync lock file\n");
            }
            lockFile_ = 0;
            return err;
        }
        if (attempt == 0) {
            std::printf("Another program is syncing with the phone: waiting up to %d s for it\n",
                        (lockAttempts_ * lockWaitMs_ + 999) / 1000);
            std::fflush(stdout);
        }
        // The wait between attempts, in slices short enough for a stop to be seen at once.
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(lockWaitMs_);
        while (std::chrono::steady_clock::now() < until) {
            if (stopCheck_ && stopCheck_()) {
                if (afc_file_close(afc_.get(), lockFile_) != AFC_E_SUCCESS) {
                    std::printf("Could not close the sync lock file\n");
                }
                lockFile_ = 0;
                return platform::kResultCancelled;
            }
            std::this_thread::sleep_for(
                std::min(std::chrono::milliseconds(100),
                         std::chrono::duration_cast<std::chrono::milliseconds>(
                             until - std::chrono::steady_clock::now())));
        }
    }
    // Another program keeps the lock: go on without it, keeping the file open.
    AssertInvariants();
    return 0;
}

void DeviceSession::RetakeSyncLock() {
    if (lockFile_ != 0 || afc_ == nullptr) {
        return;
    }
    PostDeviceNotification("com.apple.itunes-mobdev.syncWillStart");
    // A lock that cannot be had is no reason to stop: the session went on without it before.
    if (const int32_t locked = TakeSyncLock(); locked != 0) {
        std::printf("Could not take the sync lock again: %d\n", locked);
    }
}

void DeviceSession::ReleaseSyncLock() {
    AssertInvariants();
    if (lockFile_ == 0) {
        return;
    }
    // The phone drops the lock with the file or the connection; a failure here leaves nothing
    // held, so it is only reported.
    if (afc_file_lock(afc_.get(), lockFile_, static_cast<afc_lock_op_t>(kAfcUnlock)) !=
        AFC_E_SUCCESS) {
        std::printf("Could not unlock the sync lock file\n");
    }
    if (afc_file_close(afc_.get(), lockFile_) != AFC_E_SUCCESS) {
        std::printf("Could not close the sync lock file\n");
    }
    lockFile_ = 0;
    PostDeviceNotification("com.apple.itunes-mobdev.syncDidFinish");
}

void DeviceSession::PostDeviceNotification(const char* name) {
    if (device_ == nullptr || name == nullptr) {
        return;
    }
    lockdownd_client_t rawLockdown = nullptr;
    const lockdownd_error_t hs =
        lockdownd_client_new_with_handshake(device_.get(), &rawLockdown, kLockdownLabel);
    LockdownPtr lockdown(rawLockdown);
    if (hs != LOCKDOWN_E_SUCCESS) {
        std::printf("Could not start %s\n", kNotificationProxy);
        return;
    }
    lockdownd_service_descriptor_t rawService = nullptr;
    const lockdownd_error_t started =
        lockdownd_start_service(lockdown.get(), kNotificationProxy, &rawService);
    ServiceDescriptorPtr service(rawService);
    if (started != LOCKDOWN_E_SUCCESS || service == nullptr || service->port == 0) {
        std::printf("Could not start %s\n", kNotificationProxy);
        return;
    }
    np_client_t rawNp = nullptr;
    if (np_client_new(device_.get(), service.get(), &rawNp) != NP_E_SUCCESS) {
        std::printf("Could not start %s\n", kNotificationProxy);
        return;
    }
    NotificationPtr np(rawNp);
    if (np_post_notification(np.get(), name) != NP_E_SUCCESS) {
        std::printf("Could not post %s\n", name);
    }
}

int32_t DeviceSession::Query(const char* key, std::string& out) {
    std::lock_guard lock(queryMutex_);
    return QueryValue(lockdown_.get(), key, out);
}

int32_t DeviceSession::GetDeviceName(std::string& name) {
    std::string utf8;
    const int32_t r = Query("DeviceName", utf8);
    if (r == 0) {
        name = platform::WideToAnsi(platform::AnsiToWide(utf8));
    }
    return r;
}

int32_t DeviceSession::GetProductVersion(std::string& version) {
    return Query("ProductVersion", version);
}

int32_t DeviceSession::GetDeviceClass(std::string& deviceClass) {
    return Query("DeviceClass", deviceClass);
}

bool DeviceSession::IsDevicePresent() {
    std::string name;
    return GetDeviceName(name) == 0;
}

}  // namespace tolvane
