// The two generations of backup folder as the catalogue and the restore checks see them: which
// format a folder or phone has, where its databases lie, how encryption is told, and the checks
// made before a backup of the newer layout reaches a phone.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "devsim/ManifestDb.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr char kDevice[] = "0123456789abcdef0123456789abcdef01234567";

std::string PlistXml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

devsim::MbdbRecord FileRecord(const std::string& path) {
    devsim::MbdbRecord r;
    r.domain = "HomeDomain";
    r.path = path;
    r.mode = 0100644;
    r.size = 3;
    return r;
}

// A device folder of the newer layout holding both databases.
void MakeModernFolder(const std::string& device, bool encrypted, const std::string& version) {
    std::filesystem::create_directories(device + "/3d");
    std::filesystem::create_directories(device + "/31");
    std::string error;
    WriteFile(device + "/Manifest.db",
              devsim::WriteManifestDb({FileRecord("Library/SMS/sms.db"),
                                       FileRecord("Library/AddressBook/AddressBook.sqlitedb")},
                                      error));
    WriteFile(device + "/Manifest.plist", PlistXml(std::string("<key>IsEncrypted</key>") +
                                                   (encrypted ? "<true/>" : "<false/>")));
    WriteFile(device + "/Info.plist",
              PlistXml("<key>Display Name</key>\n<string>Modern</string>\n"
                       "<key>Last Backup Date</key>\n<date>2024-05-01T10:00:00Z</date>\n"
                       "<key>Product Version</key>\n<string>" +
                       version + "</string>\n"));
    WriteFile(device + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "SQLite format 3");
    WriteFile(device + "/31/31bb7ba8914766d4ba40d6dfb6113c8b614be442", "SQLite format 3");
}

}  // namespace

TEST(BackupFormat, FoldersAndPhonesByGeneration) {
    TempDir dir;
    EXPECT_EQ(DeviceFolderFormat(dir.Path()), BackupFormat::Unknown);
    WriteFile(dir / "Manifest.mbdb", "mbdb\x05\x00");
    EXPECT_EQ(DeviceFolderFormat(dir.Path()), BackupFormat::Mbdb);
    WriteFile(dir / "Manifest.db", "x");
    EXPECT_EQ(DeviceFolderFormat(dir.Path()), BackupFormat::Database);

    EXPECT_EQ(PhoneBackupFormat("7.1.2"), BackupFormat::Mbdb);
    EXPECT_EQ(PhoneBackupFormat("9.3.5"), BackupFormat::Mbdb);
    EXPECT_EQ(PhoneBackupFormat("10.0"), BackupFormat::Database);
    EXPECT_EQ(PhoneBackupFormat("18.1"), BackupFormat::Database);
    EXPECT_EQ(PhoneBackupFormat(""), BackupFormat::Unknown);
    EXPECT_STREQ(BackupFormatName(BackupFormat::Database), "Manifest.db");
    EXPECT_STREQ(BackupFormatName(BackupFormat::Mbdb), "Manifest.mbdb");
    EXPECT_EQ(FileInfoProductVersion("Zoë's phone(iPhone 17.5)"), "17.5");
    EXPECT_EQ(FileInfoProductVersion("odd name (x) (iPhone 7.1.2)"), "7.1.2");
    EXPECT_EQ(FileInfoProductVersion("no version"), "");
}

