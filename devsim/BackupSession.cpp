#include "devsim/BackupSession.h"

#include <algorithm>
#include <atomic>

#include "devsim/BackupCipher.h"
#include "devsim/BackupService.h"
#include "devsim/FileChanges.h"
#include "devsim/Phone.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace devsim {

namespace dl {

PlistPtr Message(const char* name) {
    PlistPtr m(plist_new_array());
    plist_array_append_item(m.get(), plist_new_string(name));
    return m;
}

PlistPtr WithString(const char* name, const std::string& value) {
    PlistPtr m = Message(name);
    plist_array_append_item(m.get(), plist_new_string(value.c_str()));
    return m;
}

PlistPtr UploadFiles(double progress) {
    PlistPtr m = Message("DLMessageUploadFiles");
    plist_array_append_item(m.get(), plist_new_dict());
    plist_array_append_item(m.get(), plist_new_real(progress));
    plist_array_append_item(m.get(), plist_new_dict());
    return m;
}

PlistPtr DownloadFiles(const std::vector<std::string>& names, double progress) {
    PlistPtr m = Message("DLMessageDownloadFiles");
    plist_t list = plist_new_array();
    for (const std::string& n : names) {
        plist_array_append_item(list, plist_new_string(n.c_str()));
    }
    plist_array_append_item(m.get(), list);
    plist_array_append_item(m.get(), plist_new_dict());
    plist_array_append_item(m.get(), plist_new_real(progress));
    return m;
}

PlistPtr MoveFiles(const char* name, const std::vector<std::pair<std::string, std::string>>& moves,
                   double progress) {
    PlistPtr m = Message(name);
    plist_t dict = plist_new_dict();
    for (const auto& [from, to] : moves) {
        plist_dict_set_item(dict, from.c_str(), plist_new_string(to.c_str()));
    }
    plist_array_append_item(m.get(), dict);
    plist_array_append_item(m.get(), plist_new_dict());
    plist_array_append_item(m.get(), plist_new_real(progress));
    return m;
}

PlistPtr RemoveFiles(const char* name, const std::vector<std::string>& paths, double progress) {
    PlistPtr m = Message(name);
    plist_t list = plist_new_array();
    for (const std::string& p : paths) {
        plist_array_append_item(list, plist_new_string(p.c_str()));
    }
    plist_array_append_item(m.get(), list);
    plist_array_append_item(m.get(), plist_new_dict());
    plist_array_append_item(m.get(), plist_new_real(progress));
    return m;
}

PlistPtr CopyItem(const std::string& source, const std::string& destination) {
    PlistPtr m = Message("DLMessageCopyItem");
    plist_array_append_item(m.get(), plist_new_string(source.c_str()));
    plist_array_append_item(m.get(), plist_new_string(destination.c_str()));
    plist_array_append_item(m.get(), plist_new_dict());
    return m;
}

bool FetchWhole(DeviceLink& link, const std::string& name, double progress, std::string& bytes,
                std::string& problem) {
    link.Send(dl::DownloadFiles({name}, progress).get());
    bool tooLarge = false;
    const std::vector<DeviceLink::Incoming> got =
        link.ReceiveFiles([&](const std::string&) -> DeviceLink::Sink {
            return [&](const char* data, size_t size) {
                if (bytes.size() + size > (512u << 20)) {
                    tooLarge = true;
                } else {
                    bytes.append(data, size);
                }
            };
        });
    link.ReceiveStatus();
    if (got.empty() || !got.front().ok) {
        problem = got.empty() ? "nothing came" : got.front().errorText;
        return false;
    }
    if (tooLarge) {
        problem = "too large";
        return false;
    }
    return true;
}

}  // namespace dl

namespace {

constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 16u << 20;

}  // namespace

BackupSession::BackupSession(Phone& phone, DeviceLink& link)
    : phone_(phone),
      link_(link),
      udid_(phone.State().Udid()),
      random_(phone.State().Seed()),
      layout_(BackupLayout::ForPhone(phone.State())) {}

BackupSession::~BackupSession() = default;

double BackupSession::Progress() const {
    // 1 to 90 while the files go out; the remaining steps add small amounts.
    return 1.0 + 89.0 * static_cast<double>(done_) / static_cast<double>(total_);
}

