#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Sha1.h"
#include "store/Manifest.h"
#include "tests/support/MbdbWriter.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::BuildMbdb;
using testenv::EncodeMbdbRecord;
using testenv::HomeFile;
using testenv::MbdbEntry;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

MbdbEntry AppFile(const std::string& domain, const std::string& path) {
    MbdbEntry e = HomeFile(path);
    e.domain = domain;
    return e;
}

// A manifest with a bit of everything: absent and empty strings, properties, links, folders.
std::vector<MbdbEntry> MixedEntries() {
    MbdbEntry folder;
    folder.path = "Library/SMS";
    folder.mode = 040755;
    MbdbEntry link = HomeFile("Library/link");
    link.linkTarget = "/var/mobile/target";
    link.digest.reset();
    MbdbEntry withProps = HomeFile("Library/SMS/sms.db");
    withProps.properties = {{"com.apple.x", "1"}, {"name", ""}};
    withProps.size = 4096;
    MbdbEntry emptyDigest = HomeFile("Library/Preferences/a.plist", "");
    MbdbEntry media = HomeFile("Media/DCIM/IMG_0001.JPG");
    media.domain = "MediaDomain";
    return {folder,
            AppFile("AppDomain-com.example.game", "Documents/save"),
            link,
            withProps,
            AppFile("AppDomain", "Library/Caches/x"),
            AppFile("AppDomain-com.example.game", "Library/Preferences/p.plist"),
            emptyDigest,
            media,
            AppFile("AppDomain-com.example.mail", "Documents/sms.db")};
}

std::vector<MbdbEntry> WithoutAppDomains(const std::vector<MbdbEntry>& entries) {
    std::vector<MbdbEntry> kept;
    for (const MbdbEntry& e : entries) {
        if (!e.domain || e.domain->rfind("AppDomain", 0) != 0) {
            kept.push_back(e);
        }
    }
    return kept;
}

// Offsets at which a record of `entries` ends inside BuildMbdb(entries).
std::vector<size_t> RecordEnds(const std::vector<MbdbEntry>& entries) {
    std::vector<size_t> ends;
    size_t pos = 6;
    for (const MbdbEntry& e : entries) {
        pos += EncodeMbdbRecord(e).size();
        ends.push_back(pos);
    }
    return ends;
}

std::string Hex20(char byte) {
    return platform::HexLower(reinterpret_cast<const uint8_t*>(std::string(20, byte).data()), 20);
}

}  // namespace

// --- the record walk -----------------------------------------------------------------------

TEST(MbdbWalk, EveryCutInsideARecordIsDamageAndEveryCutAtItsEndIsNot) {
    const std::vector<MbdbEntry> entries = MixedEntries();
    const std::string manifest = BuildMbdb(entries);
    const std::vector<size_t> ends = RecordEnds(entries);
    for (size_t cut = 0; cut < manifest.size(); ++cut) {
        size_t visited = 0;
        const int32_t result = WalkMbdbRecords(std::string_view(manifest).substr(0, cut),
                                               [&](const MbdbRecordSpan& r) {
                                                   EXPECT_LE(r.end, cut);
                                                   ++visited;
                                               });
        const bool atEnd = cut == 6 || std::find(ends.begin(), ends.end(), cut) != ends.end();
        if (cut < 4) {
            EXPECT_EQ(result, platform::kResultMissing) << cut;
        } else if (atEnd) {
            EXPECT_EQ(result, 0) << cut;
        } else {
            EXPECT_EQ(result, platform::kResultBadManifest) << cut;
        }
    }
}

TEST(MbdbWalk, PropertyCountBeyondTheDataIsDamage) {
    MbdbEntry e = HomeFile("Library/SMS/sms.db");
    e.properties = {{"a", "b"}};
    std::string manifest = BuildMbdb({e});
    manifest[manifest.size() - 7] = '\x05';  // the count byte: five pairs, one present
    EXPECT_EQ(WalkMbdbRecords(manifest, [](const MbdbRecordSpan&) {}),
              platform::kResultBadManifest);
}

