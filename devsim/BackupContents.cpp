#include "devsim/BackupContents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "devsim/BackupCipher.h"
#include "devsim/DeviceState.h"
#include "devsim/Random.h"

namespace devsim {
namespace {

// Reads a local file and hashes what it hands out (the digest of a plain backup's record).
class PlainFileSource : public FileSource {
  public:
    explicit PlainFileSource(const TreeEntry& entry)
        : fd_(open(entry.localPath.c_str(), O_RDONLY | O_CLOEXEC)), left_(entry.size) {}
    ~PlainFileSource() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    long Next(char* buffer, size_t capacity) override {
        if (fd_ < 0) {
            return -1;
        }
        if (left_ == 0) {
            return 0;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, left_));
        const ssize_t n = pread(fd_, buffer, want, static_cast<off_t>(offset_));
        if (n <= 0) {
            return -1;  // the file shrank or cannot be read
        }
        offset_ += static_cast<uint64_t>(n);
        left_ -= static_cast<uint64_t>(n);
        return static_cast<long>(n);
    }

  private:
    int fd_;
    uint64_t offset_ = 0;
    uint64_t left_;
};

// Passes another source through and hashes what went by.
class HashingSource : public FileSource {
  public:
    explicit HashingSource(std::unique_ptr<FileSource> inner) : inner_(std::move(inner)) {}
    long Next(char* buffer, size_t capacity) override {
        const long n = inner_->Next(buffer, capacity);
        if (n > 0) {
            sha_.Update(buffer, static_cast<size_t>(n));
        } else if (n == 0 && !done_) {
            digest_ = sha_.Final();
            done_ = true;
        } else if (n < 0) {
            failed_ = true;
        }
        return n;
    }
    bool Done() const { return done_ && !failed_; }
    const platform::Sha1Digest& Digest() const { return digest_; }
    FileSource& Inner() { return *inner_; }

  private:
    std::unique_ptr<FileSource> inner_;
    platform::Sha1 sha_;
    platform::Sha1Digest digest_{};
    bool done_ = false;
    bool failed_ = false;
};

uint64_t InodeOf(const std::string& domain, const std::string& path) {
    const platform::Sha1Digest d = platform::Sha1Of("inode:" + domain + "-" + path);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 8) | d[static_cast<size_t>(i)];
    }
    return (v & 0xFFFFFFFFull) + 100000;  // inode-like numbers
}

}  // namespace

uint8_t ProtectionClassOf(const std::string& domain, const std::string& path) {
    if (domain == "HomeDomain" &&
        (path == "Library/SMS/sms.db" || path == "Library/AddressBook/AddressBook.sqlitedb")) {
        return 3;
    }
    return 4;
}

BackupContents::BackupContents(const DeviceState& state, BackupCipher* cipher)
    : state_(state), cipher_(cipher) {
    Random r(state.Seed() ^ 0xBAC0);
    uuid_ = r.Uuid();
    for (TreeEntry& e : ScanFileTree(state.FilesRoot())) {
        BackupItem item;
        MbdbRecord& m = item.record;
        m.domain = e.domain;
        m.path = e.path;
        m.mode = static_cast<uint16_t>((e.isFolder ? 0x4000 : 0x8000) | (e.mode & 0777));
        m.inode = InodeOf(e.domain, e.path);
        m.modified = m.accessed = m.created = static_cast<uint32_t>(e.modified);
        if (!e.isFolder) {
            item.name = HashedName(e.domain, e.path);
            m.size = e.size;
            m.protectionClass = ProtectionClassOf(e.domain, e.path);
            if (e.domain == "CameraRollDomain") {
                m.properties.emplace_back("com.apple.assetsd.UUID", r.Uuid());
            }
        }
        item.entry = std::move(e);
        items_.push_back(std::move(item));
    }
}

BackupContents::~BackupContents() = default;

uint64_t BackupContents::StoredBytes() const {
    uint64_t total = 0;
    for (const BackupItem& i : items_) {
        total +=
            cipher_ != nullptr && !i.entry.isFolder ? (i.entry.size / 16 + 1) * 16 : i.entry.size;
    }
    return total;
}

