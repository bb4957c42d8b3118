// A Backup request driven from the phone's side, as a phone drives it (the differences between
// the generations are in BackupLayout.h; "<file>" below is <fileID> for the older phones and
// <xx>/<fileID> for the modern ones):
//
//   1. DLMessageCreateDirectory UDID    and DLContentsOfDirectory UDID (and, modern, each of its
//                                       two-digit folders): what an earlier backup holds
//   2. DLMessageDownloadFiles           the earlier Status.plist, when there is one; when it
//                                       says "finished", Manifest.plist and the manifest too
//   3. DLMessageGetFreeDiskSpace        refuse (105) when the computer has too little room for
//                                       what is to be sent
//   4. DLMessageUploadFiles             Status.plist with SnapshotState "new"
//   5. DLMessageCreateDirectory         UDID/Snapshot, the staging folder (and its prefix folders)
//   6. DLMessageUploadFiles ...         every new or changed file as UDID/Snapshot/<file>, in
//                                       batches, then the manifests. A file whose record in the
//                                       earlier manifest matches (size, times, inode, mode, class,
//                                       encryption) and that is still in the folder is not sent:
//                                       its record, digest and key carry over
//   7. DLMessageMoveFiles               what was sent into place; DLMessageMoveItems the manifests
//   8. DLMessageRemoveFiles             what the earlier backup had and the phone no longer has
//   9. DLMessageUploadFiles + DLMessageCopyItem   Status.plist "finished" into place
//  10. DLMessageRemoveItems             the staging folder
//  11. DLMessageProcessMessage          ErrorCode 0, or the error that stopped the backup
//
// Each message carries the progress figure where the computer expects one.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "devsim/BackupContents.h"
#include "devsim/BackupLayout.h"
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
    using EarlierRecords = std::map<std::pair<std::string, std::string>, MbdbRecord>;

    bool UploadBatch(const std::vector<size_t>& items);
    bool UploadBytes(const std::vector<std::pair<std::string, std::string>>& files,
                     double progress);
    bool CreateFolder(const std::string& path);
    std::set<std::string> Listing(const std::string& path);
    // The records of the earlier backup in the folder, by domain and path; empty when it cannot
    // be built on (unreadable, or encrypted otherwise than this backup will be).
    EarlierRecords ReadEarlier();
    // Marks the files the earlier backup holds unchanged as stored and kept.
    void KeepUnchanged(const EarlierRecords& earlier, const std::set<std::string>& earlierFiles);
    void Hostile();
    void Finish(uint64_t code, const std::string& description);
    double Progress() const;

    Phone& phone_;
    DeviceLink& link_;
    std::string udid_;
    Random random_;
    std::unique_ptr<BackupLayout> layout_;
    std::unique_ptr<BackupCipher> cipher_;
    std::unique_ptr<BackupContents> contents_;
    std::vector<bool> stored_;  // per item: its file is whole in the backup (sent, or kept)
    std::vector<bool> kept_;    // per item: its file was left where the earlier backup had it
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
// Downloads a small file (a manifest) into memory; false, with `problem` set, when the computer
// sends none, an error block, or more than 512 MB.
bool FetchWhole(DeviceLink& link, const std::string& name, double progress, std::string& bytes,
                std::string& problem);
}  // namespace dl

}  // namespace devsim
