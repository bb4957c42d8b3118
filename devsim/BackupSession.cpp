#include "devsim/BackupSession.h"

#include <algorithm>

#include "devsim/BackupCipher.h"
#include "devsim/BackupService.h"
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

}  // namespace dl

namespace {

constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 16u << 20;

bool IsHashedName(const std::string& name) {
    return name.size() == 40 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

BackupSession::BackupSession(Phone& phone, DeviceLink& link)
    : phone_(phone), link_(link), udid_(phone.State().Udid()), random_(phone.State().Seed()) {}

BackupSession::~BackupSession() = default;

double BackupSession::Progress() const {
    // 1 to 90 while the files go out; the remaining steps add small amounts.
    return 1.0 + 89.0 * static_cast<double>(done_) / static_cast<double>(total_);
}

void BackupSession::Finish(uint64_t code, const std::string& description) {
    phone_.Events().Append("backup finished " + std::to_string(code));
    SendOutcome(link_, code, description);
}

bool BackupSession::UploadBatch(const std::vector<size_t>& items) {
    link_.Send(dl::UploadFiles(Progress()).get());
    for (size_t i : items) {
        BackupItem& item = contents_->Items()[i];
        std::unique_ptr<FileSource> source = contents_->Open(i);
        const uint64_t sent = link_.SendFile(DevicePathOf(item.entry.domain, item.entry.path),
                                             udid_ + "/Snapshot/" + item.name, *source);
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

void BackupSession::Run(plist_t /*request*/) {
    phone_.Events().Append("backup started");
    const std::optional<std::string> password = phone_.State().BackupPassword();
    if (password) {
        cipher_ = BackupCipher::Create(*password, random_);
    }
    contents_ = std::make_unique<BackupContents>(phone_.State(), cipher_.get());
    std::vector<BackupItem>& items = contents_->Items();
    stored_.assign(items.size(), false);
    // Room for the files, the two manifests and Status.plist.
    total_ = std::max<uint64_t>(1, contents_->StoredBytes() + items.size() * 200 + 64 * 1024);
    const std::string snapshot = udid_ + "/Snapshot";

    // 1. Room on the computer.
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

    // 2. The backup folder and what a previous backup left in it.
    link_.Send(dl::WithString("DLMessageCreateDirectory", udid_).get());
    link_.ReceiveStatus();
    link_.Send(dl::WithString("DLContentsOfDirectory", udid_).get());
    DeviceLink::Status listing = link_.ReceiveStatus();
    std::set<std::string> previous;
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
            previous.insert(key);
            std::free(key);
        }
        std::free(it);
    }

    // 3. A previous backup's state, as a phone checks before it builds on a folder.
    if (previous.count("Status.plist") != 0) {
        std::string bytes;
        link_.Send(dl::DownloadFiles({udid_ + "/Status.plist"}, 0.5).get());
        link_.ReceiveFiles([&bytes](const std::string&) -> DeviceLink::Sink {
            return [&bytes](const char* data, size_t size) {
                if (bytes.size() < (1u << 20)) {
                    bytes.append(data, size);
                }
            };
        });
        link_.ReceiveStatus();
        PlistPtr status = ParsePlist(bytes);
        phone_.Events().Append("backup previous " +
                               DictString(status.get(), "SnapshotState").value_or("unreadable"));
    }

    // 4. From now on the folder holds a backup in the making.
    const int64_t now = platform::UnixNow();
    if (!UploadBytes({{udid_ + "/Status.plist", ToXml(contents_->StatusPlist(now, false).get())}},
                     Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }

    // 5. The staging folder.
    link_.Send(dl::WithString("DLMessageCreateDirectory", snapshot).get());
    link_.ReceiveStatus();

    // 6. Every file, in batches.
    const Faults& faults = phone_.GetFaults();
    size_t filesSent = 0;
    size_t fileCount = 0;
    for (const BackupItem& i : items) {
        fileCount += i.entry.isFolder ? 0 : 1;
    }
    std::vector<size_t> batch;
    uint64_t batchBytes = 0;
    for (size_t i = 0; i <= items.size(); ++i) {
        const bool last = i == items.size();
        if (!last && !items[i].entry.isFolder) {
            batch.push_back(i);
            batchBytes += items[i].entry.size;
        }
        if (!batch.empty() && (last || batch.size() >= kBatchFiles || batchBytes >= kBatchBytes ||
                               (faults.failBackup && filesSent + batch.size() >= fileCount / 2))) {
            if (!UploadBatch(batch)) {
                Finish(kPhoneComputerRefused, "The computer did not accept the backup's files");
                return;
            }
            filesSent += batch.size();
            batch.clear();
            batchBytes = 0;
            if (faults.failBackup && filesSent >= fileCount / 2) {
                Finish(faults.failBackup->code, faults.failBackup->description);
                return;
            }
        }
    }
    if (faults.hostileNames) {
        Hostile();
    }

    // The manifest describes only the files that reached the staging folder whole.
    const std::string mbdb = contents_->ManifestMbdb(stored_);
    const std::string manifest = ToXml(contents_->ManifestPlist(now).get());
    if (!UploadBytes(
            {{snapshot + "/Manifest.mbdb", mbdb}, {snapshot + "/Manifest.plist", manifest}},
            Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept the manifests");
        return;
    }

    // 7. Into place: the files, then the manifests.
    std::vector<std::pair<std::string, std::string>> moves;
    std::set<std::string> current;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].entry.isFolder && stored_[i]) {
            moves.emplace_back(snapshot + "/" + items[i].name, udid_ + "/" + items[i].name);
            current.insert(items[i].name);
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
                             {{snapshot + "/Manifest.mbdb", udid_ + "/Manifest.mbdb"},
                              {snapshot + "/Manifest.plist", udid_ + "/Manifest.plist"}},
                             94.0)
                   .get());
    DeviceLink::Status movedManifests = link_.ReceiveStatus();
    if (movedManifests.code != 0) {
        Finish(kPhoneComputerRefused,
               "Moving the manifests into place failed: " + movedManifests.text);
        return;
    }

    // 8. What the previous backup had and the phone no longer has.
    std::vector<std::string> stale;
    for (const std::string& name : previous) {
        if (IsHashedName(name) && current.count(name) == 0) {
            stale.push_back(udid_ + "/" + name);
        }
    }
    link_.Send(dl::RemoveFiles("DLMessageRemoveFiles", stale, 96.0).get());
    link_.ReceiveStatus();  // a file that is already gone is no reason to fail

    // 9. Finished: the last thing to land.
    if (!UploadBytes({{snapshot + "/Status.plist", ToXml(contents_->StatusPlist(now, true).get())}},
                     97.0)) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }
    link_.Send(dl::CopyItem(snapshot + "/Status.plist", udid_ + "/Status.plist").get());
    link_.ReceiveStatus();

    // 10. The staging folder goes.
    link_.Send(dl::RemoveFiles("DLMessageRemoveItems", {snapshot + "/Status.plist", snapshot}, 99.0)
                   .get());
    link_.ReceiveStatus();

    phone_.Events().Append("backup files " + std::to_string(current.size()));
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
