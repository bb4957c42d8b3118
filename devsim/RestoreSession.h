// A Restore request driven from the phone's side. The phone asks the computer for the backup's
// Manifest.plist and Manifest.mbdb, then for every file the manifest lists, in batches; it
// checks each file against its record's SHA-1 (an encrypted backup also needs the right
// "Password" and is decrypted on the way) and stages everything before it changes anything.
// Only a backup that arrived whole and intact is applied:
//
//   - user domains (HomeDomain, MediaDomain, CameraRollDomain, ...) become what the backup holds;
//   - an application's domain is replaced only when the manifest still holds its records (data
//     of applications left out of the manifest stays as it was);
//   - system domains only with "RestoreSystemFiles" true.
//
// A refusal is a DLMessageProcessMessage with ErrorCode and ErrorDescription, and leaves the
// phone as it was. An applied restore ends the link with DLMessageDisconnect: the phone restarts
// to use what it received.
#pragma once

#include <string>

#include "devsim/DeviceLink.h"

namespace devsim {

class Phone;

class RestoreSession {
  public:
    RestoreSession(Phone& phone, DeviceLink& link);
    // True when the restore was applied and the phone has ended the link.
    bool Run(plist_t request);

  private:
    void Fail(uint64_t code, const std::string& description);

    Phone& phone_;
    DeviceLink& link_;
};

}  // namespace devsim
