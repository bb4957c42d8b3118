// Encrypted backups of modern phones checked with keys derived here: the keybag's DPWT, DPIC and
// DPSL, PBKDF2-HMAC-SHA256 then PBKDF2-HMAC-SHA1, class keys unwrapped (RFC 3394), Manifest.db
// decrypted under "ManifestKey", a file decrypted under the EncryptionKey of its MBFile, and the
// phone's own restore with the right and a wrong password. 10.0 and 10.1 keep the older keybag
// and a plain Manifest.db.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>

#include "platform/Files.h"
#include "platform/Handles.h"
#include "tests/devsim/HostLoop.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

const std::string kPassword = "Grüne Äpfel 🍏";
constexpr char kSmsName[] = "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";

uint32_t Be32(const std::string& v) {
    uint32_t out = 0;
    for (char c : v) {
        out = (out << 8) | static_cast<uint8_t>(c);
    }
    return out;
}

uint32_t Le32(const std::string& v) {
    return static_cast<uint8_t>(v[0]) | static_cast<uint8_t>(v[1]) << 8 |
           static_cast<uint8_t>(v[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(v[3])) << 24;
}

struct Keybag {
    std::map<std::string, std::string> header;  // first value of each header tag
    std::map<uint32_t, std::string> wrapped;    // class → WPKY
};

Keybag ParseKeybag(const std::string& b) {
    Keybag k;
    int uuids = 0;
    uint32_t cls = 0;
    for (size_t pos = 0; pos + 8 <= b.size();) {
        const std::string tag = b.substr(pos, 4);
        const uint32_t len = Be32(b.substr(pos + 4, 4));
        const std::string value = b.substr(pos + 8, len);
        pos += 8 + len;
        uuids += tag == "UUID" ? 1 : 0;
        if (uuids <= 1) {
            k.header.emplace(tag, value);
        } else if (tag == "CLAS") {
            cls = Be32(value);
        } else if (tag == "WPKY") {
            k.wrapped[cls] = value;
        }
    }
    return k;
}

std::string Pbkdf2(const std::string& pass, const std::string& salt, uint32_t rounds,
                   const EVP_MD* md) {
    std::string key(32, '\0');
    PKCS5_PBKDF2_HMAC(pass.data(), static_cast<int>(pass.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()),
                      static_cast<int>(salt.size()), static_cast<int>(rounds), md, 32,
                      reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

bool Unwrap(const std::string& kek, const std::string& wrapped, std::string& key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    EVP_DecryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr,
                       reinterpret_cast<const unsigned char*>(kek.data()), nullptr);
    key.assign(wrapped.size(), '\0');
    int n = 0, m = 0;
    const bool ok =
        EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(key.data()), &n,
                          reinterpret_cast<const unsigned char*>(wrapped.data()),
                          static_cast<int>(wrapped.size())) == 1 &&
        EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(key.data()) + n, &m) == 1;
    EVP_CIPHER_CTX_free(ctx);
    key.resize(ok ? static_cast<size_t>(n + m) : 0);
    return ok && key.size() == 32;
}

// AES-256-CBC, zero IV, PKCS#7 padding stripped; "" when the padding is wrong.
std::string Decrypt(const std::string& key, const std::string& data) {
    const unsigned char iv[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(key.data()), iv);
    std::string out(data.size() + 16, '\0');
    int n = 0, m = 0;
    const bool ok =
        EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size())) == 1 &&
        EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &m) == 1;
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? static_cast<size_t>(n + m) : 0);
    return out;
}

Plist ParseBytes(const std::string& bytes) {
    plist_t node = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
}

std::string DataOf(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return {};
    }
    uint64_t n = 0;
    const char* p = plist_get_data_ptr(node, &n);
    return std::string(p, n);
}

// The EncryptionKey of a path's MBFile in a plain Manifest.db file.
std::string RecordKey(const std::string& manifestPath, const std::string& relativePath,
                      uint64_t* size) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(manifestPath.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    platform::SqlitePtr db(raw);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw, "SELECT file FROM Files WHERE relativePath=?", -1, &s, nullptr);
    platform::SqliteStmtPtr stmt(s);
    sqlite3_bind_text(s, 1, relativePath.c_str(), -1, SQLITE_TRANSIENT);
    if (s == nullptr || sqlite3_step(s) != SQLITE_ROW) {
        return {};
    }
    Plist archive = ParseBytes(std::string(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                                           static_cast<size_t>(sqlite3_column_bytes(s, 0))));
    plist_t objects = plist_dict_get_item(archive.get(), "$objects");
    plist_t file = plist_array_get_item(objects, 1);
    plist_get_uint_val(plist_dict_get_item(file, "Size"), size);
    uint64_t uid = 0;
    plist_get_uid_val(plist_dict_get_item(file, "EncryptionKey"), &uid);
    plist_t key = plist_array_get_item(objects, static_cast<uint32_t>(uid));
    return key != nullptr ? DataOf(plist_dict_get_item(key, "NS.data")) : std::string();
}

