#include "devsim/LockdownService.h"

#include <atomic>
#include <cstdio>
#include <optional>

#include "devsim/Connection.h"
#include "devsim/Phone.h"

namespace devsim {
namespace {

void SetError(plist_t reply, const char* error) {
    plist_dict_set_item(reply, "Error", plist_new_string(error));
}

std::optional<std::string> OptionalString(plist_t dict, const char* key) {
    return DictString(dict, key);
}

}  // namespace

LockdownService::LockdownService(Phone& phone, Connection& connection)
    : phone_(phone), connection_(connection) {}

void LockdownService::Run() {
    for (;;) {
        PlistPtr request = ReceiveFramedPlist(connection_, 1u << 20);
        if (!request || plist_get_node_type(request.get()) != PLIST_DICT) {
            break;
        }
        bool close = false;
        PlistPtr reply = Handle(request.get(), close);
        if (!SendFramedPlist(connection_, reply.get(), false) || close) {
            break;
        }
    }
    if (!sessionId_.empty()) {
        phone_.Events().Append("session ended " + sessionId_);
    }
}

PlistPtr LockdownService::Handle(plist_t request, bool& close) {
    const std::string name = DictString(request, "Request").value_or("");
    PlistPtr reply(plist_new_dict());
    plist_dict_set_item(reply.get(), "Request", plist_new_string(name.c_str()));

    if (name == "QueryType") {
        plist_dict_set_item(reply.get(), "Type", plist_new_string(kLockdownServiceName));
    } else if (name == "GetValue") {
        GetValue(request, reply.get());
    } else if (name == "SetValue") {
        plist_t value = plist_dict_get_item(request, "Value");
        const auto domain = OptionalString(request, "Domain");
        const auto key = OptionalString(request, "Key");
        if (value == nullptr) {
            SetError(reply.get(), "MissingValue");
        } else if (sessionId_.empty()) {
            SetError(reply.get(), "NoRunningSession");
        } else if (phone_.State().SetValue(domain, key, value) != 0) {
            SetError(reply.get(), "SetProhibited");
        }
    } else if (name == "RemoveValue") {
        // The simulated phone keeps its values; removal is refused as on a locked-down device.
        SetError(reply.get(), "RemoveProhibited");
    } else if (name == "ValidatePair" || name == "Pair") {
        PlistPtr record = phone_.State().PairRecord();
        if (name == "Pair") {
            if (auto bag = DictData(record.get(), "EscrowBag")) {
                plist_dict_set_item(reply.get(), "EscrowBag", NewData(*bag));
            }
        }
    } else if (name == "Unpair") {
        // Accepted and ignored: the pairing belongs to the simulated setup.
    } else if (name == "StartSession") {
        StartSession(request, reply.get());
    } else if (name == "StopSession") {
        const std::string id = DictString(request, "SessionID").value_or("");
        if (sessionId_.empty() || id != sessionId_) {
            SetError(reply.get(), "NoRunningSession");
        } else {
            phone_.Events().Append("session stopped " + sessionId_);
            sessionId_.clear();
        }
    } else if (name == "StartService") {
        StartService(request, reply.get());
    } else if (name == "Goodbye") {
        close = true;
    } else {
        SetError(reply.get(), "InvalidRequest");
    }
    return reply;
}

void LockdownService::GetValue(plist_t request, plist_t reply) {
    const auto domain = OptionalString(request, "Domain");
    const auto key = OptionalString(request, "Key");
    if (domain) {
        plist_dict_set_item(reply, "Domain", plist_new_string(domain->c_str()));
    }
    if (key) {
        plist_dict_set_item(reply, "Key", plist_new_string(key->c_str()));
    }
    const Faults& faults = phone_.GetFaults();
    const bool backupDomain = domain && *domain == kBackupDomain;
    const bool willEncrypt = backupDomain && (!key || *key == "WillEncrypt");
    if (willEncrypt && faults.willEncryptFail) {
        SetError(reply, "GetProhibited");
        return;
    }
    PlistPtr value = phone_.State().Value(domain, key);
    if (willEncrypt && faults.willEncryptAbsent) {
        // The query succeeds, but the phone has nothing to say about encryption.
        if (key) {
            return;
        }
        if (value && plist_dict_get_item(value.get(), "WillEncrypt") != nullptr) {
            plist_dict_remove_item(value.get(), "WillEncrypt");
        }
    }
    if (!value) {
        SetError(reply, "MissingValue");
        return;
    }
    plist_dict_set_item(reply, "Value", value.release());
}

void LockdownService::StartSession(plist_t request, plist_t reply) {
    PlistPtr record = phone_.State().PairRecord();
    const std::string hostId = DictString(request, "HostID").value_or("");
    if (hostId.empty() || hostId != DictString(record.get(), "HostID").value_or("")) {
        SetError(reply, "InvalidHostID");
        return;
    }
    // A session id in the phone's style: an upper-case UUID, unique within this serve.
    static std::atomic<unsigned> counter{0};
    char id[40];
    std::snprintf(id, sizeof id, "%08X-0000-4000-8000-%012X", ++counter,
                  static_cast<unsigned>(phone_.State().Seed() & 0xFFFFFFu));
    sessionId_ = id;
    plist_dict_set_item(reply, "SessionID", plist_new_string(id));
    plist_dict_set_item(reply, "EnableSessionSSL", plist_new_bool(0));
    phone_.Events().Append("session started " + sessionId_);
}

void LockdownService::StartService(plist_t request, plist_t reply) {
    const std::string service = DictString(request, "Service").value_or("");
    plist_dict_set_item(reply, "Service", plist_new_string(service.c_str()));
    const Faults& faults = phone_.GetFaults();
    if (sessionId_.empty()) {
        SetError(reply, "NoRunningSession");
        return;
    }
    if (service != kAfcServiceName && service != kNotificationServiceName &&
        service != kBackupServiceName) {
        SetError(reply, "InvalidService");
        return;
    }
    if ((service == kAfcServiceName && faults.afcUnavailable) ||
        (service == kNotificationServiceName && faults.npUnavailable)) {
        phone_.Events().Append("service refused " + service);
        SetError(reply, "ServiceProhibited");
        return;
    }
    if (auto bag = DictData(request, "EscrowBag")) {
        PlistPtr record = phone_.State().PairRecord();
        if (*bag != DictData(record.get(), "EscrowBag").value_or("")) {
            SetError(reply, "EscrowLocked");
            return;
        }
    }
    uint16_t port = 0;
    if (!(service == kBackupServiceName && faults.backupPortZero)) {
        port = phone_.OpenServicePort(service);
    }
    plist_dict_set_item(reply, "Port", plist_new_uint(port));
    plist_dict_set_item(reply, "EnableServiceSSL", plist_new_bool(0));
    const bool withBag = plist_dict_get_item(request, "EscrowBag") != nullptr;
    phone_.Events().Append("service started " + service + (withBag ? " escrow" : ""));
}

}  // namespace devsim
