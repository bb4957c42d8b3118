// The primitives against published vectors, and the keybag and manifest readers against inputs
// built by the test support code.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "backuptool/Crypto.h"
#include "backuptool/Keybag.h"
#include "backuptool/MbdbReader.h"
#include "platform/Sha1.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/MbdbWriter.h"

using namespace backuptool;

namespace {

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    return platform::HexLower(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(Crypto, Pbkdf2MatchesPublishedVectors) {
    // PBKDF2-HMAC-SHA1 vectors of RFC 6070; the first 20 of our 32 bytes are the same block.
    std::string key;
    ASSERT_TRUE(DerivePasswordKey("password", "salt", 2, key));
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(Hex(key.substr(0, 20)), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
    ASSERT_TRUE(DerivePasswordKey("password", "salt", 4096, key));
    EXPECT_EQ(Hex(key.substr(0, 20)), "4b007901b765489abead49d926f721d065a429c1");
    EXPECT_FALSE(DerivePasswordKey("password", "", 10, key));
    EXPECT_FALSE(DerivePasswordKey("password", "salt", 0, key));
}

TEST(Crypto, Pbkdf2Sha256MatchesPublishedVectorsAndTheLibrary) {
    // Widely published PBKDF2-HMAC-SHA256 vectors (the RFC 6070 inputs with SHA-256).
    std::string key;
    ASSERT_TRUE(DerivePasswordKeySha256("password", "salt", 1, key));
    EXPECT_EQ(Hex(key), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
    ASSERT_TRUE(DerivePasswordKeySha256("password", "salt", 2, key));
    EXPECT_EQ(Hex(key), "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
    ASSERT_TRUE(DerivePasswordKeySha256("password", "salt", 4096, key));
    EXPECT_EQ(Hex(key), "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");

    // Passwords around the HMAC block size (a longer key is hashed first) and salts that make the
    // first round span two blocks, against the library's own implementation.
    for (size_t passwordLength : {size_t{0}, size_t{63}, size_t{64}, size_t{65}, size_t{200}}) {
        for (size_t saltLength : {size_t{1}, size_t{20}, size_t{55}, size_t{56}, size_t{130}}) {
            for (uint32_t rounds : {1u, 3u, 257u}) {
                SCOPED_TRACE(std::to_string(passwordLength) + "/" + std::to_string(saltLength) +
                             "/" + std::to_string(rounds));
                const std::string password = testenv::RandomBytes(passwordLength);
                const std::string salt = testenv::RandomBytes(saltLength);
                ASSERT_TRUE(DerivePasswordKeySha256(password, salt, rounds, key));
                EXPECT_EQ(key, testenv::DerivePasswordKeySha256(password, salt, rounds));
            }
        }
    }
    EXPECT_FALSE(DerivePasswordKeySha256("password", "", 10, key));
    EXPECT_FALSE(DerivePasswordKeySha256("password", "salt", 0, key));
}

TEST(Crypto, Pbkdf2Sha256ReportsItsProgressUpToTheEnd) {
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    std::string key;
    ASSERT_TRUE(DerivePasswordKeySha256(
        "pw", "salt", 12345, key,
        [&](uint32_t done, uint32_t total) { calls.emplace_back(done, total); }));
    EXPECT_EQ(key, testenv::DerivePasswordKeySha256("pw", "salt", 12345));
    ASSERT_GE(calls.size(), 50u);
    EXPECT_LE(calls.size(), 102u);
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_LT(calls[i - 1].first, calls[i].first);
        EXPECT_EQ(calls[i].second, 12345u);
    }
    EXPECT_EQ(calls.back().first, 12345u);
    calls.clear();
    ASSERT_TRUE(DerivePasswordKeySha256("pw", "salt", 1, key, [&](uint32_t done, uint32_t total) {
        calls.emplace_back(done, total);
    }));
    EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}}));
}

