#include "devsim/BackupLayout.h"

#include "devsim/BackupCipher.h"
#include "devsim/DeviceState.h"
#include "devsim/Generation.h"
#include "devsim/ManifestDb.h"
#include "devsim/ModernBackup.h"

namespace devsim {
namespace {

bool IsHex(const std::string& s, size_t size) {
    return s.size() == size && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class OlderLayout : public BackupLayout {
  public:
    std::unique_ptr<BackupCipher> Cipher(const DeviceState& /*state*/, const std::string& password,
                                         Random& random) const override {
        return BackupCipher::Create(password, random);
    }
    std::string StoredName(const std::string& name) const override { return name; }
    std::set<std::string> Folders(const std::vector<std::string>& /*names*/) const override {
        return {};
    }
    std::set<std::string> EarlierFiles(const std::set<std::string>& top,
                                       const ListFolder& /*list*/) const override {
        std::set<std::string> files;
        for (const std::string& name : top) {
            if (IsHex(name, 40)) {
                files.insert(name);
            }
        }
        return files;
    }
    const char* ManifestName() const override { return "Manifest.mbdb"; }
    bool WriteManifest(const BackupContents& contents, const std::vector<bool>& stored,
                       BackupCipher* /*cipher*/, std::string& bytes, std::string& manifestKey,
                       std::string& /*error*/) const override {
        bytes = contents.ManifestMbdb(stored);
        manifestKey.clear();
        return true;
    }
    bool ReadManifest(std::string bytes, plist_t /*manifestPlist*/, const BackupCipher* /*cipher*/,
                      std::vector<MbdbRecord>& records, std::string& error) const override {
        return ReadMbdb(bytes, records, error);
    }
    PlistPtr ManifestPlist(const BackupContents& contents, int64_t now,
                           const std::string& /*manifestKey*/) const override {
        return contents.ManifestPlist(now);
    }
    PlistPtr StatusPlist(const BackupContents& contents, int64_t now,
                         bool finished) const override {
        return contents.StatusPlist(now, finished);
    }
    std::vector<std::string> StagingRemoval(const std::string& snapshot) const override {
        return {snapshot + "/Status.plist", snapshot};
    }
    uint64_t RecordBytes() const override { return 200; }
    bool PlaysHostileNames() const override { return true; }
};

class ModernLayout : public BackupLayout {
  public:
    explicit ModernLayout(bool encryptManifest) : encryptManifest_(encryptManifest) {}
    std::unique_ptr<BackupCipher> Cipher(const DeviceState& state, const std::string& password,
                                         Random& random) const override {
        return CipherForPhone(state, password, random);
    }
    std::string StoredName(const std::string& name) const override { return PrefixedName(name); }
    std::set<std::string> Folders(const std::vector<std::string>& names) const override {
        std::set<std::string> prefixes;
        for (const std::string& n : names) {
            prefixes.insert(n.substr(0, 2));
        }
        return prefixes;
    }
    std::set<std::string> EarlierFiles(const std::set<std::string>& top,
                                       const ListFolder& list) const override {
        std::set<std::string> files;
        for (const std::string& name : top) {
            if (IsHex(name, 2)) {
                for (const std::string& inner : list(name)) {
                    if (IsHex(inner, 40) && inner.compare(0, 2, name) == 0) {
                        files.insert(name + "/" + inner);
                    }
                }
            } else if (IsHex(name, 40) || name == "Manifest.mbdb") {
                files.insert(name);  // the same phone's backup from before its update
            }
        }
        return files;
    }
    const char* ManifestName() const override { return "Manifest.db"; }
    bool WriteManifest(const BackupContents& contents, const std::vector<bool>& stored,
                       BackupCipher* cipher, std::string& bytes, std::string& manifestKey,
                       std::string& error) const override {
        return ModernManifest(contents, stored, cipher, encryptManifest_, bytes, manifestKey,
                              error);
    }
    bool ReadManifest(std::string bytes, plist_t manifestPlist, const BackupCipher* cipher,
                      std::vector<MbdbRecord>& records, std::string& error) const override {
        return DecryptManifestDb(manifestPlist, cipher, bytes, error) &&
               ReadManifestDb(bytes, records, error);
    }
    PlistPtr ManifestPlist(const BackupContents& contents, int64_t now,
                           const std::string& manifestKey) const override {
        return ModernManifestPlist(contents, now, manifestKey);
    }
    PlistPtr StatusPlist(const BackupContents& contents, int64_t now,
                         bool finished) const override {
        return ModernStatusPlist(contents, now, finished);
    }
    std::vector<std::string> StagingRemoval(const std::string& snapshot) const override {
        // The staging folder still holds its prefix folders and Status.plist.
        return {snapshot};
    }
    uint64_t RecordBytes() const override { return 400; }
    bool PlaysHostileNames() const override { return false; }

  private:
    bool encryptManifest_;
};

}  // namespace

std::unique_ptr<BackupLayout> BackupLayout::ForPhone(const DeviceState& state) {
    const std::string version = state.ValueString("ProductVersion");
    if (IsModernVersion(version)) {
        return std::make_unique<ModernLayout>(UsesDoubleKeyDerivation(version));
    }
    return std::make_unique<OlderLayout>();
}

}  // namespace devsim
