// Encrypted backups in the format of this phone generation (docs/encrypted-backups.md):
//
//   password key = PBKDF2-HMAC-SHA1(password, SALT, ITER), 32 bytes
//   keybag       = TLV items (4-byte tag, 4-byte big-endian length, value): a header (VERS 3,
//                  TYPE 1, UUID, HMCK, WRAP 0, SALT, ITER) and one entry per protection class
//                  (UUID, CLAS, WRAP 2, KTYP 0, WPKY = class key wrapped with the password key)
//   file         = AES-256-CBC, zero IV, PKCS#7 padding, under a random file key
//   record key   = protection class (4 bytes little-endian) + file key wrapped with the class key
//
// Key wrapping is AES key wrap (RFC 3394) with its default IV; a failed unwrap of a class key
// means a wrong password.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "devsim/BackupContents.h"

namespace devsim {

class Random;

class BackupCipher {
  public:
    static constexpr uint32_t kIterations = 10000;

    // A new keybag for `password` with class keys, salt and identifiers from `random`, which
    // also supplies the file keys of this backup.
    static std::unique_ptr<BackupCipher> Create(const std::string& password, Random& random,
                                                uint32_t iterations = kIterations);
    // The keybag of a phone of iOS 10.2 or later: the header adds DPWT 1, DPIC `rounds` and a
    // DPSL salt, and the password key is PBKDF2-HMAC-SHA1(PBKDF2-HMAC-SHA256(password, DPSL,
    // DPIC), SALT, ITER).
    static std::unique_ptr<BackupCipher> CreateModern(const std::string& password, Random& random,
                                                      uint32_t rounds,
                                                      uint32_t iterations = kIterations);
    // Opens a keybag with a password (either kind). Null, with `error` set, when the bag is
    // malformed or the password is wrong.
    static std::unique_ptr<BackupCipher> Open(const std::string& keybag,
                                              const std::string& password, std::string& error);
    ~BackupCipher();

    const std::string& Keybag() const { return keybag_; }

    // A source that yields the encrypted bytes of `plain` under a fresh file key of the class.
    std::unique_ptr<FileSource> Encrypting(std::unique_ptr<FileSource> plain,
                                           uint8_t protectionClass);
    // The 44-byte record key of an Encrypting source.
    std::string RecordKey(FileSource& encrypting) const;

    // The file key inside a record key; false when the class is unknown or the unwrap fails.
    bool FileKey(const std::string& recordKey, std::string& fileKey) const;

  private:
    BackupCipher() = default;
    static std::unique_ptr<BackupCipher> Make(const std::string& password, Random& random,
                                              uint32_t rounds, uint32_t iterations);
    std::string keybag_;
    std::map<uint32_t, std::string> classKeys_;  // class → 32-byte key
    Random* random_ = nullptr;
};

// Decrypts a file piece by piece (AES-256-CBC, zero IV, PKCS#7).
class FileDecryptor {
  public:
    explicit FileDecryptor(const std::string& fileKey);
    ~FileDecryptor();
    FileDecryptor(const FileDecryptor&) = delete;
    FileDecryptor& operator=(const FileDecryptor&) = delete;
    // Appends the plain bytes of `size` more encrypted bytes to `out`.
    bool Update(const char* data, size_t size, std::string& out);
    // The last plain bytes; false when the padding is wrong (a wrong key or a damaged file).
    bool Final(std::string& out);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What a keybag says before any key is derived: the salt, the iteration count and the wrapped
// class keys. False, with `error` set, for a bag that is cut short, lacks one of them, or asks
// for more than kMaxIterations (a bag from the computer must not make the phone spin for hours).
struct KeybagContents {
    std::string salt;
    uint32_t iterations = 0;
    std::map<uint32_t, std::string> wrappedKeys;  // class → WPKY
    std::string doubleSalt;                       // DPSL; empty for a keybag of the older kind
    uint32_t doubleRounds = 0;                    // DPIC
};
inline constexpr uint32_t kMaxIterations = 10000000;
bool ParseKeybag(const std::string& keybag, KeybagContents& contents, std::string& error);

// AES key wrap and unwrap (RFC 3394) with a 256-bit key; public for tests.
bool AesWrap(const std::string& kek, const std::string& key, std::string& wrapped);
bool AesUnwrap(const std::string& kek, const std::string& wrapped, std::string& key);

// PBKDF2-HMAC-SHA1, 32 bytes.
std::string PasswordKey(const std::string& password, const std::string& salt, uint32_t iterations);
// PBKDF2-HMAC-SHA256, 32 bytes: the first step of the newer keybags.
std::string PasswordKeySha256(const std::string& password, const std::string& salt,
                              uint32_t iterations);

// The rounds of the SHA-256 step a real phone asks for.
inline constexpr uint32_t kPhoneDoubleRounds = 10000000;

}  // namespace devsim