TEST(Crypto, PkcsPaddingIsCheckedByteForByte) {
    unsigned char block[16];
    for (unsigned n = 1; n <= 16; ++n) {
        std::memset(block, 'x', sizeof block);
        std::memset(block + 16 - n, static_cast<int>(n), n);
        EXPECT_EQ(PkcsPaddingLength(block), n);
        if (n > 1) {
            block[16 - n] ^= 1;  // the first padding byte is wrong
            EXPECT_EQ(PkcsPaddingLength(block), 0u) << n;
        }
    }
    std::memset(block, 0, sizeof block);
    EXPECT_EQ(PkcsPaddingLength(block), 0u);
    block[15] = 17;
    EXPECT_EQ(PkcsPaddingLength(block), 0u);
}

TEST(Crypto, KeyUnwrapMatchesRfc3394AndRefusesAWrongKey) {
    // RFC 3394 section 4.6: a 256-bit key wrapped with a 256-bit key.
    const std::string kek =
        Unhex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const std::string wrapped =
        Unhex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    std::string key;
    ASSERT_TRUE(UnwrapKey(kek, wrapped, key));
    EXPECT_EQ(Hex(key), "00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f");

    std::string wrongKek = kek;
    wrongKek[0] ^= 1;
    EXPECT_FALSE(UnwrapKey(wrongKek, wrapped, key));
    std::string flipped = wrapped;
    flipped[20] ^= 0x80;
    EXPECT_FALSE(UnwrapKey(kek, flipped, key));
    EXPECT_FALSE(UnwrapKey(kek, wrapped.substr(0, 32), key));
    EXPECT_FALSE(UnwrapKey(kek.substr(0, 16), wrapped, key));
}

TEST(Crypto, CbcWithZeroIvDecryptsTheFirstBlockAsTheCipherItself) {
    // With an all-zero IV the first CBC block is the plain AES block: the AES-256 vector of
    // NIST SP 800-38A, F.1.5.
    const std::string key =
        Unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::string cipher = Unhex("f3eed1bdb5d2a03c064b5a7e3db181f8");
    CbcDecryptor decryptor(key);
    ASSERT_TRUE(decryptor.Ok());
    unsigned char plain[16];
    ASSERT_TRUE(decryptor.Update(reinterpret_cast<const unsigned char*>(cipher.data()), 16, plain));
    EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(plain), 16)),
              "6bc1bee22e409f96e93d7e117393172a");
    EXPECT_FALSE(
        decryptor.Update(reinterpret_cast<const unsigned char*>(cipher.data()), 15, plain));
    EXPECT_FALSE(CbcDecryptor(key.substr(0, 16)).Ok());
}

TEST(Keybag, ParsesHeaderAndClassEntriesAndUnlocksWithThePassword) {
    const std::string salt = testenv::RandomBytes(20);
    const std::string passwordKey = testenv::DerivePasswordKey("pass word", salt, 1000);
    std::map<uint32_t, std::string> keys;
    std::vector<testenv::KeybagClassKey> entries;
    for (uint32_t cls : {1u, 3u, 11u}) {
        keys[cls] = testenv::RandomBytes(32);
        entries.push_back({cls, 2, testenv::WrapKey(passwordKey, keys[cls])});
    }
    // A key held by the phone's own hardware is of no use in a backup and is skipped.
    entries.push_back({4, 1, testenv::RandomBytes(40)});
    const std::string bytes = testenv::BuildKeybag(salt, 1000, entries);

    Keybag bag;
    std::string error;
    ASSERT_TRUE(ParseKeybag(bytes, bag, error)) << error;
    EXPECT_EQ(bag.version, 3u);
    EXPECT_EQ(bag.type, 1u);
    EXPECT_EQ(bag.uuid, std::string(16, '\x01'));
    EXPECT_EQ(bag.salt, salt);
    EXPECT_EQ(bag.iterations, 1000u);
    ASSERT_EQ(bag.classKeys.size(), 4u);
    EXPECT_EQ(bag.classKeys[1].protectionClass, 3u);
    EXPECT_EQ(bag.classKeys[1].wrap, 2u);
    EXPECT_EQ(bag.classKeys[1].wrappedKey, entries[1].wrappedKey);

    std::map<uint32_t, std::string> unlocked;
    ASSERT_EQ(UnlockKeybag(bag, "pass word", unlocked, error), UnlockResult::Unlocked);
    EXPECT_EQ(unlocked, keys);
    EXPECT_EQ(UnlockKeybag(bag, "pass-word", unlocked, error), UnlockResult::WrongPassword);
    EXPECT_EQ(UnlockKeybag(bag, "", unlocked, error), UnlockResult::WrongPassword);
}