std::unique_ptr<FileSource> BackupContents::Open(size_t index) {
    const BackupItem& item = items_[index];
    std::unique_ptr<FileSource> source = std::make_unique<PlainFileSource>(item.entry);
    if (cipher_ != nullptr) {
        source = cipher_->Encrypting(std::move(source), item.record.protectionClass);
    }
    return std::make_unique<HashingSource>(std::move(source));
}

void BackupContents::Complete(size_t index, FileSource& source) {
    auto& hashing = static_cast<HashingSource&>(source);
    MbdbRecord& m = items_[index].record;
    if (!hashing.Done()) {
        m.digest.clear();
        m.encryptionKey.clear();
        return;
    }
    m.digest.assign(reinterpret_cast<const char*>(hashing.Digest().data()),
                    hashing.Digest().size());
    if (cipher_ != nullptr) {
        m.encryptionKey = cipher_->RecordKey(hashing.Inner());
    }
}

std::string BackupContents::ManifestMbdb(const std::vector<bool>& stored) const {
    std::vector<MbdbRecord> records;
    records.reserve(items_.size());
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].entry.isFolder || (i < stored.size() && stored[i])) {
            records.push_back(items_[i].record);
        }
    }
    return WriteMbdb(records);
}

PlistPtr BackupContents::ManifestPlist(int64_t now) const {
    PlistPtr d(plist_new_dict());
    plist_t apps = plist_new_dict();
    for (const BackupItem& i : items_) {
        if (i.entry.domain.rfind("AppDomain-", 0) != 0 ||
            plist_dict_get_item(apps, i.entry.domain.substr(10).c_str()) != nullptr) {
            continue;
        }
        const std::string id = i.entry.domain.substr(10);
        plist_t app = plist_new_dict();
        plist_dict_set_item(app, "CFBundleIdentifier", plist_new_string(id.c_str()));
        plist_dict_set_item(app, "CFBundleVersion", plist_new_string("2.3.1"));
        plist_dict_set_item(app, "ContainerContentClass", plist_new_string("Data/Application"));
        plist_dict_set_item(
            app, "Path", plist_new_string(("/var/mobile/Applications/" + id + "/App.app").c_str()));
        plist_dict_set_item(apps, id.c_str(), app);
    }
    plist_dict_set_item(d.get(), "Applications", apps);
    if (cipher_ != nullptr) {
        plist_dict_set_item(d.get(), "BackupKeyBag", NewData(cipher_->Keybag()));
    }
    plist_dict_set_item(d.get(), "Date", NewDateUnix(now));
    plist_dict_set_item(d.get(), "IsEncrypted", plist_new_bool(cipher_ != nullptr ? 1 : 0));
    plist_t lockdown = plist_new_dict();
    for (const char* key : {"BuildVersion", "DeviceName", "ProductType", "ProductVersion",
                            "SerialNumber", "UniqueDeviceID"}) {
        plist_dict_set_item(lockdown, key, plist_new_string(state_.ValueString(key).c_str()));
    }
    plist_dict_set_item(d.get(), "Lockdown", lockdown);
    plist_dict_set_item(d.get(), "SystemDomainsVersion", plist_new_string("17.0"));
    plist_dict_set_item(d.get(), "Version", plist_new_string("9.1"));
    plist_dict_set_item(d.get(), "WasPasscodeSet", plist_new_bool(0));
    return d;
}

PlistPtr BackupContents::StatusPlist(int64_t now, bool finished) const {
    PlistPtr d(plist_new_dict());
    plist_dict_set_item(d.get(), "BackupState", plist_new_string("new"));
    plist_dict_set_item(d.get(), "Date", NewDateUnix(now));
    plist_dict_set_item(d.get(), "IsFullBackup", plist_new_bool(0));
    plist_dict_set_item(d.get(), "SnapshotState", plist_new_string(finished ? "finished" : "new"));
    plist_dict_set_item(d.get(), "UUID", plist_new_string(uuid_.c_str()));
    plist_dict_set_item(d.get(), "Version", plist_new_string("2.4"));
    return d;
}

}  // namespace devsim