void BackupSession::Finish(uint64_t code, const std::string& description) {
    phone_.Events().Append("backup finished " + std::to_string(code));
    SendOutcome(link_, code, description);
}

bool BackupSession::CreateFolder(const std::string& path) {
    link_.Send(dl::WithString("DLMessageCreateDirectory", path).get());
    return link_.ReceiveStatus().code == 0;
}

std::set<std::string> BackupSession::Listing(const std::string& path) {
    link_.Send(dl::WithString("DLContentsOfDirectory", path).get());
    DeviceLink::Status listing = link_.ReceiveStatus();
    std::set<std::string> names;
    if (listing.detail && plist_get_node_type(listing.detail.get()) == PLIST_DICT) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(listing.detail.get(), &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(listing.detail.get(), it, &key, &value);
            if (key == nullptr) {
                break;
            }
            names.insert(key);
            std::free(key);
        }
        std::free(it);
    }
    return names;
}

bool BackupSession::UploadBatch(const std::vector<size_t>& items) {
    link_.Send(dl::UploadFiles(Progress()).get());
    for (size_t i : items) {
        BackupItem& item = contents_->Items()[i];
        std::unique_ptr<FileSource> source = contents_->Open(i);
        const uint64_t sent =
            link_.SendFile(DevicePathOf(item.entry.domain, item.entry.path),
                           udid_ + "/Snapshot/" + layout_->StoredName(item.name), *source);
        contents_->Complete(i, *source);
        stored_[i] = !item.record.digest.empty();
        done_ += sent;
    }
    link_.SendEndOfList();
    return link_.ReceiveStatus().code == 0;
}

bool BackupSession::UploadBytes(const std::vector<std::pair<std::string, std::string>>& files,
                                double progress) {
    link_.Send(dl::UploadFiles(progress).get());
    for (const auto& [name, contents] : files) {
        link_.SendFileBytes("/var/mobile/Library/Backup/" + platform::BaseName(name), name,
                            contents);
    }
    link_.SendEndOfList();
    return link_.ReceiveStatus().code == 0;
}

BackupSession::EarlierRecords BackupSession::ReadEarlier() {
    EarlierRecords earlier;
    std::string plistBytes;
    std::string problem;
    if (!dl::FetchWhole(link_, udid_ + "/Manifest.plist", 0.5, plistBytes, problem)) {
        phone_.Events().Append("backup earlier unreadable Manifest.plist");
        return earlier;
    }
    PlistPtr manifest = ParsePlist(plistBytes);
    const bool encrypted = DictBool(manifest.get(), "IsEncrypted").value_or(false);
    const std::optional<std::string> keybag = DictData(manifest.get(), "BackupKeyBag");
    // File keys carry over only under the same keybag; a plain backup does not become an
    // encrypted one file by file, nor the other way round.
    if (encrypted != (cipher_ != nullptr) ||
        (cipher_ != nullptr && (!keybag || *keybag != cipher_->Keybag()))) {
        phone_.Events().Append("backup earlier other-encryption");
        return earlier;
    }
    std::string bytes;
    std::vector<MbdbRecord> records;
    if (!dl::FetchWhole(link_, udid_ + "/" + layout_->ManifestName(), 0.6, bytes, problem) ||
        !layout_->ReadManifest(std::move(bytes), manifest.get(), cipher_.get(), records, problem)) {
        phone_.Events().Append(std::string("backup earlier unreadable ") + layout_->ManifestName());
        return earlier;
    }
    for (MbdbRecord& r : records) {
        if (r.IsFile() && !r.path.empty()) {
            std::pair<std::string, std::string> key(r.domain, r.path);
            earlier.emplace(std::move(key), std::move(r));
        }
    }
    return earlier;
}