class ModernEncryptionTest : public ::testing::Test {
  protected:
    void Serve(const std::string& version) {
        testenv::PhoneOptions o;
        o.messages = 20;
        o.contacts = 5;
        o.backupPassword = kPassword;
        o.productVersion = version;
        o.backupRounds = 2000;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o);
        udid_ = phone_->Udid();
    }
    HostResult Request(const char* request, plist_t options) {
        BackupConnection c = OpenBackupConnection();
        EXPECT_TRUE(c.client);
        if (!c.client) {
            return HostResult{};
        }
        EXPECT_TRUE(SendRequest(c.client.get(), request, udid_, "", options));
        HostOptions host;
        host.folder = dir_.Path();
        return RunHostLoop(c.client.get(), host);
    }
    HostResult Restore(const char* password) {
        Plist options(plist_new_dict());
        if (password != nullptr) {
            plist_dict_set_item(options.get(), "Password", plist_new_string(password));
        }
        return Request("Restore", options.get());
    }
    std::string Device(const std::string& file) const {
        return dir_.Path() + "/" + udid_ + "/" + file;
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"devsim-modern-enc"};
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_F(ModernEncryptionTest, KeysDerivedTwiceOpenTheManifestAndTheFiles) {
    Serve("17.5");
    ASSERT_EQ(Request("Backup", nullptr).errorCode, 0);
    Plist manifest = ParseBytes(testenv::ReadFile(Device("Manifest.plist")));
    ASSERT_TRUE(manifest);
    const Keybag bag = ParseKeybag(DataOf(plist_dict_get_item(manifest.get(), "BackupKeyBag")));
    ASSERT_EQ(bag.header.count("DPSL"), 1u);
    EXPECT_EQ(Be32(bag.header.at("DPWT")), 1u);
    EXPECT_EQ(Be32(bag.header.at("DPIC")), 2000u);
    EXPECT_EQ(bag.header.at("DPSL").size(), 20u);
    EXPECT_EQ(Be32(bag.header.at("ITER")), 10000u);

    const std::string passwordKey =
        Pbkdf2(Pbkdf2(kPassword, bag.header.at("DPSL"), 2000, EVP_sha256()), bag.header.at("SALT"),
               10000, EVP_sha1());
    std::map<uint32_t, std::string> classKeys;
    for (const auto& [cls, wrapped] : bag.wrapped) {
        ASSERT_TRUE(Unwrap(passwordKey, wrapped, classKeys[cls])) << cls;
    }
    // The SHA-1 step alone does not open the bag.
    std::string unused;
    EXPECT_FALSE(Unwrap(Pbkdf2(kPassword, bag.header.at("SALT"), 10000, EVP_sha1()),
                        bag.wrapped.begin()->second, unused));

    // Manifest.db: encrypted, its key in ManifestKey (class, then the wrapped key).
    const std::string manifestKey = DataOf(plist_dict_get_item(manifest.get(), "ManifestKey"));
    ASSERT_EQ(manifestKey.size(), 44u);
    const std::string encryptedDb = testenv::ReadFile(Device("Manifest.db"));
    EXPECT_NE(encryptedDb.compare(0, 6, "SQLite"), 0);
    std::string dbKey;
    ASSERT_TRUE(Unwrap(classKeys.at(Le32(manifestKey)), manifestKey.substr(4), dbKey));
    const std::string plainDb = Decrypt(dbKey, encryptedDb);
    ASSERT_EQ(plainDb.compare(0, 16, std::string("SQLite format 3\0", 16)), 0);
    const std::string plainPath = dir_.Path() + "/Manifest-plain.db";
    testenv::WriteFile(plainPath, plainDb);

    // The message database under its own key.
    uint64_t size = 0;
    const std::string recordKey = RecordKey(plainPath, "Library/SMS/sms.db", &size);
    ASSERT_EQ(recordKey.size(), 44u);
    EXPECT_EQ(Le32(recordKey), 3u);
    std::string fileKey;
    ASSERT_TRUE(Unwrap(classKeys.at(3), recordKey.substr(4), fileKey));
    const std::string original =
        testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db"));
    EXPECT_EQ(Decrypt(fileKey, testenv::ReadFile(Device(kSmsName))), original);
    EXPECT_EQ(size, original.size());

    // The phone's own restore: a wrong password changes nothing, the right one restores.
    const std::string sms = phone_->FilePath("HomeDomain", "Library/SMS/sms.db");
    testenv::WriteFile(sms, "changed");
    HostResult r = Restore("wrong");
    EXPECT_EQ(r.errorCode, 207);
    EXPECT_EQ(testenv::ReadFile(sms), "changed");
    r = Restore(kPassword.c_str());
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(testenv::ReadFile(sms), original);
}

TEST_F(ModernEncryptionTest, BeforeTenPointTwoTheKeybagIsTheOlderOneAndTheManifestPlain) {
    Serve("10.1");
    ASSERT_EQ(Request("Backup", nullptr).errorCode, 0);
    Plist manifest = ParseBytes(testenv::ReadFile(Device("Manifest.plist")));
    const Keybag bag = ParseKeybag(DataOf(plist_dict_get_item(manifest.get(), "BackupKeyBag")));
    EXPECT_EQ(bag.header.count("DPSL"), 0u);
    EXPECT_EQ(bag.header.count("DPIC"), 0u);
    EXPECT_EQ(plist_dict_get_item(manifest.get(), "ManifestKey"), nullptr);
    const std::string db = testenv::ReadFile(Device("Manifest.db"));
    EXPECT_EQ(db.compare(0, 16, std::string("SQLite format 3\0", 16)), 0);
    uint64_t size = 0;
    EXPECT_EQ(RecordKey(Device("Manifest.db"), "Library/SMS/sms.db", &size).size(), 44u);
    testenv::WriteFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db"), "changed");
    EXPECT_TRUE(Restore(kPassword.c_str()).disconnected);
    EXPECT_NE(testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")), "changed");
}

}  // namespace
}  // namespace devsimtest
