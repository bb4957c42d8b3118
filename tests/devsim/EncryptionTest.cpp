// Encrypted backups checked against values computed here, independently of the simulator's code:
// the keybag's layout, the password key from the openssl command line, class and file keys
// unwrapped by a hand-written RFC 3394, and files decrypted by the openssl command line. Also
// write-backup's plain backups, and encrypted backups through the link and back.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <map>

#include "devsim/MakeDevice.h"
#include "devsim/WriteBackup.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Sha1.h"
#include "tests/devsim/HostLoop.h"
#include "tests/devsim/ManifestReader.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

constexpr char kSmsName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
const std::string kPassword = "Correct horse 🐎";

std::string Hex(const std::string& bytes) {
    return platform::HexLower(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// Runs the openssl command line; its output, or "" when it failed.
std::string OpenSsl(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/openssl");
    const testenv::CommandRun run = testenv::RunProgram(args, {}, 20000);
    return run.exitCode == 0 ? run.output : std::string();
}

// PBKDF2-HMAC-SHA1 with the openssl command line.
std::string PasswordKeyByCommandLine(const std::string& password, const std::string& salt,
                                     uint32_t iterations) {
    std::string out = OpenSsl({"kdf", "-keylen", "32", "-kdfopt", "digest:SHA1", "-kdfopt",
                               "pass:" + password, "-kdfopt", "hexsalt:" + Hex(salt), "-kdfopt",
                               "iter:" + std::to_string(iterations), "PBKDF2"});
    std::string hex;
    for (char c : out) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            hex += c;
        }
    }
    return Unhex(hex);
}

// RFC 3394 key unwrap written out from the RFC (AES-256 blocks through EVP's plain ECB).
bool Unwrap(const std::string& kek, const std::string& wrapped, std::string& key) {
    const size_t n = wrapped.size() / 8 - 1;
    std::string a = wrapped.substr(0, 8);
    std::vector<std::string> r(n);
    for (size_t i = 0; i < n; ++i) {
        r[i] = wrapped.substr(8 * (i + 1), 8);
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr,
                       reinterpret_cast<const unsigned char*>(kek.data()), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (int j = 5; j >= 0; --j) {
        for (size_t i = n; i >= 1; --i) {
            const uint64_t t = n * static_cast<uint64_t>(j) + i;
            std::string block = a;
            for (int k = 0; k < 8; ++k) {
                block[static_cast<size_t>(7 - k)] ^= static_cast<char>((t >> (8 * k)) & 0xFF);
            }
            block += r[i - 1];
            unsigned char out[32];
            int len = 0;
            EVP_DecryptUpdate(ctx, out, &len, reinterpret_cast<const unsigned char*>(block.data()),
                              16);
            a.assign(reinterpret_cast<char*>(out), 8);
            r[i - 1].assign(reinterpret_cast<char*>(out) + 8, 8);
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    key.clear();
    for (const std::string& part : r) {
        key += part;
    }
    return a == std::string(8, '\xA6');
}

struct Tlv {
    std::string tag, value;
};
std::vector<Tlv> ParseKeybag(const std::string& bag) {
    std::vector<Tlv> out;
    size_t pos = 0;
    while (pos + 8 <= bag.size()) {
        const uint32_t len = (static_cast<uint8_t>(bag[pos + 4]) << 24) |
                             (static_cast<uint8_t>(bag[pos + 5]) << 16) |
                             (static_cast<uint8_t>(bag[pos + 6]) << 8) |
                             static_cast<uint8_t>(bag[pos + 7]);
        out.push_back({bag.substr(pos, 4), bag.substr(pos + 8, len)});
        pos += 8 + len;
    }
    EXPECT_EQ(pos, bag.size());
    return out;
}
uint32_t Be(const std::string& v) {
    uint32_t x = 0;
    for (char c : v) {
        x = (x << 8) | static_cast<uint8_t>(c);
    }
    return x;
}

Plist ReadPlist(const std::string& path) {
    const std::string text = testenv::ReadFile(path);
    plist_t node = nullptr;
    plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &node);
    return Plist(node);
}
std::string DataOf(plist_t node) {
    char* data = nullptr;
    uint64_t len = 0;
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return {};
    }
    plist_get_data_val(node, &data, &len);
    std::string out(data, len);
    free(data);
    return out;
}
bool BoolOf(plist_t node) {
    uint8_t b = 0;
    if (node != nullptr && plist_get_node_type(node) == PLIST_BOOLEAN) {
        plist_get_bool_val(node, &b);
    }
    return b != 0;
}

class EncryptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!platform::FileExists("/usr/bin/openssl")) {
            GTEST_SKIP() << "the openssl command line is not installed";
        }
    }
    std::string MakePhone(const std::string& name) {
        devsim::MakeDeviceOptions o;
        o.messages = 12;
        o.contacts = 4;
        o.mediaMb = 0;
        o.apps = 1;
        std::string error;
        EXPECT_TRUE(devsim::MakeDevice(tmp_ / name, o, error)) << error;
        return tmp_ / name;
    }
    testenv::IsolatedHome home_;
    testenv::TempDir tmp_{"devsim-crypt"};
};

