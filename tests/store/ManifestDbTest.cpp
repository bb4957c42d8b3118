// Manifest.db: manifests made by the simulator's writer read through the product's reader, the
// checks every row passes, read-only opening that leaves the backup as it was, and the rewrite.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "devsim/ManifestDb.h"
#include "devsim/MbFile.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "store/ManifestDb.h"
#include "store/MbFile.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;

namespace {

devsim::MbdbRecord Rec(const std::string& domain, const std::string& path, uint16_t mode) {
    devsim::MbdbRecord r;
    r.domain = domain;
    r.path = path;
    r.mode = mode;
    if ((mode & 0xF000) == 0x8000) {
        r.digest = std::string(20, 'd');
        r.size = path.size();
    }
    return r;
}

std::vector<devsim::MbdbRecord> Records() {
    return {Rec("HomeDomain", "", 040755),
            Rec("HomeDomain", "Library/SMS", 040755),
            Rec("HomeDomain", "Library/SMS/sms.db", 0100644),
            Rec("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", 0100644),
            Rec("AppDomain-com.example.app", "Documents/a.txt", 0100644),
            Rec("AppDomainGroup-group.example", "b.txt", 0100644),
            Rec("MediaDomain", "Media/x.jpg", 0100644)};
}

std::string MakeDb(const std::vector<devsim::MbdbRecord>& records) {
    std::string error;
    std::string bytes = devsim::WriteManifestDb(records, error);
    EXPECT_FALSE(bytes.empty()) << error;
    return bytes;
}

// Runs SQL on a manifest's bytes and gives the changed bytes.
std::string Changed(const std::string& bytes, const std::string& sql) {
    testenv::TempDir dir;
    const std::string path = dir.Path() + "/m.db";
    testenv::WriteFile(path, bytes);
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    platform::SqlitePtr db(raw);
    char* msg = nullptr;
    EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK)
        << (msg ? msg : "");
    sqlite3_free(msg);
    db.reset();
    return testenv::ReadFile(path);
}

std::vector<ManifestRow> WalkAll(ManifestDb& db, int32_t& rc) {
    std::vector<ManifestRow> rows;
    rc = db.Walk([&](const ManifestRow& r) {
        rows.push_back(r);
        return true;
    });
    return rows;
}

}  // namespace

TEST(ManifestDbTest, NamesAndPaths) {
    EXPECT_EQ(HashedName("HomeDomain", "Library/SMS/sms.db"),
              "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_EQ(HashedName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"),
              "31bb7ba8914766d4ba40d6dfb6113c8b614be442");
    EXPECT_EQ(PrefixedFileName("3d0d7e5fb2ce288813306e4d4636395e047a3d28"),
              "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_TRUE(IsHashedName("31bb7ba8914766d4ba40d6dfb6113c8b614be442"));
    EXPECT_FALSE(IsHashedName("31BB7BA8914766D4BA40D6DFB6113C8B614BE442"));
    EXPECT_FALSE(IsHashedName("31bb7ba8914766d4ba40d6dfb6113c8b614be44"));
    EXPECT_FALSE(IsHashedName("../../../../../../../../../../../../etc/x"));

    EXPECT_TRUE(IsSafeRelativePath(""));
    EXPECT_TRUE(IsSafeRelativePath("Library/SMS/sms.db"));
    EXPECT_TRUE(IsSafeRelativePath("a..b/..c"));
    for (const char* bad :
         {"/etc/passwd", "..", "../x", "a/../b", "a/..", "a//b", "a/", "./a", "a/./b"}) {
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
    }
    EXPECT_FALSE(IsSafeRelativePath(std::string("a\0b", 3)));
}