TEST(Keybag, DamagedBagsAreRefusedWithAReason) {
    const std::string salt(20, 's');
    const std::string good = testenv::BuildKeybag(salt, 10, {{3, 2, testenv::RandomBytes(40)}});
    Keybag bag;
    std::string error;
    EXPECT_FALSE(ParseKeybag(good.substr(0, good.size() - 1), bag, error));
    EXPECT_FALSE(ParseKeybag(testenv::BuildKeybag("", 10, {}), bag, error));
    EXPECT_FALSE(ParseKeybag(testenv::BuildKeybag(salt, 0, {}), bag, error));
    EXPECT_FALSE(ParseKeybag(testenv::BuildKeybag(salt, kMaxIterations + 1, {}), bag, error));
    std::string longLength = good;
    longLength[4] = '\x7f';  // VERS claims two gigabytes
    EXPECT_FALSE(ParseKeybag(longLength, bag, error));
}

TEST(Keybag, BagWithoutUsableKeysOrWithSomeBrokenOnesIsDamagedNotWrong) {
    const std::string salt(20, 's');
    const std::string passwordKey = testenv::DerivePasswordKey("pw", salt, 10);
    const std::string key3 = testenv::RandomBytes(32);
    Keybag bag;
    std::string error;
    std::map<uint32_t, std::string> unlocked;

    ASSERT_TRUE(ParseKeybag(testenv::BuildKeybag(salt, 10, {}), bag, error));
    EXPECT_EQ(UnlockKeybag(bag, "pw", unlocked, error), UnlockResult::Damaged);

    ASSERT_TRUE(ParseKeybag(testenv::BuildKeybag(salt, 10,
                                                 {{3, 2, testenv::WrapKey(passwordKey, key3)},
                                                  {4, 2, testenv::RandomBytes(40)}}),
                            bag, error));
    EXPECT_EQ(UnlockKeybag(bag, "pw", unlocked, error), UnlockResult::Damaged);
    EXPECT_EQ(unlocked, (std::map<uint32_t, std::string>{{3, key3}}));
}

TEST(Keybag, DoublyProtectedBagIsOpenedThroughBothSteps) {
    const std::string salt = testenv::RandomBytes(20);
    const std::string doubleSalt = testenv::RandomBytes(20);
    const std::string password = "Gr\u00fcne \u00c4pfel";
    // The key derived independently: SHA-256 first, its result as the SHA-1 step's password.
    const std::string passwordKey = testenv::DerivePasswordKey(
        testenv::DerivePasswordKeySha256(password, doubleSalt, 3000), salt, 10000);
    std::map<uint32_t, std::string> keys;
    std::vector<testenv::KeybagClassKey> entries;
    for (uint32_t cls : {1u, 3u, 4u}) {
        keys[cls] = testenv::RandomBytes(32);
        entries.push_back({cls, 2, testenv::WrapKey(passwordKey, keys[cls])});
    }
    const std::string bytes = testenv::BuildKeybag(salt, 10000, entries, doubleSalt, 3000);

    Keybag bag;
    std::string error;
    ASSERT_TRUE(ParseKeybag(bytes, bag, error)) << error;
    EXPECT_EQ(bag.version, 4u);
    EXPECT_TRUE(bag.DoublyProtected());
    EXPECT_EQ(bag.doubleProtectionWrap, 1u);
    EXPECT_EQ(bag.doubleProtectionIterations, 3000u);
    EXPECT_EQ(bag.doubleProtectionSalt, doubleSalt);
    EXPECT_EQ(bag.salt, salt);
    ASSERT_EQ(bag.classKeys.size(), 3u);

    std::string derived;
    ASSERT_TRUE(DeriveKeybagKey(bag, password, derived));
    EXPECT_EQ(derived, passwordKey);
    std::map<uint32_t, std::string> unlocked;
    ASSERT_EQ(UnlockKeybag(bag, password, unlocked, error), UnlockResult::Unlocked) << error;
    EXPECT_EQ(unlocked, keys);
    ASSERT_EQ(UnlockKeybagWithKey(bag, derived, unlocked, error), UnlockResult::Unlocked);
    EXPECT_EQ(unlocked, keys);
    EXPECT_EQ(UnlockKeybag(bag, "Gr\u00fcne Apfel", unlocked, error), UnlockResult::WrongPassword);
    EXPECT_TRUE(unlocked.empty());

    // Read as an older bag (the SHA-1 step alone) the same password is wrong: the first step
    // really is taken.
    Keybag older = bag;
    older.doubleProtectionSalt.clear();
    older.doubleProtectionIterations = 0;
    EXPECT_EQ(UnlockKeybag(older, password, unlocked, error), UnlockResult::WrongPassword);
}

