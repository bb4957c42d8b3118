// Backups of a phone of iOS 10 to 18, driven from the phone's side. The conversation is the one of
// BackupSession.h with the newer layout:
//
//   1-5.  free space, the backup folder and what an earlier backup left in it (each of its
//         two-digit folders listed too), Status.plist "new", the staging folder UDID/Snapshot
//   6.    DLMessageCreateDirectory UDID/Snapshot/xx for every prefix in use, then every file
//         uploaded as UDID/Snapshot/xx/<fileID>, in batches; then Manifest.db and
//         Manifest.plist into the staging folder
//   7.    DLMessageCreateDirectory UDID/xx, DLMessageMoveFiles of the files into UDID/xx/,
//         DLMessageMoveItems of the manifests
//   8.    DLMessageRemoveFiles of what the earlier backup had and the phone no longer has
//         (an earlier backup of the iOS 7 layout: its flat files and Manifest.mbdb)
//   9.    Status.plist "finished" copied into place, and DLMessageRemoveItems [UDID/Snapshot]:
//         the staging folder with what is left in it, a remove the computer makes recursively
//
// The Manifest.db of an encrypted backup is itself encrypted under the key that Manifest.plist
// carries in "ManifestKey".
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "devsim/BackupContents.h"
#include "devsim/DeviceLink.h"
#include "devsim/Random.h"

namespace devsim {

class BackupCipher;
class DeviceState;
class Phone;

class ModernBackupSession {
  public:
    ModernBackupSession(Phone& phone, DeviceLink& link);
    ~ModernBackupSession();
    void Run(plist_t request);

  private:
    bool UploadBatch(const std::vector<size_t>& items);
    bool UploadBytes(const std::vector<std::pair<std::string, std::string>>& files,
                     double progress);
    bool CreateFolder(const std::string& path);
    std::set<std::string> Listing(const std::string& path);
    void Finish(uint64_t code, const std::string& description);
    double Progress() const;

    Phone& phone_;
    DeviceLink& link_;
    std::string udid_;
    Random random_;
    std::unique_ptr<BackupCipher> cipher_;
    std::unique_ptr<BackupContents> contents_;
    std::vector<bool> stored_;
    uint64_t total_ = 1;
    uint64_t done_ = 0;
};

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

}  // namespace devsim
