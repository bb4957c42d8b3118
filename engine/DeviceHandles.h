// Owners for the handles of the device library. Each frees its handle with the library's own
// free function, so a session's clients are released in reverse order on every path.
#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>
#include <libimobiledevice/notification_proxy.h>

#include <memory>
#include <type_traits>

namespace tolvane {

template <typename Handle, auto FreeFn>
struct HandleDeleter {
    void operator()(Handle h) const {
        if (h != nullptr) {
            FreeFn(h);
        }
    }
};

template <typename Handle, auto FreeFn>
using HandlePtr = std::unique_ptr<std::remove_pointer_t<Handle>, HandleDeleter<Handle, FreeFn>>;

using DevicePtr = HandlePtr<idevice_t, idevice_free>;
using LockdownPtr = HandlePtr<lockdownd_client_t, lockdownd_client_free>;
using ServiceDescriptorPtr =
    HandlePtr<lockdownd_service_descriptor_t, lockdownd_service_descriptor_free>;
using AfcPtr = HandlePtr<afc_client_t, afc_client_free>;
using BackupClientPtr = HandlePtr<mobilebackup2_client_t, mobilebackup2_client_free>;
using NotificationPtr = HandlePtr<np_client_t, np_client_free>;

}  // namespace tolvane
