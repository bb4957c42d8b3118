// Owners for libimobiledevice handles in the simulator's tests, and a connected session with the
// phone of a SimulatedPhone: device, lockdown client with handshake, and service starts.
#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>
#include <libimobiledevice/notification_proxy.h>
#include <plist/plist.h>

#include <memory>
#include <string>
#include <type_traits>

namespace devsimtest {

template <typename Handle, auto FreeFn>
struct Free {
    void operator()(Handle h) const {
        if (h != nullptr) {
            FreeFn(h);
        }
    }
};
template <typename Handle, auto FreeFn>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, Free<Handle, FreeFn>>;

using Device = Owned<idevice_t, idevice_free>;
using Lockdown = Owned<lockdownd_client_t, lockdownd_client_free>;
using Service = Owned<lockdownd_service_descriptor_t, lockdownd_service_descriptor_free>;
using Afc = Owned<afc_client_t, afc_client_free>;
using Backup2 = Owned<mobilebackup2_client_t, mobilebackup2_client_free>;
using Np = Owned<np_client_t, np_client_free>;

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using Plist = std::unique_ptr<void, PlistFree>;

inline Device OpenDevice() {
    idevice_t d = nullptr;
    idevice_new(&d, nullptr);
    return Device(d);
}

inline Lockdown Handshake(idevice_t device, lockdownd_error_t* error = nullptr) {
    lockdownd_client_t c = nullptr;
    const lockdownd_error_t e = lockdownd_client_new_with_handshake(device, &c, "devsim-tests");
    if (error != nullptr) {
        *error = e;
    }
    return Lockdown(c);
}

inline std::string StringOf(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return {};
    }
    char* s = nullptr;
    plist_get_string_val(node, &s);
    std::string out = s != nullptr ? s : "";
    free(s);
    return out;
}

// Starts `service` and returns its descriptor (null on failure, with `error` set).
inline Service Start(lockdownd_client_t lockdown, const char* service, bool escrowBag,
                     lockdownd_error_t* error = nullptr) {
    lockdownd_service_descriptor_t d = nullptr;
    const lockdownd_error_t e = escrowBag
                                    ? lockdownd_start_service_with_escrow_bag(lockdown, service, &d)
                                    : lockdownd_start_service(lockdown, service, &d);
    if (error != nullptr) {
        *error = e;
    }
    return Service(d);
}

}  // namespace devsimtest
