#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/Sha1.h"
#include "tests/support/TestEnv.h"

using namespace platform;

TEST(Sha1, KnownDigests) {
    EXPECT_EQ(HexLower(Sha1Of("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(HexUpper(Sha1Of("abc")), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    // The backup name of the message database: SHA-1 of domain, "-", path.
    EXPECT_EQ(HexLower(Sha1Of("HomeDomain-Library/SMS/sms.db")),
              "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(Sha1, FileDigestEqualsDigestOfContentsAcrossBufferBoundaries) {
    testenv::TempDir dir;
    std::string data;
    for (int i = 0; i < 200000; ++i) {
        data.push_back(static_cast<char>(i * 7));
    }
    testenv::WriteFile(dir / "f", data);
    Sha1Digest d{};
    ASSERT_EQ(Sha1OfFile(dir / "f", d), 0);
    EXPECT_EQ(d, Sha1Of(data));
    EXPECT_EQ(Sha1OfFile(dir / "missing", d), kErrorFileNotFound);
}

TEST(Sha1, ObjectGivesFreshDigestsAfterFinal) {
    // One object serves a whole walk of names: each Final must start the next digest afresh.
    Sha1 sha;
    sha.Update("ab");
    sha.Update("c");
    EXPECT_EQ(HexLower(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(HexLower(sha.Final()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    sha.Update("HomeDomain-Library/SMS/sms.db");
    EXPECT_EQ(HexLower(sha.Final()), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}
