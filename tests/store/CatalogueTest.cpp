#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::ScopedEnv;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

const std::string kUdid = "0123456789abcdef0123456789abcdef01234567";
const std::string kSqliteHeader = std::string("SQLite format 3") + '\0' + "rest of a database";

void MakeOwn(const std::string& root, const std::string& stamp, const std::string& fileinfo) {
    WriteFile(root + "/" + stamp + "/fileinfo", fileinfo);
}

std::string ItunesInfo(const std::string& name, const std::string& date) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    if (!name.empty()) {
        s += "\t<key>Display Name</key>\n\t<string>" + name + "</string>\n";
    }
    if (!date.empty()) {
        s += "\t<key>Last Backup Date</key>\n\t<date>" + date + "</date>\n";
    }
    s += "\t<key>Phone Number</key>\n\t<string>+1 555</string>\n";
    s += "\t<key>Serial Number</key>\n\t<string>F00</string>\n";
    s += "\t<key>Display Name</key>\n\t<string>after serial, never read</string>\n";
    return s + "</dict>\n</plist>\n";
}

}  // namespace

TEST(OwnBackups, NewestFolderFirstAndFileinfoReadExactly) {
    TempDir root;
    MakeOwn(root.Path(), "2015-01-01-10-00-00",
            "8\r\n2015-01-01-10-00-00\r\nMy iPhone(iPhone 7.1.2)");
    MakeOwn(root.Path(), "2015-02-01-10-00-00",
            "6\r\n2015-02-01-10-00-00\r\nJos\xC3\xA9(iPhone 7.1)");
    WriteFile(root / "2015-02-01-10-00-00/sms", kSqliteHeader);
    WriteFile(root / "2015-02-01-10-00-00/content", kSqliteHeader);
    std::vector<BackupEntry> entries;
    EXPECT_EQ(ListOwnBackups(root.Path(), entries), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].date, L"2015-02-01-10-00-00");
    EXPECT_EQ(entries[0].name, L"Jos\u00E9(iPhone 7.1)");
    EXPECT_EQ(entries[0].categories, 6);
    EXPECT_EQ(entries[0].folder, root / "2015-02-01-10-00-00");
    EXPECT_EQ(entries[1].categories, 8);
    EXPECT_EQ(entries[1].name, L"My iPhone(iPhone 7.1.2)");  // no CR left at the end
    EXPECT_EQ(entries[1].encrypted, 0);
}

TEST(OwnBackups, EncryptedCategoryCopiesAreNotListedAndDoNotAffectOthers) {
    TempDir root;
    MakeOwn(root.Path(), "2015-01-01-00-00-01", "4\r\n2015-01-01-00-00-01\r\nA(iPhone 7.1)");
    WriteFile(root / "2015-01-01-00-00-01/sms", "\x8F\x11 encrypted bytes");
    MakeOwn(root.Path(), "2015-01-01-00-00-02", "4\r\n2015-01-01-00-00-02\r\nB(iPhone 7.1)");
    WriteFile(root / "2015-01-01-00-00-02/sms", "sqlite format 3, any case");
    // Categories 6 tests the message copy only: an encrypted contacts copy does not matter.
    MakeOwn(root.Path(), "2015-01-01-00-00-03", "6\r\n2015-01-01-00-00-03\r\nC(iPhone 7.1)");
    WriteFile(root / "2015-01-01-00-00-03/sms", kSqliteHeader);
    WriteFile(root / "2015-01-01-00-00-03/content", "garbage");
    // Contacts only, copy missing: cannot be opened, so it counts as not encrypted.
    MakeOwn(root.Path(), "2015-01-01-00-00-04", "2\r\n2015-01-01-00-00-04\r\nD(iPhone 7.1)");
    std::vector<BackupEntry> entries;
    ListOwnBackups(root.Path(), entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, L"D(iPhone 7.1)");
    EXPECT_EQ(entries[1].name, L"C(iPhone 7.1)");
    EXPECT_EQ(entries[2].name, L"B(iPhone 7.1)");
    for (const auto& e : entries) {
        EXPECT_EQ(e.encrypted, 0);
    }
}