TEST(MbdbWalk, AbsentAndZeroLengthStringsAreBothEmpty) {
    MbdbEntry absent = HomeFile("a");
    absent.domain.reset();
    absent.digest.reset();
    MbdbEntry empty = HomeFile("b");
    empty.domain = "";
    empty.digest = "";
    std::vector<MbdbRecordSpan> seen;
    ASSERT_EQ(WalkMbdbRecords(BuildMbdb({absent, empty}),
                              [&](const MbdbRecordSpan& r) { seen.push_back(r); }),
              0);
    ASSERT_EQ(seen.size(), 2u);
    for (const MbdbRecordSpan& r : seen) {
        EXPECT_TRUE(r.domain.empty());
        EXPECT_EQ(r.digestLength, 0u);
    }
    // Both forms take only their two length bytes.
    EXPECT_EQ(seen[0].end - seen[0].begin, seen[1].end - seen[1].begin);
}

// --- StripAppDomainRecords ------------------------------------------------------------------

TEST(StripAppDomainRecords, LeavesOutAppDomainsAndCopiesTheRestByteForByte) {
    TempDir dir;
    const std::vector<MbdbEntry> entries = MixedEntries();
    const std::string version("\xAB\x00", 2);
    WriteFile(dir / "src", BuildMbdb(entries, version));
    WriteFile(dir / "dst", std::string(100000, 'z'));  // replaced whole, not overwritten
    ASSERT_EQ(StripAppDomainRecords(dir / "src", dir / "dst"), 0);
    EXPECT_EQ(ReadFile(dir / "dst"), BuildMbdb(WithoutAppDomains(entries), version));
    EXPECT_EQ(ReadFile(dir / "src"), BuildMbdb(entries, version));
}

TEST(StripAppDomainRecords, OnlyTheExactPrefixCounts) {
    TempDir dir;
    const std::vector<MbdbEntry> kept = {AppFile("AppDomai", "x"), AppFile("appdomain-lower", "y"),
                                         AppFile("XAppDomain", "z"),
                                         AppFile("AppDomainGroup-g", "w")};
    WriteFile(dir / "src", BuildMbdb(kept));
    ASSERT_EQ(StripAppDomainRecords(dir / "src", dir / "dst"), 0);
    // "AppDomainGroup-g" begins with the nine characters too.
    EXPECT_EQ(ReadFile(dir / "dst"), BuildMbdb({kept[0], kept[1], kept[2]}));
}

TEST(StripAppDomainRecords, HeaderOnlyAndAllAppDomainsGiveSixBytes) {
    TempDir dir;
    const std::string header("mbdb\x05\x00", 6);
    WriteFile(dir / "empty", header);
    ASSERT_EQ(StripAppDomainRecords(dir / "empty", dir / "out1"), 0);
    EXPECT_EQ(ReadFile(dir / "out1"), header);

    WriteFile(dir / "apps", BuildMbdb({AppFile("AppDomain-a", "1"), AppFile("AppDomain", "2")}));
    ASSERT_EQ(StripAppDomainRecords(dir / "apps", dir / "out2"), 0);
    EXPECT_EQ(ReadFile(dir / "out2"), header);
}

