// Writes backup folders of the Manifest.mbdb era for tests and benchmarks, plain or encrypted as
// a phone encrypts them (keybag in Manifest.plist, wrapped file keys in Manifest.mbdb,
// AES-256-CBC files), straight from OpenSSL calls and independently of the program's code.
// Failures throw std::runtime_error, so benchmarks can use it without a test framework.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testenv {

struct BackupFile {
    std::string domain = "HomeDomain";
    std::string path;
    std::string contents;
    uint32_t protectionClass = 3;
};

struct BackupOptions {
    bool encrypted = true;
    std::string password = "secret";
    std::string salt = std::string(20, '\x5a');
    uint32_t iterations = 10000;
    bool binaryManifestPlist = false;
};

// The message and contacts databases as a phone names them.
BackupFile SmsDatabase(std::string contents);
BackupFile ContactsDatabase(std::string contents);

// Writes Info.plist, Manifest.plist, Manifest.mbdb and each file under its hashed name into
// `folder` (made when missing).
void WriteBackupFolder(const std::string& folder, const std::vector<BackupFile>& files,
                       const BackupOptions& options);

// The pieces, for tests that build damaged inputs.
std::string HashedName(const std::string& domain, const std::string& path);
std::string RandomBytes(size_t size);
std::string DerivePasswordKey(const std::string& password, const std::string& salt,
                              uint32_t iterations);
std::string WrapKey(const std::string& kek, const std::string& key);
// AES-256-CBC with an all-zero IV and PKCS#7 padding.
std::string EncryptContents(const std::string& key, const std::string& plain);

struct KeybagClassKey {
    uint32_t protectionClass = 0;
    uint32_t wrap = 2;
    std::string wrappedKey;  // 40 bytes
};
// TLV items: VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER, then UUID, CLAS, WRAP, KTYP, WPKY per key.
// With a `doubleSalt` the header also has DPWT 1, DPIC `doubleIterations` and DPSL, and VERS 4,
// as in the bags of iOS 10.2 and later.
std::string BuildKeybag(const std::string& salt, uint32_t iterations,
                        const std::vector<KeybagClassKey>& classKeys,
                        const std::string& doubleSalt = {}, uint32_t doubleIterations = 0);
// PBKDF2-HMAC-SHA256, 32 bytes: the first step of those bags.
std::string DerivePasswordKeySha256(const std::string& password, const std::string& salt,
                                    uint32_t iterations);

// A Manifest.plist dictionary with IsEncrypted and, when not empty, BackupKeyBag.
std::string ManifestPlist(bool encrypted, const std::string& keybag, bool binary);

}  // namespace testenv