TEST(OwnBackups, FullBackupEncryptionComesFromItsDeviceFolder) {
    TempDir root;
    MakeOwn(root.Path(), "2015-03-01-00-00-00", "8\r\n2015-03-01-00-00-00\r\nPlain(iPhone 7.1)");
    WriteFile(root / ("2015-03-01-00-00-00/" + kUdid + "/Manifest.mbdb"), "mbdb");
    MakeOwn(root.Path(), "2015-03-02-00-00-00", "8\r\n2015-03-02-00-00-00\r\nLocked(iPhone 7.1)");
    WriteFile(root / ("2015-03-02-00-00-00/" + kUdid + "/" + kContactsDatabaseName + ".mddata"),
              "\x01\x02\x03\x04\x05\x06\x07");
    std::vector<BackupEntry> entries;
    ListOwnBackups(root.Path(), entries);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"Locked(iPhone 7.1)");
    EXPECT_EQ(entries[0].encrypted, 1);
    EXPECT_EQ(entries[1].encrypted, 0);  // no contacts database under either name
}

TEST(OwnBackups, IncompleteOrOddFileinfo) {
    TempDir root;
    MakeOwn(root.Path(), "a-two-lines", "8\r\n2015-01-01-00-00-00\r\n");
    MakeOwn(root.Path(), "b-not-a-number", "full\r\n2015-01-01-00-00-00\r\nX(iPhone 7.1)");
    MakeOwn(root.Path(), "c-empty", "");
    WriteFile(root / "d-no-fileinfo/other", "x");
    WriteFile(root / ".hidden/fileinfo", "8\r\nh\r\nHidden(iPhone 7.1)");
    WriteFile(root / "stray-file", "x");
    std::vector<BackupEntry> entries;
    ListOwnBackups(root.Path(), entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, L"X(iPhone 7.1)");
    EXPECT_EQ(entries[0].categories, 0);  // read as a full backup
    std::vector<BackupEntry> none;
    EXPECT_EQ(ListOwnBackups(root / "missing", none), 0);
    EXPECT_TRUE(none.empty());
}

TEST(OwnBackups, UserFolderEqualToTheDefaultIsListedOnce) {
    TempDir root;
    MakeOwn(root.Path(), "2015-01-01-00-00-00", "8\r\n2015-01-01-00-00-00\r\nA(iPhone 7.1)");
    std::vector<BackupEntry> entries;
    ListAllOwnBackups(root.Path(), root.Path(), entries);
    EXPECT_EQ(entries.size(), 1u);
    entries.clear();
    ListAllOwnBackups(root.Path(), root.Path() + "/", entries);  // written differently
    EXPECT_EQ(entries.size(), 2u);
    entries.clear();
    ListAllOwnBackups(root.Path(), "", entries);
    EXPECT_EQ(entries.size(), 1u);
}

TEST(FileInfo, WrittenExactlyAndTruncated) {
    TempDir dir;
    const std::string path = dir / "fileinfo";
    WriteFile(path, "8\r\n2015-01-01-00-00-00\r\nA much longer device name(iPhone 7.1.2)");
    ASSERT_EQ(WriteFileInfo(Contacts, "2015-03-04-09-05-07", "iPad", "iPad", "7.1", path), 0);
    EXPECT_EQ(ReadFile(path), "2\r\n2015-03-04-09-05-07\r\niPad(iPad 7.1)");
    EXPECT_NE(WriteFileInfo(Full, "t", "n", "c", "v", dir / "missing/fileinfo"), 0);

    // What is written reads back as an entry.
    testenv::WriteFile(dir / "2015-03-04-09-05-07/sms", kSqliteHeader);
    ASSERT_EQ(WriteFileInfo(Sms, "2015-03-04-09-05-07", "Jos\xC3\xA9", "iPhone", "7.1.2",
                            dir / "2015-03-04-09-05-07/fileinfo"),
              0);
    std::vector<BackupEntry> entries;
    ListOwnBackups(dir.Path(), entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].categories, Sms);
    EXPECT_EQ(entries[0].date, L"2015-03-04-09-05-07");
    EXPECT_EQ(entries[0].name, L"Jos\u00E9(iPhone 7.1.2)");
}