TEST(ManifestDbTest, WalksTheSimulatorsManifestInFileIdOrder) {
    const std::vector<devsim::MbdbRecord> records = Records();
    ManifestDb db;
    ASSERT_EQ(db.OpenBytes(MakeDb(records)), 0) << db.Error();
    int32_t rc = 0;
    const std::vector<ManifestRow> rows = WalkAll(db, rc);
    ASSERT_EQ(rc, 0) << db.Error();
    ASSERT_EQ(rows.size(), records.size());
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_LT(rows[i - 1].fileID, rows[i].fileID);
    }
    size_t files = 0;
    for (const ManifestRow& row : rows) {
        EXPECT_EQ(row.fileID, HashedName(row.domain, row.relativePath));
        if (row.flags == kManifestFlagFile) {
            ++files;
            MbFile f;
            std::string error;
            ASSERT_TRUE(DecodeMbFile(row.file, f, error)) << error;
            EXPECT_EQ(f.relativePath, row.relativePath);
            EXPECT_EQ(f.size, row.relativePath.size());
        } else {
            EXPECT_EQ(row.flags, kManifestFlagFolder);
        }
    }
    EXPECT_EQ(files, 5u);

    // The walk stops when asked.
    size_t seen = 0;
    EXPECT_EQ(db.Walk([&](const ManifestRow&) { return ++seen < 2; }), 0);
    EXPECT_EQ(seen, 2u);

    ManifestRow row;
    bool found = false;
    ASSERT_EQ(db.Find("3d0d7e5fb2ce288813306e4d4636395e047a3d28", row, found), 0);
    EXPECT_TRUE(found);
    EXPECT_EQ(row.relativePath, "Library/SMS/sms.db");
    ASSERT_EQ(db.Find("0000000000000000000000000000000000000000", row, found), 0);
    EXPECT_FALSE(found);
    int64_t count = 0;
    ASSERT_EQ(db.CountRows(count), 0);
    EXPECT_EQ(count, 7);
}

TEST(ManifestDbTest, ReadOnlyOpenLeavesTheFolderAsItWas) {
    testenv::TempDir dir;
    // A name with URI characters must still name the file.
    const std::string folder = dir.Path() + "/a b%3F?#x";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/Manifest.db";
    const std::string bytes = MakeDb(Records());
    testenv::WriteFile(path, bytes);
    {
        ManifestDb db;
        ASSERT_EQ(db.OpenReadOnly(path), 0) << db.Error();
        int32_t rc = 0;
        EXPECT_EQ(WalkAll(db, rc).size(), 7u);
        EXPECT_EQ(rc, 0);
        int64_t removed = 0;
        EXPECT_NE(db.RemoveApplicationRows(removed), 0);  // read-only
    }
    EXPECT_EQ(testenv::ReadFile(path), bytes);
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);  // no journal, WAL or lock file beside it

    ManifestDb db;
    EXPECT_EQ(db.OpenReadOnly(folder + "/none.db"), platform::kResultMissing);
}

TEST(ManifestDbTest, DamagedOrForeignDatabasesAreRefused) {
    const std::string good = MakeDb(Records());
    ManifestDb db;
    EXPECT_EQ(db.OpenBytes("not a database at all, just text"), platform::kResultBadManifest);
    EXPECT_FALSE(db.Error().empty());
    EXPECT_EQ(db.OpenBytes(""), platform::kResultBadManifest);
    EXPECT_EQ(db.OpenBytes(Changed(good, "DROP TABLE Files")), platform::kResultBadManifest);

    // Pages overwritten in the middle: either the open or the walk says so.
    std::string damaged = good;
    for (size_t i = 4096; i < damaged.size() && i < 4096 * 3; ++i) {
        damaged[i] = static_cast<char>(0xA5);
    }
    int32_t rc = db.OpenBytes(damaged);
    if (rc == 0) {
        WalkAll(db, rc);
    }
    EXPECT_EQ(rc, platform::kResultBadManifest);
}

