// The manifests of a backup of a phone of iOS 10 to 18 (Manifest.db, Manifest.plist, Status.plist)
// and its keybag, shared by the backup conversation (BackupSession.h) and write-backup. The
// Manifest.db of an encrypted backup is itself encrypted under the key that Manifest.plist
// carries in "ManifestKey".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devsim/BackupContents.h"
#include "devsim/DeviceLink.h"
#include "devsim/Random.h"

namespace devsim {

class BackupCipher;
class DeviceState;
class Phone;

// The manifest of a modern backup: the records of the domains, folders and stored files of
// `contents`, as Manifest.db bytes, encrypted when the contents are and `encryptManifest` is set
// (from iOS 10.2; the class and 40-byte wrapped key in `manifestKey`). False, with `error` set,
// when SQLite fails.
bool ModernManifest(const BackupContents& contents, const std::vector<bool>& stored,
                    BackupCipher* cipher, bool encryptManifest, std::string& bytes,
                    std::string& manifestKey, std::string& error);
// Manifest.plist and Status.plist of a modern backup.
PlistPtr ModernManifestPlist(const BackupContents& contents, int64_t now,
                             const std::string& manifestKey);
PlistPtr ModernStatusPlist(const BackupContents& contents, int64_t now, bool finished);

// The backup cipher a phone uses for its version and password (the keybag with DPSL and DPIC
// from iOS 10.2), with class and file keys from `random`. DPIC is device.plist's
// "BackupKeyRounds" (make-device --backup-rounds), else the 10 000 000 of a real phone.
inline constexpr char kDoubleRoundsKey[] = "BackupKeyRounds";
uint32_t DoubleRoundsOf(const DeviceState& state);
std::unique_ptr<BackupCipher> CipherForPhone(const DeviceState& state, const std::string& password,
                                             Random& random);

// The plain bytes of a Manifest.db that `manifest` (its Manifest.plist) says is encrypted, under
// its "ManifestKey"; a plain one is left as it is. False, with `problem` set, when the key cannot
// be unwrapped or the bytes do not decrypt.
bool DecryptManifestDb(plist_t manifest, const BackupCipher* cipher, std::string& bytes,
                       std::string& problem);

}  // namespace devsim
