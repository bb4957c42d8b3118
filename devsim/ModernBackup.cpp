#include "devsim/ModernBackup.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "devsim/BackupCipher.h"
#include "devsim/BackupService.h"
#include "devsim/BackupSession.h"
#include "devsim/DeviceState.h"
#include "devsim/Generation.h"
#include "devsim/ManifestDb.h"
#include "devsim/Phone.h"
#include "platform/Files.h"
#include "platform/Sha1.h"
#include "platform/Time.h"

namespace devsim {
namespace {

constexpr size_t kBatchFiles = 256;
constexpr uint64_t kBatchBytes = 16u << 20;
constexpr uint8_t kManifestClass = 4;

bool IsHex(const std::string& s, size_t size) {
    return s.size() == size && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class MemorySource : public FileSource {
  public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    long Next(char* buffer, size_t capacity) override {
        const size_t n = std::min(capacity, bytes_.size() - pos_);
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return static_cast<long>(n);
    }

  private:
    const std::string& bytes_;
    size_t pos_ = 0;
};

}  // namespace

bool ModernManifest(const BackupContents& contents, const std::vector<bool>& stored,
                    BackupCipher* cipher, bool encryptManifest, std::string& bytes,
                    std::string& manifestKey, std::string& error) {
    std::vector<MbdbRecord> records;
    std::map<std::string, MbdbRecord> domains;
    const std::vector<BackupItem>& items = contents.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        const MbdbRecord& r = items[i].record;
        if (domains.count(r.domain) == 0) {
            MbdbRecord d;
            d.domain = r.domain;
            d.mode = 0x41ED;
            d.inode = r.inode ^ 0x5A5A;
            d.modified = d.accessed = d.created = r.modified;
            domains.emplace(r.domain, d);
        }
        if (items[i].entry.isFolder || (i < stored.size() && stored[i])) {
            records.push_back(r);
        }
    }
    for (auto& [name, record] : domains) {
        records.push_back(record);
    }
    std::string plain = WriteManifestDb(records, error);
    if (plain.empty()) {
        return false;
    }
    manifestKey.clear();
    if (cipher == nullptr || !encryptManifest) {
        bytes = std::move(plain);
        return true;
    }
    std::unique_ptr<FileSource> source =
        cipher->Encrypting(std::make_unique<MemorySource>(plain), kManifestClass);
    bytes.clear();
    std::vector<char> buffer(256 * 1024);
    long n = 0;
    while ((n = source->Next(buffer.data(), buffer.size())) > 0) {
        bytes.append(buffer.data(), static_cast<size_t>(n));
    }
    manifestKey = cipher->RecordKey(*source);
    if (manifestKey.size() != 44) {
        error = "cannot wrap the manifest key";
        return false;
    }
    return true;
}

PlistPtr ModernManifestPlist(const BackupContents& contents, int64_t now,
                             const std::string& manifestKey) {
    PlistPtr d = contents.ManifestPlist(now);
    plist_t apps = plist_dict_get_item(d.get(), "Applications");
    Random r(platform::Sha1Of(std::to_string(now)).front());
    if (apps != nullptr) {
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(apps, &it);
        for (;;) {
            char* key = nullptr;
            plist_t app = nullptr;
            plist_dict_next_item(apps, it, &key, &app);
            if (key == nullptr) {
                break;
            }
            const std::string path = "/private/var/containers/Bundle/Application/" + r.Uuid() +
                                     "/" + std::string(key) + ".app";
            plist_dict_set_item(app, "Path", plist_new_string(path.c_str()));
            std::free(key);
        }
        std::free(it);
    }
    if (!manifestKey.empty()) {
        plist_dict_set_item(d.get(), "ManifestKey", NewData(manifestKey));
    }
    plist_dict_set_item(d.get(), "SystemDomainsVersion", plist_new_string("24.0"));
    plist_dict_set_item(d.get(), "Version", plist_new_string("10.0"));
    plist_dict_set_item(d.get(), "WasPasscodeSet", plist_new_bool(1));
    return d;
}

PlistPtr ModernStatusPlist(const BackupContents& contents, int64_t now, bool finished) {
    PlistPtr d = contents.StatusPlist(now, finished);
    plist_dict_set_item(d.get(), "Version", plist_new_string("3.3"));
    return d;
}

uint32_t DoubleRoundsOf(const DeviceState& state) {
    PlistPtr root = LoadPlistFile(state.Dir() + "/device.plist");
    const uint64_t rounds = DictUint(root.get(), kDoubleRoundsKey).value_or(kPhoneDoubleRounds);
    return static_cast<uint32_t>(std::clamp<uint64_t>(rounds, 1, kMaxIterations));
}

std::unique_ptr<BackupCipher> CipherForPhone(const DeviceState& state, const std::string& password,
                                             Random& random) {
    const std::string version = state.ValueString("ProductVersion");
    if (!UsesDoubleKeyDerivation(version)) {
        return BackupCipher::Create(password, random);
    }
    return BackupCipher::CreateModern(password, random, DoubleRoundsOf(state));
}

ModernBackupSession::ModernBackupSession(Phone& phone, DeviceLink& link)
    : phone_(phone), link_(link), udid_(phone.State().Udid()), random_(phone.State().Seed()) {}

ModernBackupSession::~ModernBackupSession() = default;

double ModernBackupSession::Progress() const {
    return 1.0 + 89.0 * static_cast<double>(done_) / static_cast<double>(total_);
}

void ModernBackupSession::Finish(uint64_t code, const std::string& description) {
    phone_.Events().Append("backup finished " + std::to_string(code));
    SendOutcome(link_, code, description);
}

bool ModernBackupSession::CreateFolder(const std::string& path) {
    link_.Send(dl::WithString("DLMessageCreateDirectory", path).get());
    return link_.ReceiveStatus().code == 0;
}

std::set<std::string> ModernBackupSession::Listing(const std::string& path) {
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

bool ModernBackupSession::UploadBatch(const std::vector<size_t>& items) {
    link_.Send(dl::UploadFiles(Progress()).get());
    for (size_t i : items) {
        BackupItem& item = contents_->Items()[i];
        std::unique_ptr<FileSource> source = contents_->Open(i);
        const uint64_t sent =
            link_.SendFile(DevicePathOf(item.entry.domain, item.entry.path),
                           udid_ + "/Snapshot/" + PrefixedName(item.name), *source);
        contents_->Complete(i, *source);
        stored_[i] = !item.record.digest.empty();
        done_ += sent;
    }
    link_.SendEndOfList();
    return link_.ReceiveStatus().code == 0;
}

bool ModernBackupSession::UploadBytes(const std::vector<std::pair<std::string, std::string>>& files,
                                      double progress) {
    link_.Send(dl::UploadFiles(progress).get());
    for (const auto& [name, contents] : files) {
        link_.SendFileBytes("/var/mobile/Library/Backup/" + platform::BaseName(name), name,
                            contents);
    }
    link_.SendEndOfList();
    return link_.ReceiveStatus().code == 0;
}

void ModernBackupSession::Run(plist_t /*request*/) {
    phone_.Events().Append("backup started");
    const std::optional<std::string> password = phone_.State().BackupPassword();
    if (password) {
        cipher_ = CipherForPhone(phone_.State(), *password, random_);
    }
    contents_ = std::make_unique<BackupContents>(phone_.State(), cipher_.get());
    std::vector<BackupItem>& items = contents_->Items();
    stored_.assign(items.size(), false);
    total_ = std::max<uint64_t>(1, contents_->StoredBytes() + items.size() * 400 + 64 * 1024);
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

    // 2. The backup folder and what an earlier backup left in it, prefix folders included.
    CreateFolder(udid_);
    const std::set<std::string> top = Listing(udid_);
    std::set<std::string> previous;  // "xx/<fileID>", or a flat name of the older layout
    for (const std::string& name : top) {
        if (IsHex(name, 2)) {
            for (const std::string& inner : Listing(udid_ + "/" + name)) {
                if (IsHex(inner, 40) && inner.compare(0, 2, name) == 0) {
                    previous.insert(name + "/" + inner);
                }
            }
        } else if (IsHex(name, 40) || name == "Manifest.mbdb") {
            previous.insert(name);
        }
    }

    // 3. An earlier backup's state.
    if (top.count("Status.plist") != 0) {
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

    // 4. A backup in the making.
    const int64_t now = platform::UnixNow();
    if (!UploadBytes(
            {{udid_ + "/Status.plist", ToXml(ModernStatusPlist(*contents_, now, false).get())}},
            Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }

    // 5-6. The staging folder, its prefix folders, every file in batches.
    CreateFolder(snapshot);
    std::set<std::string> prefixes;
    size_t fileCount = 0;
    for (const BackupItem& i : items) {
        if (!i.entry.isFolder) {
            prefixes.insert(i.name.substr(0, 2));
            ++fileCount;
        }
    }
    for (const std::string& p : prefixes) {
        CreateFolder(snapshot + "/" + p);
    }
    const Faults& faults = phone_.GetFaults();
    size_t filesSent = 0;
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

    std::string manifestDb;
    std::string manifestKey;
    std::string error;
    if (!ModernManifest(*contents_, stored_, cipher_.get(),
                        UsesDoubleKeyDerivation(phone_.State().ValueString("ProductVersion")),
                        manifestDb, manifestKey, error)) {
        Finish(kPhoneComputerRefused, "The phone could not write Manifest.db: " + error);
        return;
    }
    const std::string manifest = ToXml(ModernManifestPlist(*contents_, now, manifestKey).get());
    if (!UploadBytes(
            {{snapshot + "/Manifest.db", manifestDb}, {snapshot + "/Manifest.plist", manifest}},
            Progress())) {
        Finish(kPhoneComputerRefused, "The computer did not accept the manifests");
        return;
    }

    // 7. Into place.
    for (const std::string& p : prefixes) {
        CreateFolder(udid_ + "/" + p);
    }
    std::vector<std::pair<std::string, std::string>> moves;
    std::set<std::string> current;
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].entry.isFolder && stored_[i]) {
            const std::string name = PrefixedName(items[i].name);
            moves.emplace_back(snapshot + "/" + name, udid_ + "/" + name);
            current.insert(name);
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
                             {{snapshot + "/Manifest.db", udid_ + "/Manifest.db"},
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
    for (const std::string& name : previous) {
        if (current.count(name) == 0) {
            stale.push_back(udid_ + "/" + name);
        }
    }
    link_.Send(dl::RemoveFiles("DLMessageRemoveFiles", stale, 96.0).get());
    link_.ReceiveStatus();

    // 9. Finished, and the staging folder goes with all that is left in it.
    if (!UploadBytes(
            {{snapshot + "/Status.plist", ToXml(ModernStatusPlist(*contents_, now, true).get())}},
            97.0)) {
        Finish(kPhoneComputerRefused, "The computer did not accept Status.plist");
        return;
    }
    link_.Send(dl::CopyItem(snapshot + "/Status.plist", udid_ + "/Status.plist").get());
    link_.ReceiveStatus();
    link_.Send(dl::RemoveFiles("DLMessageRemoveItems", {snapshot}, 99.0).get());
    link_.ReceiveStatus();

    phone_.Events().Append("backup files " + std::to_string(current.size()));
    Finish(kPhoneOk, "");
}

}  // namespace devsim