TEST_F(EncryptionTest, KeybagAndFilesFollowTheFormat) {
    const std::string device = MakePhone("phone");
    devsim::WriteBackupOptions o;
    o.encryptPassword = kPassword;
    o.date = 1425751509;
    std::string error;
    ASSERT_TRUE(devsim::WriteBackup(device, tmp_ / "out", o, error)) << error;
    const std::string udid = fs::directory_iterator(tmp_ / "out")->path().filename();
    const std::string folder = tmp_ / ("out/" + udid);

    Plist manifest = ReadPlist(folder + "/Manifest.plist");
    EXPECT_TRUE(BoolOf(plist_dict_get_item(manifest.get(), "IsEncrypted")));
    const std::vector<Tlv> bag =
        ParseKeybag(DataOf(plist_dict_get_item(manifest.get(), "BackupKeyBag")));
    // The header, in order.
    ASSERT_GE(bag.size(), 7u + 11u * 5u);
    const std::vector<std::string> header = {"VERS", "TYPE", "UUID", "HMCK",
                                             "WRAP", "SALT", "ITER"};
    for (size_t i = 0; i < header.size(); ++i) {
        EXPECT_EQ(bag[i].tag, header[i]);
    }
    EXPECT_EQ(Be(bag[0].value), 3u);
    EXPECT_EQ(Be(bag[1].value), 1u);
    EXPECT_EQ(bag[2].value.size(), 16u);
    EXPECT_EQ(bag[3].value.size(), 40u);
    EXPECT_EQ(Be(bag[4].value), 0u);
    ASSERT_EQ(bag[5].value.size(), 20u);
    EXPECT_EQ(Be(bag[6].value), 10000u);

    // Class keys: UUID, CLAS, WRAP 2, KTYP 0, WPKY; each unwraps with the password key.
    const std::string passwordKey = PasswordKeyByCommandLine(kPassword, bag[5].value, 10000);
    ASSERT_EQ(passwordKey.size(), 32u);
    const std::string wrongKey = PasswordKeyByCommandLine("correct horse 🐎", bag[5].value, 10000);
    std::map<uint32_t, std::string> classKeys;
    for (size_t i = 7; i + 4 < bag.size(); i += 5) {
        EXPECT_EQ(bag[i].tag, "UUID");
        EXPECT_EQ(bag[i + 1].tag, "CLAS");
        EXPECT_EQ(bag[i + 2].tag, "WRAP");
        EXPECT_EQ(Be(bag[i + 2].value), 2u);
        EXPECT_EQ(bag[i + 3].tag, "KTYP");
        EXPECT_EQ(Be(bag[i + 3].value), 0u);
        ASSERT_EQ(bag[i + 4].tag, "WPKY");
        ASSERT_EQ(bag[i + 4].value.size(), 40u);
        std::string key;
        EXPECT_TRUE(Unwrap(passwordKey, bag[i + 4].value, key));
        EXPECT_FALSE(Unwrap(wrongKey, bag[i + 4].value, key));
        Unwrap(passwordKey, bag[i + 4].value, key);
        classKeys[Be(bag[i + 1].value)] = key;
    }
    EXPECT_EQ(classKeys.size(), 11u);

    // The message database: class 3, its file key, its digest and its plain bytes.
    std::vector<Record> records;
    ASSERT_TRUE(ParseManifest(testenv::ReadFile(folder + "/Manifest.mbdb"), records, nullptr));
    bool found = false;
    for (const Record& r : records) {
        if ((r.mode & 0xF000) != 0x8000) {
            EXPECT_TRUE(r.key.empty());
            continue;
        }
        ASSERT_EQ(r.key.size(), 44u) << r.path;
        const std::string name = platform::HexLower(platform::Sha1Of(r.domain + "-" + r.path));
        const std::string stored = testenv::ReadFile(folder + "/" + name);
        EXPECT_EQ(r.digest,
                  std::string(reinterpret_cast<const char*>(platform::Sha1Of(stored).data()), 20));
        EXPECT_EQ(stored.size(), (r.size / 16 + 1) * 16) << r.path;
        if (r.path != "Library/SMS/sms.db") {
            continue;
        }
        found = true;
        EXPECT_EQ(name, kSmsName);
        const uint32_t cls =
            static_cast<uint8_t>(r.key[0]) | (static_cast<uint8_t>(r.key[1]) << 8) |
            (static_cast<uint8_t>(r.key[2]) << 16) | (static_cast<uint8_t>(r.key[3]) << 24);
        EXPECT_EQ(cls, 3u);
        std::string fileKey;
        ASSERT_TRUE(Unwrap(classKeys[3], r.key.substr(4), fileKey));
        ASSERT_EQ(fileKey.size(), 32u);
        const std::string plain = OpenSsl({"enc", "-d", "-aes-256-cbc", "-K", Hex(fileKey), "-iv",
                                           std::string(32, '0'), "-in", folder + "/" + name});
        const std::string original =
            testenv::ReadFile(device + "/files/HomeDomain/Library/SMS/sms.db");
        EXPECT_EQ(plain.size(), r.size);
        EXPECT_EQ(plain, original);
    }
    EXPECT_TRUE(found);
}