TEST(ManifestDbTest, OneObjectOpensImageAfterImage) {
    // One object reading several images in turn (refused ones between them) answers each time
    // for the image it was given last, never for an earlier one.
    std::vector<devsim::MbdbRecord> first = Records();
    std::vector<devsim::MbdbRecord> second = {Rec("HomeDomain", "Library/Other/x.db", 0100644)};
    const std::string sms = HashedName("HomeDomain", "Library/SMS/sms.db");
    ManifestDb db;
    ManifestRow row;
    bool found = false;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(db.OpenBytes(MakeDb(first)), 0) << db.Error();
        ASSERT_EQ(db.Find(sms, row, found), 0) << db.Error();
        EXPECT_TRUE(found);
        int64_t rows = 0;
        ASSERT_EQ(db.CountRows(rows), 0);
        EXPECT_EQ(rows, static_cast<int64_t>(first.size()));

        ASSERT_EQ(db.OpenBytes(MakeDb(second)), 0) << db.Error();
        ASSERT_EQ(db.Find(sms, row, found), 0) << db.Error();
        EXPECT_FALSE(found);
        int32_t rc = 0;
        const std::vector<ManifestRow> walked = WalkAll(db, rc);
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(walked.size(), 1u);
        EXPECT_EQ(walked[0].relativePath, "Library/Other/x.db");

        // A refused image leaves no earlier one readable.
        EXPECT_EQ(db.OpenBytes("not a database"), platform::kResultBadManifest);
        EXPECT_NE(db.Find(sms, row, found), 0);
        EXPECT_FALSE(found);
        EXPECT_NE(db.Walk([](const ManifestRow&) { return true; }), 0);
    }
}

TEST(ManifestDbTest, HostileRowsMakeTheManifestUnusable) {
    const std::string good = MakeDb(Records());
    const std::string sms = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    struct Case {
        const char* what;
        std::string sql;
    };
    const Case cases[] = {
        {"parent path",
         "UPDATE Files SET relativePath = '../../etc/passwd' WHERE fileID = '" + sms + "'"},
        {"absolute path",
         "UPDATE Files SET relativePath = '/etc/passwd' WHERE fileID = '" + sms + "'"},
        {"inner parent",
         "UPDATE Files SET relativePath = 'Library/../../x' WHERE fileID = '" + sms + "'"},
        {"fileID escapes",
         "UPDATE Files SET fileID = '../../../../../../../../../../../../../../x' WHERE fileID = "
         "'" +
             sms + "'"},
        {"fileID upper case",
         "UPDATE Files SET fileID = upper(fileID) WHERE fileID = '" + sms + "'"},
        {"fileID of another file",
         "UPDATE Files SET relativePath = 'Library/SMS/other.db' WHERE fileID = '" + sms + "'"},
        {"domain with slash",
         "UPDATE Files SET domain = 'Home/Domain' WHERE fileID = '" + sms + "'"},
        {"unknown flags", "UPDATE Files SET flags = 9 WHERE fileID = '" + sms + "'"},
        {"null path", "UPDATE Files SET relativePath = NULL WHERE fileID = '" + sms + "'"},
    };
    for (const Case& c : cases) {
        ManifestDb db;
        ASSERT_EQ(db.OpenBytes(Changed(good, c.sql)), 0) << c.what;
        int32_t rc = 0;
        WalkAll(db, rc);
        EXPECT_EQ(rc, platform::kResultBadManifest) << c.what;
        EXPECT_FALSE(db.Error().empty()) << c.what;
    }
    // Find checks its row as the walk does.
    ManifestDb db;
    ASSERT_EQ(db.OpenBytes(Changed(good, cases[0].sql)), 0);
    ManifestRow row;
    bool found = true;
    EXPECT_EQ(db.Find(sms, row, found), platform::kResultBadManifest);
    EXPECT_FALSE(found);
}

