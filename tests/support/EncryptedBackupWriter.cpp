#include "tests/support/EncryptedBackupWriter.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "platform/Handles.h"
#include "platform/Sha1.h"
#include "tests/support/MbdbWriter.h"

namespace testenv {
namespace {

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

void Require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("backup writer: ") + what);
    }
}

std::string BigEndian32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

void PutItem(std::string& out, const char* tag, const std::string& value) {
    out.append(tag, 4);
    out += BigEndian32(static_cast<uint32_t>(value.size()));
    out += value;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Require(f.good(), "cannot write a file");
}

constexpr char kInfoPlist[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "\t<key>Device Name</key>\n\t<string>Test Phone</string>\n"
    "\t<key>Display Name</key>\n\t<string>Test Phone</string>\n"
    "\t<key>Last Backup Date</key>\n\t<date>2015-03-04T09:05:07Z</date>\n"
    "\t<key>Product Version</key>\n\t<string>8.1.2</string>\n"
    "</dict>\n</plist>\n";

}  // namespace

BackupFile SmsDatabase(std::string contents) {
    BackupFile f;
    f.path = "Library/SMS/sms.db";
    f.contents = std::move(contents);
    return f;
}

BackupFile ContactsDatabase(std::string contents) {
    BackupFile f;
    f.path = "Library/AddressBook/AddressBook.sqlitedb";
    f.contents = std::move(contents);
    return f;
}

std::string HashedName(const std::string& domain, const std::string& path) {
    return platform::HexLower(platform::Sha1Of(domain + "-" + path));
}

std::string RandomBytes(size_t size) {
    std::string out(size, '\0');
    Require(RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(size)) == 1,
            "RAND_bytes");
    return out;
}

std::string DerivePasswordKey(const std::string& password, const std::string& salt,
                              uint32_t iterations) {
    std::string key(32, '\0');
    Require(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                              reinterpret_cast<const unsigned char*>(salt.data()),
                              static_cast<int>(salt.size()), static_cast<int>(iterations),
                              EVP_sha1(), 32, reinterpret_cast<unsigned char*>(key.data())) == 1,
            "PBKDF2");
    return key;
}

std::string DerivePasswordKeySha256(const std::string& password, const std::string& salt,
                                    uint32_t iterations) {
    std::string key(32, '\0');
    Require(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                              reinterpret_cast<const unsigned char*>(salt.data()),
                              static_cast<int>(salt.size()), static_cast<int>(iterations),
                              EVP_sha256(), 32, reinterpret_cast<unsigned char*>(key.data())) == 1,
            "PBKDF2");
    return key;
}

std::string WrapKey(const std::string& kek, const std::string& key) {
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    Require(EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr,
                               reinterpret_cast<const unsigned char*>(kek.data()), nullptr) == 1,
            "wrap init");
    std::string out(key.size() + 16, '\0');
    int length = 0;
    Require(EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                              reinterpret_cast<const unsigned char*>(key.data()),
                              static_cast<int>(key.size())) == 1,
            "wrap");
    out.resize(static_cast<size_t>(length));
    Require(out.size() == key.size() + 8, "wrapped size");
    return out;
}

std::string EncryptContents(const std::string& key, const std::string& plain) {
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    const unsigned char iv[16] = {};
    Require(EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                               reinterpret_cast<const unsigned char*>(key.data()), iv) == 1,
            "cbc init");
    std::string out(plain.size() + 16, '\0');
    int length = 0;
    int tail = 0;
    Require(EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                              reinterpret_cast<const unsigned char*>(plain.data()),
                              static_cast<int>(plain.size())) == 1 &&
                EVP_EncryptFinal_ex(
                    ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + length, &tail) == 1,
            "cbc");
    out.resize(static_cast<size_t>(length + tail));
    return out;
}

