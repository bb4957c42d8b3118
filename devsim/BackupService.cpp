#include "devsim/BackupService.h"

#include "devsim/BackupSession.h"
#include "devsim/Connection.h"
#include "devsim/Generation.h"
#include "devsim/PasscodeWait.h"
#include "devsim/Phone.h"
#include "devsim/RestoreSession.h"

namespace devsim {

void SendOutcome(DeviceLink& link, uint64_t code, const std::string& description) {
    PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "ErrorCode", plist_new_uint(code));
    if (code != 0 && !description.empty()) {
        plist_dict_set_item(dict.get(), "ErrorDescription", plist_new_string(description.c_str()));
    }
    plist_dict_set_item(dict.get(), "MessageName", plist_new_string("Response"));
    link.SendProcessMessage(dict.get());
}

BackupService::BackupService(Phone& phone, Connection& connection)
    : phone_(phone), connection_(connection), link_(phone, connection) {}

void BackupService::Run() {
    connection_.SetRateLimiter(phone_.BackupLinkLimiter());
    try {
        if (!link_.Handshake()) {
            return;
        }
        for (;;) {
            PlistPtr message = link_.Receive();
            const std::string name = ArrayString(message.get(), 0).value_or("");
            if (name == "DLMessageDisconnect") {
                return;
            }
            plist_t body = plist_get_node_type(message.get()) == PLIST_ARRAY &&
                                   plist_array_get_size(message.get()) >= 2
                               ? plist_array_get_item(message.get(), 1)
                               : nullptr;
            if (name == "DLMessageProcessMessage" && body != nullptr &&
                plist_get_node_type(body) == PLIST_DICT && !HandleRequest(body)) {
                return;
            }
        }
    } catch (const LinkClosed&) {
        // The computer went away, or a fault ended the link; nothing is left to answer.
    }
}

bool BackupService::HandleRequest(plist_t request) {
    const std::string name = DictString(request, "MessageName").value_or("");
    if (name == "Hello") {
        Hello(request);
        return true;
    }
    const std::string target = DictString(request, "TargetIdentifier").value_or("");
    if (target != phone_.State().Udid()) {
        SendOutcome(link_, kPhoneBadRequest,
                    name + " is addressed to another device (" + target + ")");
        return true;
    }
    if (name == "Backup") {
        if (IsModernVersion(phone_.State().ValueString("ProductVersion"))) {
            const PasscodeOutcome passcode = WaitForPasscode(phone_, connection_);
            if (passcode == PasscodeOutcome::Gone) {
                return false;
            }
            if (passcode == PasscodeOutcome::Locked) {
                SendOutcome(link_, kPhoneDeviceLocked, "Device locked");
                return true;
            }
        }
        BackupSession(phone_, link_).Run(request);
    } else if (name == "Restore") {
        return !RestoreSession(phone_, link_).Run(request);
    } else if (name == "ChangePassword") {
        ChangePassword(request);
    } else {
        SendOutcome(link_, kPhoneBadRequest, "Unsupported request " + name);
    }
    return true;
}

void BackupService::Hello(plist_t request) {
    double best = 0;
    plist_t offered = plist_dict_get_item(request, "SupportedProtocolVersions");
    if (offered != nullptr && plist_get_node_type(offered) == PLIST_ARRAY) {
        for (uint32_t i = 0; i < plist_array_get_size(offered); ++i) {
            plist_t item = plist_array_get_item(offered, i);
            double v = 0;
            if (plist_get_node_type(item) == PLIST_REAL) {
                plist_get_real_val(item, &v);
            }
            for (double mine : kVersions) {
                if (v == mine && v > best) {
                    best = v;
                }
            }
        }
    }
    PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "MessageName", plist_new_string("Response"));
    plist_dict_set_item(dict.get(), "ErrorCode",
                        plist_new_uint(best > 0 ? uint64_t{0} : uint64_t{kPhoneNoCommonVersion}));
    if (best > 0) {
        plist_dict_set_item(dict.get(), "ProtocolVersion", plist_new_real(best));
    }
    link_.SendProcessMessage(dict.get());
}

void BackupService::ChangePassword(plist_t request) {
    // The password keys sit in the request itself; a client that puts them under "Options" is
    // understood as well.
    plist_t options = plist_dict_get_item(request, "Options");
    auto find = [&](const char* key) {
        std::optional<std::string> v = DictString(request, key);
        return v ? v : DictString(options, key);
    };
    const std::optional<std::string> oldPassword = find("OldPassword");
    const std::optional<std::string> newPassword = find("NewPassword");
    const std::optional<std::string> current = phone_.State().BackupPassword();

    if (current && oldPassword != current) {
        phone_.Events().Append("password refused");
        SendOutcome(link_, kPhoneWrongPassword, "The backup password is not correct");
        return;
    }
    if (!current && oldPassword) {
        phone_.Events().Append("password refused");
        SendOutcome(link_, kPhoneWrongPassword, "The phone has no backup password");
        return;
    }
    if (!current && !newPassword) {
        SendOutcome(link_, kPhoneBadRequest, "ChangePassword without a password");
        return;
    }
    // A phone of 16.1 or later lets its backups be encrypted only once its user has typed the
    // passcode, as for a backup.
    if (!current) {
        const PasscodeOutcome passcode = WaitForPasscode(phone_, connection_);
        if (passcode == PasscodeOutcome::Gone) {
            throw LinkClosed();
        }
        if (passcode == PasscodeOutcome::Locked) {
            SendOutcome(link_, kPhoneDeviceLocked, "Device locked");
            return;
        }
    }
    phone_.State().SetBackupPassword(newPassword);
    phone_.Events().Append(!newPassword ? "password removed"
                           : current    ? "password changed"
                                        : "password set");
    SendOutcome(link_, kPhoneOk, "");
}

}  // namespace devsim