TEST(Encryption, DatabaseHeaderTest) {
    TempDir dir;
    WriteFile(dir / "plain", kSqliteHeader);
    WriteFile(dir / "upper", "SQLITE....");
    WriteFile(dir / "short", "SQL");
    WriteFile(dir / "enc", std::string(64, '\xA5'));
    EXPECT_FALSE(IsEncryptedDatabase(dir / "plain"));
    EXPECT_FALSE(IsEncryptedDatabase(dir / "upper"));
    EXPECT_TRUE(IsEncryptedDatabase(dir / "short"));
    EXPECT_TRUE(IsEncryptedDatabase(dir / "enc"));
    EXPECT_FALSE(IsEncryptedDatabase(dir / "missing"));
    // The plain name is preferred over ".mddata" when both exist.
    WriteFile(dir / (std::string("dev/") + kContactsDatabaseName), kSqliteHeader);
    WriteFile(dir / (std::string("dev/") + kContactsDatabaseName + ".mddata"), "xxxxxxxx");
    EXPECT_FALSE(IsEncryptedDeviceFolder(dir / "dev"));
    EXPECT_FALSE(IsEncryptedDeviceFolder(dir / "none"));
}

TEST(Listing, EntriesAndDeviceFolderNames) {
    TempDir dir;
    WriteFile(dir / (kUdid + "/x"), "");
    WriteFile(dir / "fileinfo", "");
    WriteFile(dir / ".0123456789abcdef0123456789abcdef0123456", "");  // hidden, 40 characters
    WriteFile(dir / "ffffffffffffffffffffffffffffffffffffffff", "");  // a file of 40 characters
    std::vector<std::string> paths;
    ListFolderEntries(dir.Path(), paths);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], dir / kUdid);
    std::vector<std::string> paths2;
    ListFolderEntries(dir.Path() + "/", paths2);
    EXPECT_EQ(paths2, paths);  // no doubled separator
    std::vector<std::string> names;
    ListDeviceFolderNames(dir.Path(), names);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], kUdid);
}

// The stored UTC moment is shown as the local time of that moment: the date changes with it,
// summer time counts, and zones with half hours keep their minutes.
TEST(ItunesDate, TheLocalTimeOfTheMomentWithDateAndSummerTime) {
    {
        ScopedEnv tz("TZ", "Asia/Tokyo");
        EXPECT_EQ(ConvertItunesDate("2015-11-01T21:59:14Z"), "2015-11-02 06:59:14");
        EXPECT_EQ(ConvertItunesDate("2015-12-31T15:00:00Z"), "2016-01-01 00:00:00");
    }
    {
        ScopedEnv tz("TZ", "Europe/Paris");
        EXPECT_EQ(ConvertItunesDate("2015-01-15T12:00:00Z"), "2015-01-15 13:00:00");
        EXPECT_EQ(ConvertItunesDate("2015-07-01T22:30:00Z"), "2015-07-02 00:30:00");
        // The night summer time ends: 02:30 summer time comes before 02:15 winter time.
        EXPECT_EQ(ConvertItunesDate("2015-10-25T00:30:00Z"), "2015-10-25 02:30:00");
        EXPECT_EQ(ConvertItunesDate("2015-10-25T01:15:00Z"), "2015-10-25 02:15:00");
        // A fraction of a second is left out; an explicit offset is honoured.
        EXPECT_EQ(ConvertItunesDate("2015-01-15T12:00:00.75Z"), "2015-01-15 13:00:00");
        EXPECT_EQ(ConvertItunesDate("2015-01-15T12:00:00+09:00"), "2015-01-15 04:00:00");
    }
    {
        ScopedEnv tz("TZ", "Asia/Kolkata");
        EXPECT_EQ(ConvertItunesDate("2015-03-04T20:45:00Z"), "2015-03-05 02:15:00");
    }
    {
        ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
        int64_t instant = 0;
        EXPECT_EQ(ConvertItunesDate("2016-03-01T02:10:00Z", &instant), "2016-02-29 21:10:00");
        EXPECT_EQ(instant, 1456798200);
    }
    // What cannot be read is shown as it stands.
    EXPECT_EQ(ConvertItunesDate("no separator"), "no separator");
    EXPECT_EQ(ConvertItunesDate("2015T"), "2015 ");
    EXPECT_EQ(ConvertItunesDate("2015-13-04T09:05:07Z"), "2015-13-04 09:05:07");
    EXPECT_EQ(ConvertItunesDate(""), "");
    int64_t unused = 0;
    EXPECT_FALSE(ParseItunesDate("2015-03-04T09:05:07Zjunk", unused));
    EXPECT_FALSE(ParseItunesDate("2015-03-04 09:05:07", unused));
}