TEST(StripAppDomainRecords, UnreadableOrDamagedSourceLeavesTheTargetAlone) {
    TempDir dir;
    const std::string keep = "previous target";
    const std::string good = BuildMbdb(MixedEntries());
    struct Case {
        const char* name;
        std::string contents;  // empty name: no source file at all
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"missing", "", platform::kResultBadManifest},
        {"no magic", "MBDB" + good.substr(4), platform::kResultMissing},
        {"too short for magic", "mbd", platform::kResultMissing},
        {"header cut", "mbdb\x05", platform::kResultBadManifest},
        {"last record cut", good.substr(0, good.size() - 3), platform::kResultBadManifest},
        {"string past the end", good + std::string("\x00\x10short", 7),
         platform::kResultBadManifest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string src = dir / "src";
        platform::DeleteFile(src);
        if (std::string(c.name) != "missing") {
            WriteFile(src, c.contents);
        }
        WriteFile(dir / "dst", keep);
        EXPECT_EQ(StripAppDomainRecords(src, dir / "dst"), c.expected);
        EXPECT_EQ(ReadFile(dir / "dst"), keep);
    }
    // And without a target, none is made.
    WriteFile(dir / "src", good.substr(0, good.size() - 1));
    EXPECT_EQ(StripAppDomainRecords(dir / "src", dir / "new"), platform::kResultBadManifest);
    EXPECT_FALSE(platform::PathExists(dir / "new"));
}

TEST(StripAppDomainRecords, TargetThatCannotBeWrittenGivesTheSystemCode) {
    TempDir dir;
    WriteFile(dir / "src", BuildMbdb(MixedEntries()));
    EXPECT_EQ(StripAppDomainRecords(dir / "src", dir / "no/such/folder/dst"),
              platform::kErrorFileNotFound);
    ASSERT_EQ(platform::CreateFolder(dir / "folder"), 0);
    EXPECT_NE(StripAppDomainRecords(dir / "src", dir / "folder"), 0);
    EXPECT_TRUE(platform::FolderExists(dir / "folder"));
}

// --- PatchManifestDigest --------------------------------------------------------------------

TEST(PatchManifestDigest, WritesTheTwentyBytesOfTheFirstMatchingPathOnly) {
    TempDir dir;
    MbdbEntry linkNamedLikeIt = HomeFile("Library/link");
    linkNamedLikeIt.linkTarget = "Library/SMS/sms.db";  // only the path is searched
    MbdbEntry domainNamedLikeIt = HomeFile("other");
    domainNamedLikeIt.domain = "sms.db";
    const std::vector<MbdbEntry> before = {
        linkNamedLikeIt, domainNamedLikeIt, HomeFile("Library/SMS/sms.db", std::string(20, 'a')),
        HomeFile("Library/SMS/sms.db-wal", std::string(20, 'b')),
        HomeFile("Library/AddressBook/AddressBook.sqlitedb", std::string(20, 'c'))};
    WriteFile(dir / "m", BuildMbdb(before));

    ASSERT_EQ(PatchManifestDigest("00112233445566778899AABBCCDDEEFFaabbccdd", dir / "m", "sms.db"),
              0);
    std::vector<MbdbEntry> after = before;
    after[2].digest = std::string(
        "\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF"
        "\xAA\xBB\xCC\xDD",
        20);
    EXPECT_EQ(ReadFile(dir / "m"), BuildMbdb(after));
}

TEST(PatchManifestDigest, EarlierMatchWinsOverTheDatabaseItself) {
    TempDir dir;
    const std::vector<MbdbEntry> before = {HomeFile("Library/SMS/sms.db-shm"),
                                           HomeFile("Library/SMS/sms.db")};
    WriteFile(dir / "m", BuildMbdb(before));
    ASSERT_EQ(PatchManifestDigest(Hex20('\x7f'), dir / "m", "sms.db"), 0);
    std::vector<MbdbEntry> after = before;
    after[0].digest = std::string(20, '\x7f');
    EXPECT_EQ(ReadFile(dir / "m"), BuildMbdb(after));
}

TEST(PatchManifestDigest, NoMatchLeavesTheManifestAsItWas) {
    TempDir dir;
    const std::string manifest = BuildMbdb(MixedEntries());
    WriteFile(dir / "m", manifest);
    EXPECT_EQ(PatchManifestDigest(Hex20('\x01'), dir / "m", "AddressBook.sqlitedb"), 0);
    EXPECT_EQ(ReadFile(dir / "m"), manifest);
    WriteFile(dir / "h", std::string("mbdb\x05\x00", 6));
    EXPECT_EQ(PatchManifestDigest(Hex20('\x01'), dir / "h", "sms.db"), 0);
    EXPECT_EQ(ReadFile(dir / "h"), std::string("mbdb\x05\x00", 6));
}