std::string BuildKeybag(const std::string& salt, uint32_t iterations,
                        const std::vector<KeybagClassKey>& classKeys, const std::string& doubleSalt,
                        uint32_t doubleIterations) {
    std::string bag;
    PutItem(bag, "VERS", BigEndian32(doubleSalt.empty() ? 3 : 4));
    PutItem(bag, "TYPE", BigEndian32(1));
    PutItem(bag, "UUID", std::string(16, '\x01'));
    PutItem(bag, "HMCK", std::string(40, '\x02'));
    PutItem(bag, "WRAP", BigEndian32(0));
    PutItem(bag, "SALT", salt);
    PutItem(bag, "ITER", BigEndian32(iterations));
    if (!doubleSalt.empty()) {
        PutItem(bag, "DPWT", BigEndian32(1));
        PutItem(bag, "DPIC", BigEndian32(doubleIterations));
        PutItem(bag, "DPSL", doubleSalt);
    }
    uint8_t n = 0x10;
    for (const KeybagClassKey& k : classKeys) {
        PutItem(bag, "UUID", std::string(16, static_cast<char>(n++)));
        PutItem(bag, "CLAS", BigEndian32(k.protectionClass));
        PutItem(bag, "WRAP", BigEndian32(k.wrap));
        PutItem(bag, "KTYP", BigEndian32(0));
        PutItem(bag, "WPKY", k.wrappedKey);
    }
    return bag;
}

std::string ManifestPlist(bool encrypted, const std::string& keybag, bool binary) {
    platform::PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "IsEncrypted", plist_new_bool(encrypted ? 1 : 0));
    if (!keybag.empty()) {
        plist_dict_set_item(dict.get(), "BackupKeyBag",
                            plist_new_data(keybag.data(), keybag.size()));
    }
    plist_dict_set_item(dict.get(), "Version", plist_new_string("9.1"));
    char* out = nullptr;
    uint32_t length = 0;
    if (binary) {
        plist_to_bin(dict.get(), &out, &length);
    } else {
        plist_to_xml(dict.get(), &out, &length);
    }
    Require(out != nullptr, "plist");
    std::string text(out, length);
    std::free(out);
    return text;
}

void WriteBackupFolder(const std::string& folder, const std::vector<BackupFile>& files,
                       const BackupOptions& options) {
    std::filesystem::create_directories(folder);
    std::map<uint32_t, std::string> classKeys;
    std::string keybag;
    if (options.encrypted) {
        const std::string passwordKey =
            DerivePasswordKey(options.password, options.salt, options.iterations);
        std::vector<KeybagClassKey> wrapped;
        for (uint32_t cls = 1; cls <= 11; ++cls) {
            classKeys[cls] = RandomBytes(32);
            wrapped.push_back({cls, 2, WrapKey(passwordKey, classKeys[cls])});
        }
        keybag = BuildKeybag(options.salt, options.iterations, wrapped);
    }
    std::vector<MbdbEntry> entries;
    for (const BackupFile& f : files) {
        MbdbEntry e;
        e.domain = f.domain;
        e.path = f.path;
        e.size = f.contents.size();
        e.protectionClass = static_cast<uint8_t>(f.protectionClass);
        std::string stored = f.contents;
        if (options.encrypted) {
            const std::string fileKey = RandomBytes(32);
            stored = EncryptContents(fileKey, f.contents);
            const uint32_t cls = f.protectionClass;
            std::string key = {static_cast<char>(cls), static_cast<char>(cls >> 8),
                               static_cast<char>(cls >> 16), static_cast<char>(cls >> 24)};
            key += WrapKey(classKeys.at(cls), fileKey);
            e.encryptionKey = key;
        }
        const platform::Sha1Digest digest = platform::Sha1Of(stored);
        e.digest = std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
        entries.push_back(e);
        WriteBytes(folder + "/" + HashedName(f.domain, f.path), stored);
    }
    WriteBytes(folder + "/Manifest.mbdb", BuildMbdb(entries));
    WriteBytes(folder + "/Manifest.plist",
               ManifestPlist(options.encrypted, keybag, options.binaryManifestPlist));
    WriteBytes(folder + "/Info.plist", kInfoPlist);
}

}  // namespace testenv