// Backups are listed newest moment first, also where the local display text would sort them the
// other way (the repeated hour when summer time ends).
TEST(ItunesBackups, SortedByTheMomentNotTheText) {
    TempDir dir;
    ScopedEnv tz("TZ", "Europe/Paris");
    WriteFile(dir / "a/Info.plist", ItunesInfo("Summer", "2015-10-25T00:30:00Z"));
    WriteFile(dir / "b/Info.plist", ItunesInfo("Winter", "2015-10-25T01:15:00Z"));
    WriteFile(dir / "c/Info.plist", ItunesInfo("Day before", "2015-10-24T21:00:00Z"));
    std::vector<BackupEntry> entries;
    ListItunesBackupsIn(dir.Path(), entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, L"Winter");
    EXPECT_EQ(entries[0].date, L"2015-10-25 02:15:00");
    EXPECT_EQ(entries[1].name, L"Summer");
    EXPECT_EQ(entries[2].name, L"Day before");
    EXPECT_EQ(entries[2].date, L"2015-10-24 23:00:00");
}

TEST(ItunesBackups, NameDateSortAndEncryption) {
    IsolatedHome home;
    ScopedEnv tz("TZ", "EST5EDT,M3.2.0,M11.1.0");
    const std::string base = home.Home() + "/.local/share/Apple Computer/MobileSync/Backup";
    WriteFile(base + "/aaaa/Info.plist", ItunesInfo("Old &amp; Trusty", "2014-01-01T12:00:00Z"));
    WriteFile(base + "/bbbb/Info.plist", ItunesInfo("Newest", "2015-06-01T02:10:00Z"));
    WriteFile(base + "/bbbb/" + kContactsDatabaseName, std::string(32, '\x7E'));
    WriteFile(base + "/cccc/Info.plist", ItunesInfo("No date", ""));
    WriteFile(base + "/dddd/Info.plist", "bplist00\x01\x02 binary plists give no name");
    WriteFile(base + "/eeee/other", "no Info.plist");
    std::vector<BackupEntry> entries;
    EXPECT_EQ(ListItunesBackups(entries), 0);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, L"Newest");
    EXPECT_EQ(entries[0].date, L"2015-05-31 22:10:00");
    EXPECT_EQ(entries[0].encrypted, 1);
    EXPECT_EQ(entries[0].categories, Full);
    EXPECT_EQ(entries[0].folder, base + "/bbbb");
    EXPECT_EQ(entries[1].name, L"Old & Trusty");
    EXPECT_EQ(entries[1].encrypted, 0);
    EXPECT_EQ(entries[2].name, L"No date");
    EXPECT_EQ(entries[2].date, L"");
}

