// A Backup request driven from the phone's side, as a phone of this era drives it:
//
//   1. DLMessageGetFreeDiskSpace        refuse (105) when the computer has too little room
//   2. DLMessageCreateDirectory UDID    and DLContentsOfDirectory UDID: what a previous backup
//                                       in the same folder holds
//   3. DLMessageDownloadFiles           the previous Status.plist, when there is one
//   4. DLMessageUploadFiles             Status.plist with SnapshotState "new"
//   5. DLMessageCreateDirectory         UDID/Snapshot, the staging folder
//   6. DLMessageUploadFiles ...         every file under its hashed name into Snapshot/, in
//                                       batches, then Manifest.mbdb and Manifest.plist
//   7. DLMessageMoveFiles               the files into place; DLMessageMoveItems the manifests
//   8. DLMessageRemoveFiles             what the previous backup had and the phone no longer has
//   9. DLMessageUploadFiles + DLMessageCopyItem   Status.plist "finished" into place
//  10. DLMessageRemoveItems             the staging folder
//  11. DLMessageProcessMessage          ErrorCode 0, or the error that stopped the backup
//
// Each message carries the progress figure where the computer expects one.
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
class Phone;

class BackupSession {
  public:
    BackupSession(Phone& phone, DeviceLink& link);
    ~BackupSession();
    void Run(plist_t request);

  private:
    bool UploadBatch(const std::vector<size_t>& items);
    bool UploadBytes(const std::vector<std::pair<std::string, std::string>>& files,
                     double progress);
    void Hostile();
    void Finish(uint64_t code, const std::string& description);
    double Progress() const;

    Phone& phone_;
    DeviceLink& link_;
    std::string udid_;
    Random random_;
    std::unique_ptr<BackupCipher> cipher_;
    std::unique_ptr<BackupContents> contents_;
    std::vector<bool> stored_;  // per item: its file reached the staging folder whole
    uint64_t total_ = 1;
    uint64_t done_ = 0;
};

// Messages of the device-link protocol, built as the computer expects them.
namespace dl {
PlistPtr Message(const char* name);  // [name]
PlistPtr WithString(const char* name, const std::string& value);
PlistPtr UploadFiles(double progress);
PlistPtr DownloadFiles(const std::vector<std::string>& names, double progress);
PlistPtr MoveFiles(const char* name, const std::vector<std::pair<std::string, std::string>>& moves,
                   double progress);
PlistPtr RemoveFiles(const char* name, const std::vector<std::string>& paths, double progress);
PlistPtr CopyItem(const std::string& source, const std::string& destination);
}  // namespace dl

}  // namespace devsim