TEST_F(EncryptionTest, WrittenBackupsAreReproducibleAndCarryInfoPlist) {
    const std::string device = MakePhone("phone");
    devsim::WriteBackupOptions o;
    int64_t when = 0;
    ASSERT_TRUE(devsim::ParseIsoDate("2015-03-07T18:05:09Z", when));
    o.date = when;
    o.name = "Büro-Telefon";
    std::string error;
    ASSERT_TRUE(devsim::WriteBackup(device, tmp_ / "a", o, error)) << error;
    ASSERT_TRUE(devsim::WriteBackup(device, tmp_ / "b", o, error)) << error;
    EXPECT_FALSE(devsim::WriteBackup(device, tmp_ / "a", o, error));  // never over a backup
    const std::string udid = fs::directory_iterator(tmp_ / "a")->path().filename();
    for (const auto& e : fs::directory_iterator(tmp_ / ("a/" + udid))) {
        EXPECT_EQ(testenv::ReadFile(e.path()),
                  testenv::ReadFile(tmp_ / ("b/" + udid + "/" + e.path().filename().string())))
            << e.path();
    }
    Plist info = ReadPlist(tmp_ / ("a/" + udid + "/Info.plist"));
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Display Name")), "Büro-Telefon");
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Device Name")), "Büro-Telefon");
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Target Identifier")), udid);
    std::string upper = udid;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Unique Identifier")), upper);
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Target Type")), "Device");
    for (const char* key : {"Build Version", "Phone Number", "Product Type", "Product Version",
                            "Serial Number", "ICCID", "IMEI", "GUID", "iTunes Version"}) {
        EXPECT_FALSE(StringOf(plist_dict_get_item(info.get(), key)).empty()) << key;
    }
    plist_t date = plist_dict_get_item(info.get(), "Last Backup Date");
    ASSERT_EQ(plist_get_node_type(date), PLIST_DATE);
    int32_t sec = 0, usec = 0;
    plist_get_date_val(date, &sec, &usec);
    EXPECT_EQ(sec + 978307200, 1425751509);  // plist dates count from 2001
    EXPECT_NE(testenv::ReadFile(tmp_ / ("a/" + udid + "/Info.plist"))
                  .find("<date>2015-03-07T18:05:09Z</date>"),
              std::string::npos);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(info.get(), "iTunes Files")), PLIST_DICT);
    EXPECT_EQ(DataOf(plist_dict_get_item(info.get(), "iBooks Data 2")),
              testenv::ReadFile(device + "/media/Books/iBooksData2.plist"));
    Plist status = ReadPlist(tmp_ / ("a/" + udid + "/Status.plist"));
    EXPECT_EQ(StringOf(plist_dict_get_item(status.get(), "SnapshotState")), "finished");
    Plist manifest = ReadPlist(tmp_ / ("a/" + udid + "/Manifest.plist"));
    EXPECT_FALSE(BoolOf(plist_dict_get_item(manifest.get(), "IsEncrypted")));
    EXPECT_EQ(testenv::ReadFile(tmp_ / ("a/" + udid + "/" + kSmsName)),
              testenv::ReadFile(device + "/files/HomeDomain/Library/SMS/sms.db"));

    int64_t t = 0;
    EXPECT_TRUE(devsim::ParseIsoDate("2015-03-07T19:05:09.250+01:00", t));
    EXPECT_EQ(t, 1425751509);
    EXPECT_FALSE(devsim::ParseIsoDate("07.03.2015 18:05", t));
    EXPECT_FALSE(devsim::ParseIsoDate("2015-13-07T18:05:09Z", t));
}