TEST(BackupFormat, DatabasesAreFoundWhereEachLayoutKeepsThem) {
    TempDir dir;
    const std::string device = dir / kDevice;
    MakeModernFolder(device, false, "17.5");
    EXPECT_EQ(DeviceFolderDatabasePath(device, Sms),
              device + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_EQ(DeviceFolderDatabasePath(device, BackupFormat::Mbdb, Contacts),
              device + "/31bb7ba8914766d4ba40d6dfb6113c8b614be442");
    EXPECT_EQ(FindCategoryDatabase(device, Contacts),
              device + "/31/31bb7ba8914766d4ba40d6dfb6113c8b614be442");
    // The flat name wins over the prefixed one, the own copy over both.
    WriteFile(device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "flat");
    EXPECT_EQ(FindCategoryDatabase(device, Sms),
              device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    WriteFile(device + "/sms", "copy");
    EXPECT_EQ(FindCategoryDatabase(device, Sms), device + "/sms");
    EXPECT_EQ(FindCategoryDatabase(dir / "none", Sms), "");
}

TEST(BackupFormat, CatalogueTellsFormatAndEncryptionOfNewerBackups) {
    TempDir dir;
    MakeModernFolder(dir / "aaaa", false, "17.5");
    MakeModernFolder(dir / "bbbb", true, "16.0");
    std::vector<BackupEntry> entries;
    ListItunesBackupsIn(dir.Path(), entries);
    ASSERT_EQ(entries.size(), 2u);
    for (const BackupEntry& e : entries) {
        EXPECT_EQ(e.format, BackupFormat::Database) << e.folder;
        // The databases themselves are plain SQLite here: only Manifest.plist tells.
        EXPECT_EQ(e.encrypted, e.folder == dir / "bbbb" ? 1 : 0) << e.folder;
    }
    EXPECT_TRUE(IsEncryptedDeviceFolder(dir / "bbbb"));
    EXPECT_FALSE(IsEncryptedDeviceFolder(dir / "aaaa"));

    // Own backups: whole ones by their device folder, category ones by the phone's version.
    const std::string own = dir / "own";
    MakeModernFolder(own + "/2024-05-01-10-00-00/" + kDevice, false, "17.5");
    WriteFile(own + "/2024-05-01-10-00-00/fileinfo", "8\r\n2024-05-01 10:00:00\r\nP(iPhone 17.5)");
    std::filesystem::create_directories(own + "/2024-05-02-10-00-00");
    WriteFile(own + "/2024-05-02-10-00-00/sms", "SQLite format 3");
    WriteFile(own + "/2024-05-02-10-00-00/fileinfo", "4\r\n2024-05-02 10:00:00\r\nP(iPhone 7.1.2)");
    entries.clear();
    ListOwnBackups(own, entries);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].format, BackupFormat::Mbdb);      // the category backup, newest
    EXPECT_EQ(entries[1].format, BackupFormat::Database);  // the whole one
}

TEST(BackupFormat, ManifestCheckBeforeARestore) {
    TempDir dir;
    const std::string device = dir / kDevice;
    MakeModernFolder(device, false, "17.5");
    std::string problem;
    EXPECT_EQ(CheckBackupManifestDb(device, Sms | Contacts, problem), 0) << problem;

    auto exec = [&](const std::string& sql) {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open((device + "/Manifest.db").c_str(), &raw), SQLITE_OK);
        platform::SqlitePtr db(raw);
        ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    };
    exec("DELETE FROM Files WHERE relativePath = 'Library/AddressBook/AddressBook.sqlitedb'");
    EXPECT_EQ(CheckBackupManifestDb(device, Sms, problem), 0) << problem;
    EXPECT_EQ(CheckBackupManifestDb(device, Contacts, problem), platform::kResultBadManifest);
    EXPECT_NE(problem.find("contacts database"), std::string::npos) << problem;

    exec("UPDATE Files SET relativePath = '../../x'");
    problem.clear();
    EXPECT_EQ(CheckBackupManifestDb(device, 0, problem), platform::kResultBadManifest);
    EXPECT_NE(problem.find("outside its domain"), std::string::npos) << problem;

    WriteFile(device + "/Manifest.db", std::string(4096, 'z'));
    EXPECT_EQ(CheckBackupManifestDb(device, 0, problem), platform::kResultBadManifest);
    EXPECT_NE(problem.find("damaged"), std::string::npos) << problem;

    // An encrypted manifest cannot be read here; the older layout has no such manifest.
    WriteFile(device + "/Manifest.plist", PlistXml("<key>IsEncrypted</key><true/>"));
    EXPECT_EQ(CheckBackupManifestDb(device, Sms, problem), 0);
    EXPECT_EQ(CheckBackupManifestDb(dir.Path(), Sms, problem), 0);
}

TEST(BackupFormat, BackupsOfANewerGenerationDoNotFitAnOlderPhone) {
    TempDir dir;
    const std::string device = dir / kDevice;
    MakeModernFolder(device, false, "17.5");
    std::string problem;
    EXPECT_EQ(CheckBackupFitsPhone(device, "7.1.2", problem), platform::IMPORT_BAD_FILE);
    EXPECT_NE(problem.find("Manifest.db"), std::string::npos) << problem;
    EXPECT_EQ(CheckBackupFitsPhone(device, "16.4", problem), platform::IMPORT_BAD_FILE);
    EXPECT_NE(problem.find("17.5"), std::string::npos) << problem;
    problem.clear();
    EXPECT_EQ(CheckBackupFitsPhone(device, "17.0", problem), 0) << problem;
    EXPECT_EQ(CheckBackupFitsPhone(device, "18.1", problem), 0) << problem;
    EXPECT_EQ(CheckBackupFitsPhone(device, "", problem), 0) << problem;
}
