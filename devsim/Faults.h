// Faults the phone plays on request (`serve --fault FLAG`, repeatable). The flags:
//
//   unplug-after-messages=N   unplug once the phone has sent N device-link messages on
//                             mobilebackup2 connections
//   unplug-after-bytes=N      unplug once N bytes of file contents have crossed mobilebackup2
//                             connections, either direction
//   silent-after-messages=N   after N such messages the backup connection stops answering
//                             without closing (lockdown keeps answering)
//   disconnect-after-messages=N
//                             after N such messages the phone sends DLMessageDisconnect and
//                             closes the backup connection, as one whose user ended the sync
//   close-after-messages=N    after N such messages the backup connection closes without a word
//                             (the phone stays listed and lockdown keeps answering)
//   lock-held=S | lock-held=forever
//                             another program holds the sync lock file, for S seconds from the
//                             first lock request, or for ever
//   willencrypt=absent        the WillEncrypt query succeeds without a value
//   willencrypt=fail          the WillEncrypt query fails
//   backup-port-zero          starting mobilebackup2 answers port 0
//   afc-unavailable           com.apple.afc cannot be started
//   np-unavailable            com.apple.mobile.notification_proxy cannot be started
//   refuse-restore=CODE:TEXT  a Restore is refused at once with that ErrorCode and ErrorDescription
//   fail-backup=CODE:TEXT     a Backup fails half-way with that ErrorCode and ErrorDescription
//                             (one with nothing new to send fails before its manifest)
//   rate=MBPS                 the backup link carries at most MBPS million bytes per second
//   hostile-names             a Backup also sends names that try to leave the backup folder
//   change-share=P            at the end of each finished Backup a share P ("1%", "0.01") of the
//   phone's
//                             files changes (FileChanges.h): the use between two backups
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct DeviceError {
    uint64_t code = 0;
    std::string description;
};

struct Faults {
    // The passcode a phone of iOS 16.1 or later asks for after a Backup request (PasscodeWait.h).
    std::optional<uint64_t> passcodeAfterSeconds;
    bool passcodeNever = false;
    uint64_t passcodeLimitSeconds = 180;
    std::optional<uint64_t> unplugAfterMessages;
    std::optional<uint64_t> unplugAfterBytes;
    std::optional<uint64_t> silentAfterMessages;
    std::optional<uint64_t> disconnectAfterMessages;
    std::optional<uint64_t> closeAfterMessages;
    std::optional<uint64_t> lockHeldSeconds;
    bool lockHeldForever = false;
    bool willEncryptAbsent = false;
    bool willEncryptFail = false;
    bool backupPortZero = false;
    bool afcUnavailable = false;
    bool npUnavailable = false;
    std::optional<DeviceError> refuseRestore;
    std::optional<DeviceError> failBackup;
    double rateMBps = 0;  // 0: no cap
    bool hostileNames = false;
    double changeShare = 0;  // 0: the files stay as they are
};

// Adds one flag to `faults`. False, with `error` set, for a flag that is not understood.
bool ParseFault(const std::string& flag, Faults& faults, std::string& error);

}  // namespace devsim