class EncryptedLinkTest : public EncryptionTest {
  protected:
    HostResult Restore(const std::string& folder, const char* password) {
        BackupConnection c = OpenBackupConnection();
        Plist options(plist_new_dict());
        plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(0));
        if (password != nullptr) {
            plist_dict_set_item(options.get(), "Password", plist_new_string(password));
        }
        EXPECT_TRUE(SendRequest(c.client.get(), "Restore", udid_, "", options.get()));
        HostOptions host;
        host.folder = folder;
        return RunHostLoop(c.client.get(), host);
    }
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_F(EncryptedLinkTest, PhoneWithAPasswordBacksUpEncryptedAndRestoresOnlyWithIt) {
    testenv::PhoneOptions o;
    o.messages = 12;
    o.contacts = 4;
    o.mediaMb = 0;
    o.apps = 1;
    o.backupPassword = kPassword;
    phone_ = std::make_unique<testenv::SimulatedPhone>(o);
    udid_ = phone_->Udid();
    const std::string folder = tmp_ / "backup";
    {
        BackupConnection c = OpenBackupConnection();
        ASSERT_TRUE(SendRequest(c.client.get(), "Backup", udid_, "", nullptr));
        HostOptions host;
        host.folder = folder;
        ASSERT_EQ(RunHostLoop(c.client.get(), host).errorCode, 0);
    }
    const std::string sms = phone_->FilePath("HomeDomain", "Library/SMS/sms.db");
    const std::string original = testenv::ReadFile(sms);
    const std::string stored = testenv::ReadFile(folder + "/" + udid_ + "/" + kSmsName);
    EXPECT_NE(stored.substr(0, 16), original.substr(0, 16));  // "SQLite format 3" is not there
    EXPECT_TRUE(BoolOf(plist_dict_get_item(
        ReadPlist(folder + "/" + udid_ + "/Manifest.plist").get(), "IsEncrypted")));

    testenv::WriteFile(sms, "changed");
    HostResult r = Restore(folder, nullptr);
    EXPECT_EQ(r.errorCode, 207);
    EXPECT_NE(r.errorDescription.find("password"), std::string::npos);
    r = Restore(folder, "wrong password");
    EXPECT_EQ(r.errorCode, 207);
    EXPECT_EQ(testenv::ReadFile(sms), "changed");
    r = Restore(folder, kPassword.c_str());
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(testenv::ReadFile(sms), original);
    const std::vector<std::string> events = phone_->Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "restore password refused"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "restore password missing"), events.end());
}

TEST_F(EncryptedLinkTest, BackupsWrittenByAnotherProgramRestoreOnThePhone) {
    testenv::PhoneOptions o;
    o.messages = 12;
    o.contacts = 4;
    o.mediaMb = 0;
    o.apps = 1;
    phone_ = std::make_unique<testenv::SimulatedPhone>(o);
    udid_ = phone_->Udid();
    // Through the command line, as a test of another program would make it.
    auto writer = platform::ChildProcess::Start(
        {testenv::SimulatedPhone::ProgramPath(), "write-backup", phone_->DeviceDir(),
         tmp_ / "itunes", "--encrypt", "pw", "--date", "2015-03-07T18:05:09Z"});
    int code = -1;
    ASSERT_TRUE(writer && writer->Wait(60000, &code));
    ASSERT_EQ(code, 0);
    const std::string contacts =
        phone_->FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
    const std::string original = testenv::ReadFile(contacts);
    testenv::WriteFile(contacts, "changed");
    const HostResult r = Restore(tmp_ / "itunes", "pw");
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(testenv::ReadFile(contacts), original);

    auto bad =
        platform::ChildProcess::Start({testenv::SimulatedPhone::ProgramPath(), "write-backup",
                                       phone_->DeviceDir(), tmp_ / "x", "--date", "yesterday"});
    ASSERT_TRUE(bad && bad->Wait(60000, &code));
    EXPECT_EQ(code, 2);
}

}  // namespace
}  // namespace devsimtest