TEST(Keybag, DoubleProtectionItemsOutOfRangeAreRefused) {
    const std::string salt(20, 's');
    const std::vector<testenv::KeybagClassKey> one = {{3, 2, testenv::RandomBytes(40)}};
    Keybag bag;
    std::string error;
    EXPECT_FALSE(ParseKeybag(testenv::BuildKeybag(salt, 10, one, salt, 0), bag, error));
    EXPECT_NE(error.find("DPIC"), std::string::npos) << error;
    EXPECT_FALSE(ParseKeybag(
        testenv::BuildKeybag(salt, 10, one, salt, kMaxDoubleProtectionIterations + 1), bag, error));
    EXPECT_TRUE(ParseKeybag(
        testenv::BuildKeybag(salt, 10, one, salt, kMaxDoubleProtectionIterations), bag, error))
        << error;

    // A DPIC without its salt: the bag is refused rather than opened the older way.
    std::string noSalt = testenv::BuildKeybag(salt, 10, one, "x", 1000);
    const size_t dpsl = noSalt.find("DPSL");
    ASSERT_NE(dpsl, std::string::npos);
    noSalt.erase(dpsl, 8 + 1);
    EXPECT_FALSE(ParseKeybag(noSalt, bag, error));
    // An integer item of five bytes that does not fit 32 bits.
    std::string wide = testenv::BuildKeybag(salt, 10, one, salt, 1000);
    const size_t dpic = wide.find("DPIC");
    ASSERT_NE(dpic, std::string::npos);
    wide.replace(dpic + 4, 8, std::string("\0\0\0\x05\x01\0\0\0", 8) + std::string(1, '\0'));
    EXPECT_FALSE(ParseKeybag(wide, bag, error));
}

TEST(MbdbReader, GivesSizesAndKeysAndRefusesEveryCutInsideARecord) {
    testenv::MbdbEntry a = testenv::HomeFile("Library/SMS/sms.db");
    a.size = 123456789012ULL;
    a.encryptionKey = std::string(44, 'k');
    a.properties = {{"p", "v"}};
    testenv::MbdbEntry b = testenv::HomeFile("Library/x");
    b.domain = "MediaDomain";
    b.mode = 040755;
    b.digest.reset();
    const std::string data = testenv::BuildMbdb({a, b});
    std::vector<std::string> seen;
    std::string error;
    ASSERT_TRUE(ReadMbdbRecords(
        data,
        [&](const MbdbFileRecord& r) {
            seen.push_back(std::string(r.domain) + "|" + std::string(r.path) + "|" +
                           std::to_string(r.size) + "|" + std::to_string(r.mode) + "|" +
                           std::string(r.encryptionKey));
        },
        error));
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "HomeDomain|Library/SMS/sms.db|123456789012|33188|" + std::string(44, 'k'),
                        "MediaDomain|Library/x|0|16877|"}));

    const size_t firstEnd = 6 + testenv::EncodeMbdbRecord(a).size();
    for (size_t cut = 6; cut < data.size(); ++cut) {
        const bool ok = ReadMbdbRecords(
            data.substr(0, cut), [](const MbdbFileRecord&) {}, error);
        EXPECT_EQ(ok, cut == 6 || cut == firstEnd) << cut;
    }
    EXPECT_FALSE(ReadMbdbRecords(
        "mbdb\x05", [](const MbdbFileRecord&) {}, error));
    EXPECT_FALSE(ReadMbdbRecords(
        std::string_view("MBDB\x05\x00", 6), [](const MbdbFileRecord&) {}, error));
}