void BackupSession::KeepUnchanged(const EarlierRecords& earlier,
                                  const std::set<std::string>& earlierFiles) {
    std::vector<BackupItem>& items = contents_->Items();
    for (size_t i = 0; i < items.size(); ++i) {
        MbdbRecord& m = items[i].record;
        if (items[i].entry.isFolder) {
            continue;
        }
        auto it = earlier.find({m.domain, m.path});
        if (it == earlier.end() || earlierFiles.count(layout_->StoredName(items[i].name)) == 0) {
            continue;
        }
        const MbdbRecord& r = it->second;
        const bool sameFile = r.size == m.size && r.modified == m.modified && r.inode == m.inode &&
                              r.mode == m.mode && r.protectionClass == m.protectionClass &&
                              r.digest.size() == 20;
        const bool sameKeys =
            cipher_ != nullptr ? r.encryptionKey.size() == 44 : r.encryptionKey.empty();
        if (!sameFile || !sameKeys) {
            continue;
        }
        m.digest = r.digest;
        m.encryptionKey = r.encryptionKey;
        m.properties = r.properties;
        stored_[i] = true;
        kept_[i] = true;
    }
}

void BackupSession::Run(plist_t /*request*/) {
    phone_.Events().Append("backup started");
    const std::optional<std::string> password = phone_.State().BackupPassword();
    if (password) {
        cipher_ = layout_->Cipher(phone_.State(), *password, random_);
    }
    contents_ = std::make_unique<BackupContents>(phone_.State(), cipher_.get());
    std::vector<BackupItem>& items = contents_->Items();
    stored_.assign(items.size(), false);
    kept_.assign(items.size(), false);
    const std::string snapshot = udid_ + "/Snapshot";

    // 1. The backup folder and what an earlier backup left in it.
    CreateFolder(udid_);
    const std::set<std::string> top = Listing(udid_);
    const std::set<std::string> earlierFiles = layout_->EarlierFiles(
        top, [this](const std::string& name) { return Listing(udid_ + "/" + name); });

    // 2. An earlier backup's state; a finished one is built on.
    if (top.count("Status.plist") != 0) {
        std::string bytes;
        std::string problem;
        dl::FetchWhole(link_, udid_ + "/Status.plist", 0.5, bytes, problem);
        PlistPtr status = ParsePlist(bytes);
        const std::string state = DictString(status.get(), "SnapshotState").value_or("unreadable");
        phone_.Events().Append("backup previous " + state);
        if (state == "finished" && top.count("Manifest.plist") != 0 &&
            top.count(layout_->ManifestName()) != 0) {
            KeepUnchanged(ReadEarlier(), earlierFiles);
        }
    }
    std::vector<size_t> toSend;
    uint64_t sendBytes = 0;
    size_t fileCount = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].entry.isFolder) {
            ++fileCount;
            if (!kept_[i]) {
                toSend.push_back(i);
                sendBytes +=
                    cipher_ != nullptr ? (items[i].entry.size / 16 + 1) * 16 : items[i].entry.size;
            }
        }
    }
    // Room for what is sent, the manifests and Status.plist.
    total_ = std::max<uint64_t>(1, sendBytes + items.size() * layout_->RecordBytes() + 64 * 1024);

    // 3. Room on the computer.
    link_.Send(dl::WithString("DLMessageGetFreeDiskSpace", udid_).get());
    DeviceLink::Status space = link_.ReceiveStatus();
    uint64_t freeBytes = 0;
    if (space.detail && plist_get_node_type(space.detail.get()) == PLIST_UINT) {
        plist_get_uint_val(space.detail.get(), &freeBytes);
    }
    if (space.code != 0) {
        Finish(kPhoneComputerRefused, "Could not get the free disk space of the computer");
        return;
    }
    if (freeBytes < total_) {
        Finish(kPhoneNotEnoughSpace,
               "Not enough free disk space on the computer: " + std::to_string(total_) +
                   " bytes needed, " + std::to_string(freeBytes) + " available");
        return;
    }

    // 4. From now on the folder holds a backup in the making.
    const int64_t now = platform::UnixNow();
    if (!UploadBytes(
            {{udid_ + "/Status.plist", ToXml(layout_->StatusPlist(*contents_, now, false).get())}},
            Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }

    // 5. The staging folder and the folders of what is sent.
    CreateFolder(snapshot);
    std::vector<std::string> sentNames;
    for (size_t i : toSend) {
        sentNames.push_back(items[i].name);
    }
    for (const std::string& folder : layout_->Folders(sentNames)) {
        CreateFolder(snapshot + "/" + folder);
    }

    // 6. The new and changed files, in batches.
    const Faults& faults = phone_.GetFaults();
    size_t filesSent = 0;
    uint64_t bytesSent = 0;
    std::vector<size_t> batch;
    uint64_t batchBytes = 0;
    for (size_t k = 0; k <= toSend.size(); ++k) {
        const bool last = k == toSend.size();
        if (!last) {
            batch.push_back(toSend[k]);
            batchBytes += items[toSend[k]].entry.size;
        }
        if (!batch.empty() &&
            (last || batch.size() >= kBatchFiles || batchBytes >= kBatchBytes ||
             (faults.failBackup && filesSent + batch.size() >= toSend.size() / 2))) {
            if (!UploadBatch(batch)) {
                Finish(kPhoneComputerRefused, "The computer did not accept the backup's files");
                return;
            }
            filesSent += batch.size();
            bytesSent += batchBytes;
            batch.clear();
            batchBytes = 0;
            if (faults.failBackup && filesSent >= toSend.size() / 2) {
                Finish(faults.failBackup->code, faults.failBackup->description);
                return;
            }
        }
    }
    if (faults.failBackup) {
        // Nothing new to send (a repeat backup of an unchanged phone): the backup fails all the
        // same, once its files have been looked at.
        Finish(faults.failBackup->code, faults.failBackup->description);
        return;
    }
    phone_.Events().Append("backup sent " + std::to_string(filesSent) + " " +
                           std::to_string(bytesSent) + " kept " +
                           std::to_string(fileCount - toSend.size()));
    if (faults.hostileNames && layout_->PlaysHostileNames()) {
        Hostile();
    }

    // The manifest describes only the files that are whole in the backup.
    std::string manifestBytes;
    std::string manifestKey;
    std::string error;
    if (!layout_->WriteManifest(*contents_, stored_, cipher_.get(), manifestBytes, manifestKey,
                                error)) {
        Finish(kPhoneComputerRefused,
               std::string("The phone could not write ") + layout_->ManifestName() + ": " + error);
        return;
    }
    const std::string manifestName = layout_->ManifestName();
    const std::string manifest = ToXml(layout_->ManifestPlist(*contents_, now, manifestKey).get());
    if (!UploadBytes({{snapshot + "/" + manifestName, manifestBytes},
                      {snapshot + "/Manifest.plist", manifest}},
                     Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept the manifests");
        return;
    }

    // 7. Into place: the files, then the manifests.
    std::vector<std::string> allNames;
    std::vector<std::pair<std::string, std::string>> moves;
    std::set<std::string> current;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].entry.isFolder && stored_[i]) {
            const std::string name = layout_->StoredName(items[i].name);
            allNames.push_back(items[i].name);
            current.insert(name);
            if (!kept_[i]) {
                moves.emplace_back(snapshot + "/" + name, udid_ + "/" + name);
            }
        }
    }
    for (const std::string& folder : layout_->Folders(allNames)) {
        if (top.count(folder) == 0) {
            CreateFolder(udid_ + "/" + folder);
        }
    }
    size_t start = 0;
    do {
        const std::vector<std::pair<std::string, std::string>> part(
            moves.begin() + static_cast<long>(start),
            moves.begin() + static_cast<long>(std::min(moves.size(), start + 1000)));
        link_.Send(dl::MoveFiles("DLMessageMoveFiles", part, 91.0).get());
        const DeviceLink::Status moved = link_.ReceiveStatus();
        if (moved.code != 0) {
            Finish(kPhoneComputerRefused,
                   "Moving the backup's files into place failed: " + moved.text);
            return;
        }
        start += 1000;
    } while (start < moves.size());
    link_.Send(dl::MoveFiles("DLMessageMoveItems",
                             {{snapshot + "/" + manifestName, udid_ + "/" + manifestName},
                              {snapshot + "/Manifest.plist", udid_ + "/Manifest.plist"}},
                             94.0)
                   .get());
    const DeviceLink::Status movedManifests = link_.ReceiveStatus();
    if (movedManifests.code != 0) {
        Finish(kPhoneComputerRefused,
               "Moving the manifests into place failed: " + movedManifests.text);
        return;
    }

    // 8. What the earlier backup had and this one has not.
    std::vector<std::string> stale;
    for (const std::string& name : earlierFiles) {
        if (current.count(name) == 0) {
            stale.push_back(udid_ + "/" + name);
        }
    }
    link_.Send(dl::RemoveFiles("DLMessageRemoveFiles", stale, 96.0).get());
    link_.ReceiveStatus();  // a file that is already gone is no reason to fail

    // 9. Finished: the last thing to land.
    if (!UploadBytes({{snapshot + "/Status.plist",
                       ToXml(layout_->StatusPlist(*contents_, now, true).get())}},
                     97.0)) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }
    link_.Send(dl::CopyItem(snapshot + "/Status.plist", udid_ + "/Status.plist").get());
    link_.ReceiveStatus();

    // 10. The staging folder goes.
    link_.Send(
        dl::RemoveFiles("DLMessageRemoveItems", layout_->StagingRemoval(snapshot), 99.0).get());
    link_.ReceiveStatus();

    phone_.Events().Append("backup files " + std::to_string(current.size()));
    if (faults.changeShare > 0) {
        // The user goes on using the phone until the next backup (before the outcome goes out,
        // so that a computer that starts the next backup at once finds the phone changed).
        static std::atomic<uint64_t> rounds{0};
        FileChangeCounts counts;
        std::string problem;
        const uint64_t round = static_cast<uint64_t>(platform::UnixNow()) * 131 + ++rounds;
        if (ChangeFiles(phone_.State().FilesRoot(), faults.changeShare, round, counts, problem)) {
            phone_.Events().Append("changed " + std::to_string(counts.changed) + " added " +
                                   std::to_string(counts.added) + " removed " +
                                   std::to_string(counts.removed));
        } else {
            phone_.Events().Append("changed failed " + problem);
        }
    }
    Finish(kPhoneOk, "");
}

