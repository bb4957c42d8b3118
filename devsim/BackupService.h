// mobilebackup2 on the phone: the device-link handshake, then requests from the computer as
// DLMessageProcessMessage dictionaries: "Hello" (protocol version exchange), "Backup", "Restore"
// and "ChangePassword". The phone drives each request to its end and then waits for the next
// one on the same connection, until the computer disconnects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "devsim/DeviceLink.h"

namespace devsim {

class Connection;
class Phone;

// The ErrorCode values the phone reports in its final DLMessageProcessMessage.
enum PhoneError : uint64_t {
    kPhoneOk = 0,
    kPhoneNoCommonVersion = 1,     // Hello: none of the offered versions is spoken
    kPhoneBadRequest = 2,          // unknown request, or one for another phone
    kPhoneComputerRefused = 104,   // the computer failed a step of a backup
    kPhoneNotEnoughSpace = 105,    // the computer has less free space than the backup needs
    kPhoneBackupIncomplete = 204,  // a restore could not get the manifest or a listed file
    kPhoneBackupDamaged = 205,     // a restored file does not match its record, or a bad path
    kPhoneWrongPassword = 207,     // ChangePassword or an encrypted restore with a wrong password
};

class BackupService {
  public:
    BackupService(Phone& phone, Connection& connection);
    void Run();

    // The protocol versions the phone speaks, lowest first.
    static constexpr double kVersions[] = {2.0, 2.1};

  private:
    // False when the request ended the link.
    bool HandleRequest(plist_t request);
    void Hello(plist_t request);
    void ChangePassword(plist_t request);

    Phone& phone_;
    Connection& connection_;
    DeviceLink link_;
};

// Sends the phone's final answer to a request: [DLMessageProcessMessage, {ErrorCode, and
// ErrorDescription when code is not 0}].
void SendOutcome(DeviceLink& link, uint64_t code, const std::string& description);

}  // namespace devsim
