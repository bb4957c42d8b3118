#include "devsim/ModernBackup.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "devsim/BackupCipher.h"
#include "devsim/DeviceState.h"
#include "devsim/Generation.h"
#include "devsim/ManifestDb.h"
#include "platform/Sha1.h"
#include "platform/Time.h"

namespace devsim {
namespace {

constexpr uint8_t kManifestClass = 4;

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

bool DecryptManifestDb(plist_t manifest, const BackupCipher* cipher, std::string& bytes,
                       std::string& problem) {
    const std::optional<std::string> manifestKey = DictData(manifest, "ManifestKey");
    // Before iOS 10.2 an encrypted backup kept its Manifest.db plain.
    if (cipher == nullptr ||
        (!manifestKey && bytes.compare(0, 16, std::string("SQLite format 3\0", 16)) == 0)) {
        return true;
    }
    std::string key;
    if (!manifestKey || !cipher->FileKey(*manifestKey, key)) {
        problem = "its ManifestKey is missing or cannot be unwrapped";
        return false;
    }
    FileDecryptor decryptor(key);
    std::string plain;
    if (!decryptor.Update(bytes.data(), bytes.size(), plain) || !decryptor.Final(plain)) {
        problem = "it does not decrypt";
        return false;
    }
    bytes = std::move(plain);
    return true;
}

}  // namespace devsim
