// What the backup conversation (BackupSession.h) does differently for the two generations of
// phone: where a file lies in the backup folder, which manifest describes it, and how the keybag
// is made.
//
//   older (7.1.x)    flat <fileID> names, Manifest.mbdb, Status.plist "2.4"
//   modern (10-18)   <xx>/<fileID> in two-digit prefix folders, Manifest.db (encrypted from
//                    10.2 under Manifest.plist's ManifestKey), Status.plist "3.3"
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "devsim/BackupContents.h"
#include "devsim/Mbdb.h"
#include "devsim/PlistUtil.h"

namespace devsim {

class BackupCipher;
class DeviceState;
class Random;

class BackupLayout {
  public:
    using ListFolder = std::function<std::set<std::string>(const std::string& relative)>;

    virtual ~BackupLayout() = default;
    // The layout of the phone's generation (its ProductVersion).
    static std::unique_ptr<BackupLayout> ForPhone(const DeviceState& state);

    virtual std::unique_ptr<BackupCipher> Cipher(const DeviceState& state,
                                                 const std::string& password,
                                                 Random& random) const = 0;
    // Where the file of hashed name `name` lies, relative to the device folder.
    virtual std::string StoredName(const std::string& name) const = 0;
    // The folders below the device folder (and below its staging folder) that the files need.
    virtual std::set<std::string> Folders(const std::vector<std::string>& storedNames) const = 0;
    // The files an earlier backup left, as StoredName gives them (and, for a modern phone, the
    // older layout's flat files and Manifest.mbdb), from the device folder's listing `top`.
    virtual std::set<std::string> EarlierFiles(const std::set<std::string>& top,
                                               const ListFolder& list) const = 0;
    // The manifest file of this layout, how it is written and how an earlier one is read back.
    virtual const char* ManifestName() const = 0;
    virtual bool WriteManifest(const BackupContents& contents, const std::vector<bool>& stored,
                               BackupCipher* cipher, std::string& bytes, std::string& manifestKey,
                               std::string& error) const = 0;
    virtual bool ReadManifest(std::string bytes, plist_t manifestPlist, const BackupCipher* cipher,
                              std::vector<MbdbRecord>& records, std::string& error) const = 0;
    virtual PlistPtr ManifestPlist(const BackupContents& contents, int64_t now,
                                   const std::string& manifestKey) const = 0;
    virtual PlistPtr StatusPlist(const BackupContents& contents, int64_t now,
                                 bool finished) const = 0;
    // What the last remove of the conversation names to take the staging folder away.
    virtual std::vector<std::string> StagingRemoval(const std::string& snapshot) const = 0;
    // Bytes a record takes in the manifest (for the room the backup needs).
    virtual uint64_t RecordBytes() const = 0;
    // The hostile-names fault is played by the older generation only.
    virtual bool PlaysHostileNames() const = 0;
};

}  // namespace devsim