TEST(ManifestDbTest, RewriteRemovesApplicationRowsAndReplacesOneFile) {
    testenv::TempDir dir;
    const std::string path = dir.Path() + "/Manifest.db";
    std::vector<devsim::MbdbRecord> records = Records();
    records.push_back(Rec("AppDomainPlugin-com.example.ext", "c.txt", 0100644));
    // Not an application's domain, though LIKE 'AppDomain%' would fold it in.
    records.push_back(Rec("appdomainlike", "d.txt", 0100644));
    testenv::WriteFile(path, MakeDb(records));
    const std::string sms = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    {
        ManifestDb db;
        ASSERT_EQ(db.OpenForRewrite(path), 0) << db.Error();
        ASSERT_EQ(db.Begin(), 0);
        int64_t removed = 0;
        ASSERT_EQ(db.RemoveApplicationRows(removed), 0);
        EXPECT_EQ(removed, 3);
        ManifestRow row;
        bool found = false;
        ASSERT_EQ(db.Find(sms, row, found), 0);
        ASSERT_TRUE(found);
        std::string updated;
        std::string error;
        ASSERT_TRUE(UpdateMbFileContent(row.file, 99, std::string(20, 'z'), updated, error));
        ASSERT_EQ(db.ReplaceFile(sms, updated), 0);
        EXPECT_EQ(db.ReplaceFile("0000000000000000000000000000000000000000", updated),
                  platform::kResultMissing);
        ASSERT_EQ(db.Commit(), 0);
    }
    // The simulator's reader (the phone's side) reads the result.
    std::string error;
    std::vector<devsim::MbdbRecord> back;
    ASSERT_TRUE(devsim::ReadManifestDb(testenv::ReadFile(path), back, error)) << error;
    EXPECT_EQ(back.size(), records.size() - 3);
    bool sawSms = false;
    for (const devsim::MbdbRecord& r : back) {
        EXPECT_NE(r.domain.rfind("AppDomain", 0), 0u) << r.domain;
        if (r.path == "Library/SMS/sms.db") {
            sawSms = true;
            EXPECT_EQ(r.size, 99u);
            EXPECT_EQ(r.digest, std::string(20, 'z'));
        }
    }
    EXPECT_TRUE(sawSms);
}

TEST(ManifestDbTest, CopyWithoutApplicationRowsKeepsSchemaAndTheRest) {
    testenv::TempDir dir;
    const std::string source = dir.Path() + "/it's Manifest.db";  // a quote in the name
    const std::string target = dir.Path() + "/copy.db";
    std::vector<devsim::MbdbRecord> records = Records();
    records.push_back(Rec("appdomainlike", "d.txt", 0100644));
    const std::string bytes = MakeDb(records);
    testenv::WriteFile(source, Changed(bytes, "INSERT INTO Properties VALUES ('salt', x'0102')"));
    const std::string before = testenv::ReadFile(source);
    testenv::WriteFile(target, "an older copy");

    std::string error;
    ASSERT_EQ(ManifestDb::CopyWithoutApplicationRows(source, target, error), 0) << error;
    EXPECT_EQ(testenv::ReadFile(source), before);  // only read
    std::vector<devsim::MbdbRecord> back;
    ASSERT_TRUE(devsim::ReadManifestDb(testenv::ReadFile(target), back, error)) << error;
    EXPECT_EQ(back.size(), records.size() - 2);  // the application and its group
    for (const devsim::MbdbRecord& r : back) {
        EXPECT_NE(r.domain.rfind("AppDomain", 0), 0u) << r.domain;
    }
    // The indexes and the other table came along.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(target.c_str(), &raw), SQLITE_OK);
    platform::SqlitePtr db(raw);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw,
                                 "SELECT (SELECT count(*) FROM sqlite_master WHERE type = 'index' "
                                 "AND sql IS NOT NULL), (SELECT count(*) FROM Properties)",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    platform::SqliteStmtPtr owned(stmt);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 3);
    EXPECT_EQ(sqlite3_column_int(stmt, 1), 1);
    owned.reset();
    db.reset();

    // A source that is no manifest leaves no target behind.
    testenv::WriteFile(source, "garbage");
    EXPECT_EQ(ManifestDb::CopyWithoutApplicationRows(source, target, error),
              platform::kResultBadManifest);
    EXPECT_FALSE(std::filesystem::exists(target));
}
