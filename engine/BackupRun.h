// The pieces of a backup run that stand on their own: the Info.plist of a backup, reading small
// files from the phone's media area, copying the selected databases out of a work backup, and the
// timestamped backup folder.
#pragma once

#include <libimobiledevice/afc.h>
#include <libimobiledevice/lockdown.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/Handles.h"

namespace tolvane {

// Reads a file of the phone's media area for Info.plist; nothing when it cannot be read whole.
using DeviceFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The Info.plist dictionary of a backup, from the device's values (the dictionary lockdown gives
// for no domain and no key), its "com.apple.iTunes" domain (null: an empty dictionary), its media
// files and the time of the run (seconds since 1970). Keys the device does not give are left out.
platform::PlistPtr BuildInfoPlistFrom(const std::string& udid, plist_t allValues,
                                      plist_t itunesSettings, const DeviceFileReader& readFile,
                                      int64_t nowUnix);

// The same from the phone itself; null when lockdown gives no values.
platform::PlistPtr BuildInfoPlist(const std::string& udid, lockdownd_client_t lockdown,
                                  afc_client_t afc);

// A whole file of the phone's media area (at most 16 MiB), or nothing when its size is unknown or
// 0, it cannot be opened, or fewer bytes than its size arrive.
std::optional<std::string> ReadDeviceFile(afc_client_t afc, const std::string& path);

// Copies the message database (Sms) to target/"sms" and the contacts database (Contacts) to
// target/"content" from the work backup's device folder workFolder/udid. 0, or the system error
// code of the first copy that failed (the later ones are not tried).
int32_t CopySelectedDatabases(uint32_t categories, const std::string& workFolder,
                              const std::string& udid, const std::string& targetFolder);

// Creates a new folder in `base` named by the local time ("%04d-%02d-%02d-%02d-%02d-%02d"). A name
// that exists already is never reused: the next second is waited for. 0 with the name and the
// path, or the system error code of the folder's creation.
int32_t CreateTimestampedFolder(const std::string& base, std::string& timestamp,
                                std::string& folder);

// Whether a phone of this ProductVersion (16.1 or later) asks its user for the passcode after a
// Backup request and says nothing until it has it.
bool AsksPasscodeForBackup(const std::string& productVersion);

}  // namespace tolvane