void BackupSession::Hostile() {
    // Names that try to leave the backup folder, or that no file system can hold. A careful
    // computer refuses them; the phone notes what it answered and carries on.
    const std::string victim = udid_ + "/Snapshot/hostile-victim";
    std::string deepPath = udid_ + "/";
    while (deepPath.size() < 4080) {
        deepPath += "d/";
    }
    deepPath += "x";
    const std::vector<std::pair<std::string, std::string>> uploads = {
        {victim, "victim"},
        {"../escaped-upload", "escaped"},
        {udid_ + "/../../escaped-upload-2", "escaped"},
        {"/tmp/tolvane-devsim-hostile-" + udid_, "escaped"},
        {udid_ + "/Snapshot/" + std::string(300, 'n'), "too long a name"},
        {deepPath, "too long a path"}};
    const bool accepted = UploadBytes(uploads, Progress());
    phone_.Events().Append(std::string("hostile upload ") + (accepted ? "0" : "refused"));

    auto note = [this](const std::string& what) {
        const DeviceLink::Status s = link_.ReceiveStatus();
        phone_.Events().Append("hostile " + what + " " + std::to_string(s.code));
    };
    link_.Send(dl::WithString("DLMessageCreateDirectory", "../escaped-dir").get());
    note("mkdir");
    link_.Send(
        dl::MoveFiles("DLMessageMoveFiles", {{victim, "../escaped-move"}}, Progress()).get());
    note("move");
    link_.Send(dl::CopyItem(victim, "../escaped-copy").get());
    note("copy");
    link_.Send(
        dl::RemoveFiles("DLMessageRemoveFiles", {"../tolvane-hostile-victim"}, Progress()).get());
    note("remove");
    link_.Send(dl::WithString("DLContentsOfDirectory", "..").get());
    {
        const DeviceLink::Status s = link_.ReceiveStatus();
        const uint32_t entries = s.detail && plist_get_node_type(s.detail.get()) == PLIST_DICT
                                     ? plist_dict_get_size(s.detail.get())
                                     : 0;
        phone_.Events().Append("hostile list " + std::to_string(entries));
    }
    link_.Send(dl::DownloadFiles({"../tolvane-hostile-victim"}, Progress()).get());
    const std::vector<DeviceLink::Incoming> got =
        link_.ReceiveFiles([](const std::string&) { return DeviceLink::Sink(); });
    link_.ReceiveStatus();
    const bool leaked = !got.empty() && got.front().ok;
    phone_.Events().Append("hostile download " +
                           (leaked ? std::to_string(got.front().size) : std::string("refused")));
    link_.Send(dl::RemoveFiles("DLMessageRemoveFiles", {victim}, Progress()).get());
    link_.ReceiveStatus();
}

}  // namespace devsim