TEST(ItunesBackups, MalformedValueLinesReadNothingOutsideTheLine) {
    TempDir dir;
    WriteFile(dir / "x/Info.plist",
              "<key>Display Name</key>\nname without markers</string>\n"
              "<key>Serial Number</key>\n<string>1</string>\n");
    WriteFile(dir / "y/Info.plist", "<key>Display Name</key>\n<string>Last line");
    WriteFile(dir / "z/Info.plist", "<key>Display Name</key>");  // marker on the last line
    std::vector<BackupEntry> entries;
    ListItunesBackupsIn(dir.Path(), entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, L"Last line");
}

// A second date key whose value cannot be read replaces the first whole: the list never shows one
// date's text while sorting by another's moment.
TEST(ItunesBackups, ALaterUnreadableDateLeavesNoMomentOfTheEarlierOne) {
    std::string info =
        "<key>Last Backup Date</key>\n<date>2015-03-07T18:05:09Z</date>\n"
        "<key>Last Backup Date</key>\n<daplist>\n";
    std::FILE* f = fmemopen(info.data(), info.size(), "r");
    ASSERT_NE(f, nullptr);
    BackupEntry entry;
    ScanItunesInfo(f, entry);
    std::fclose(f);
    EXPECT_EQ(entry.instant, INT64_MIN);
    EXPECT_TRUE(entry.date.empty());
}

TEST(XmlText, DecodesReferencesAndKeepsMalformedOnes) {
    EXPECT_EQ(DecodeXmlText("Tom &amp; Jerry&apos;s &lt;b&gt; &quot;x&quot;"),
              "Tom & Jerry's <b> \"x\"");
    EXPECT_EQ(DecodeXmlText("&#233;&#xE9;"), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(DecodeXmlText("& alone, &unknown; &#xD800; &#;"), "& alone, &unknown; &#xD800; &#;");
}

TEST(BackupSpace, NewDataIsWhatNoOlderBackupShares) {
    TempDir dir("catalogue-space");
    const std::string base = dir.Path();
    const std::string udid(40, 'a');
    auto make = [&](const std::string& stamp) {
        WriteFile(base + "/" + stamp + "/fileinfo", "8\r\n" + stamp + "\r\nPhone(iPhone 7.1)");
        return base + "/" + stamp + "/" + udid;
    };
    const std::string a = make("2020-01-01-00-00-00");
    const std::string b = make("2020-01-02-00-00-00");
    const std::string c = make("2020-01-03-00-00-00");
    WriteFile(a + "/big", std::string(10000, 'x'));
    WriteFile(a + "/changed", std::string(300, 'y'));
    // b shares big with a and has its own copy of changed; c shares everything with b and adds one.
    WriteFile(b + "/changed", std::string(400, 'z'));
    ASSERT_EQ(platform::HardLink(a + "/big", b + "/big"), 0);
    WriteFile(c + "/added", std::string(50, 'w'));
    ASSERT_EQ(platform::HardLink(b + "/big", c + "/big"), 0);
    ASSERT_EQ(platform::HardLink(b + "/changed", c + "/changed"), 0);

    std::vector<BackupEntry> entries;
    ListOwnBackups(base, entries);
    ASSERT_EQ(entries.size(), 3u);
    MeasureBackupSpace(entries);
    // Newest first, as listed; fileinfo counts as the backup's own bytes.
    const uint64_t info = 2 + 2 + 19 + 2 + 16;
    EXPECT_EQ(entries[0].size, 10000u + 400 + 50 + info);
    EXPECT_EQ(entries[0].newData, 50u + info);
    EXPECT_EQ(entries[1].size, 10000u + 400 + info);
    EXPECT_EQ(entries[1].newData, 400u + info);
    EXPECT_EQ(entries[2].size, 10300u + info);
    EXPECT_EQ(entries[2].newData, entries[2].size);

    // Once the oldest is gone, the next one holds its files alone.
    testenv::RemoveTree(base + "/2020-01-01-00-00-00");
    entries.clear();
    ListOwnBackups(base, entries);
    MeasureBackupSpace(entries);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].newData, entries[1].size);
    EXPECT_EQ(entries[0].newData, 50u + info);
}