TEST(PatchManifestDigest, DigestFieldOfAnotherLengthIsNeverWritten) {
    TempDir dir;
    for (const std::optional<std::string>& digest :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>(std::string(19, 'd')),
          std::optional<std::string>(std::string(21, 'd'))}) {
        SCOPED_TRACE(digest ? std::to_string(digest->size()) : "absent");
        MbdbEntry target = HomeFile("Library/SMS/sms.db");
        target.digest = digest;
        const std::string manifest =
            BuildMbdb({target, HomeFile("Library/AddressBook/AddressBook.sqlitedb")});
        WriteFile(dir / "m", manifest);
        EXPECT_EQ(PatchManifestDigest(Hex20('\x02'), dir / "m", "sms.db"),
                  platform::kResultBadManifest);
        EXPECT_EQ(ReadFile(dir / "m"), manifest);
    }
}

TEST(PatchManifestDigest, DigestTextOtherThanFortyHexDigitsIsRefused) {
    TempDir dir;
    const std::string manifest = BuildMbdb({HomeFile("Library/SMS/sms.db")});
    WriteFile(dir / "m", manifest);
    for (const std::string& hex : {std::string(), std::string(39, 'A'), std::string(41, 'A'),
                                   std::string(38, 'A') + "G0", std::string(38, 'A') + " 1"}) {
        SCOPED_TRACE(hex);
        EXPECT_EQ(PatchManifestDigest(hex, dir / "m", "sms.db"), platform::kResultMissing);
        EXPECT_EQ(ReadFile(dir / "m"), manifest);
    }
}

TEST(PatchManifestDigest, DamagedOrMissingManifestIsNotWritten) {
    TempDir dir;
    // The match comes first; the damage only after it.
    const std::string good = BuildMbdb({HomeFile("Library/SMS/sms.db"), HomeFile("x")});
    const std::string damaged = good.substr(0, good.size() - 2);
    WriteFile(dir / "m", damaged);
    EXPECT_EQ(PatchManifestDigest(Hex20('\x03'), dir / "m", "sms.db"),
              platform::kResultBadManifest);
    EXPECT_EQ(ReadFile(dir / "m"), damaged);

    WriteFile(dir / "magic", "nope" + good.substr(4));
    EXPECT_EQ(PatchManifestDigest(Hex20('\x03'), dir / "magic", "sms.db"),
              platform::kResultMissing);
    EXPECT_EQ(PatchManifestDigest(Hex20('\x03'), dir / "absent", "sms.db"),
              platform::kResultBadManifest);
    EXPECT_FALSE(platform::PathExists(dir / "absent"));
}

// --- Sha1FileHex -----------------------------------------------------------------------------

TEST(Sha1FileHex, KnownDigestsInUpperCase) {
    TempDir dir;
    struct Case {
        std::string contents;
        const char* digest;
    };
    // Published SHA-1 test vectors; the last one spans many read chunks and ends mid-chunk.
    const std::vector<Case> cases = {
        {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "f", c.contents);
        char out[41] = {};
        ASSERT_EQ(Sha1FileHex(dir / "f", out), 0);
        EXPECT_STREQ(out, c.digest);
    }
}

TEST(Sha1FileHex, FileThatCannotBeHashedLeavesNoDigest) {
    TempDir dir;
    char out[41];
    std::fill(out, out + 41, 'x');
    EXPECT_EQ(Sha1FileHex(dir / "missing", out), platform::kErrorFileNotFound);
    EXPECT_STREQ(out, "");
    std::fill(out, out + 41, 'x');
    EXPECT_EQ(Sha1FileHex(dir.Path(), out), platform::kErrorAccessDenied);
    EXPECT_STREQ(out, "");
}
