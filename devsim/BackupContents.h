// What one backup of the phone holds, shared by the backup driver and write-backup: the records
// of Manifest.mbdb (one per folder and file of the file tree), the stored bytes of each file
// (produced on demand, hashed on the way), Manifest.plist and Status.plist.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devsim/FileSource.h"
#include "devsim/FileTree.h"
#include "devsim/Mbdb.h"
#include "devsim/PlistUtil.h"
#include "platform/Sha1.h"

namespace devsim {

class DeviceState;
class BackupCipher;

struct BackupItem {
    TreeEntry entry;
    std::string name;  // the hashed name in the backup folder (files only)
    MbdbRecord record;
};

class BackupContents {
  public:
    // `cipher` null: a plain backup; otherwise every file is stored encrypted with it.
    BackupContents(const DeviceState& state, BackupCipher* cipher);
    ~BackupContents();

    std::vector<BackupItem>& Items() { return items_; }
    const std::vector<BackupItem>& Items() const { return items_; }
    // The bytes all files take in the backup folder (an estimate for encrypted files, which grow
    // by their padding).
    uint64_t StoredBytes() const;

    // A source for the stored bytes of item `index` (a file). Once it has been read to its end,
    // Complete fills the item's digest (and key); a source that failed leaves them empty.
    std::unique_ptr<FileSource> Open(size_t index);
    void Complete(size_t index, FileSource& source);

    // The manifest of the folders and of the files whose `stored` flag is set.
    std::string ManifestMbdb(const std::vector<bool>& stored) const;
    PlistPtr ManifestPlist(int64_t now) const;
    PlistPtr StatusPlist(int64_t now, bool finished) const;
    bool Encrypted() const { return cipher_ != nullptr; }

  private:
    const DeviceState& state_;
    BackupCipher* cipher_;
    std::vector<BackupItem> items_;
    std::string uuid_;
};

// The protection class a phone gives a file (the message and contacts databases: 3).
uint8_t ProtectionClassOf(const std::string& domain, const std::string& path);

}  // namespace devsim
