#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Sha1.h"
#include "store/CategoryRestore.h"
#include "store/DataCategory.h"
#include "tests/support/MbdbWriter.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::BuildMbdb;
using testenv::HomeFile;
using testenv::MbdbEntry;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr char kUdid[] = "0123456789abcdef0123456789abcdef01234567";

std::string Sha1Bytes(const std::string& data) {
    const platform::Sha1Digest d = platform::Sha1Of(data);
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

// A work backup as the phone leaves it: a manifest with the two databases' records among others,
// and the databases under their hashed names.
class WorkBackup {
  public:
    WorkBackup() {
        MbdbEntry game = HomeFile("Documents/save");
        game.domain = "AppDomain-com.example.game";
        entries_ = {HomeFile("Library/Preferences/p.plist"), game,
                    HomeFile("Library/SMS/sms.db", Sha1Bytes("phone sms")),
                    HomeFile("Library/AddressBook/AddressBook.sqlitedb", Sha1Bytes("phone book"))};
        WriteFile(Device() + "/Manifest.mbdb", BuildMbdb(entries_));
        WriteFile(Device() + "/" + kSmsDatabaseName, "phone sms");
        WriteFile(Device() + "/" + kContactsDatabaseName, "phone book");
    }
    std::string Work() const { return dir_.Path(); }
    std::string Device() const { return dir_ / kUdid; }
    std::string Manifest() const { return ReadFile(Device() + "/Manifest.mbdb"); }
    std::string Original() const { return BuildMbdb(entries_); }
    // The manifest expected after the restore preparation: stripped, with the given digests.
    std::string Expected(const std::string& smsDigest, const std::string& bookDigest) const {
        std::vector<MbdbEntry> e = {entries_[0], entries_[2], entries_[3]};
        e[1].digest = smsDigest;
        e[2].digest = bookDigest;
        return BuildMbdb(e);
    }

  private:
    TempDir dir_;
    std::vector<MbdbEntry> entries_;
};

}  // namespace

TEST(PrepareCategoryRestore, MessagesOnlyReplaceTheMessageDatabaseAndItsRecord) {
    WorkBackup work;
    TempDir own;  // one of the program's own category backups
    WriteFile(own / "sms", "chosen sms");
    WriteFile(own / "content", "chosen book");
    const std::string source = own.Path();
    ASSERT_EQ(PrepareCategoryRestore(Sms, kUdid, &source, work.Work()), 0);
    EXPECT_EQ(ReadFile(work.Device() + "/" + kSmsDatabaseName), "chosen sms");
    EXPECT_EQ(ReadFile(work.Device() + "/" + kContactsDatabaseName), "phone book");
    EXPECT_EQ(work.Manifest(), work.Expected(Sha1Bytes("chosen sms"), Sha1Bytes("phone book")));
    EXPECT_EQ(ReadFile(work.Device() + "/Manifest.mbdb_bak"), work.Original());
}

TEST(PrepareCategoryRestore, BothCategoriesPreferTheCopiesOverHashedNames) {
    WorkBackup work;
    TempDir source;
    WriteFile(source / "sms", "copy sms");
    WriteFile(source / kSmsDatabaseName, "hashed sms");
    WriteFile(source / kContactsDatabaseName, "hashed book");  // no "content" copy here
    const std::string folder = source.Path();
    ASSERT_EQ(PrepareCategoryRestore(Sms | Contacts, kUdid, &folder, work.Work()), 0);
    EXPECT_EQ(ReadFile(work.Device() + "/" + kSmsDatabaseName), "copy sms");
    EXPECT_EQ(ReadFile(work.Device() + "/" + kContactsDatabaseName), "hashed book");
    EXPECT_EQ(work.Manifest(), work.Expected(Sha1Bytes("copy sms"), Sha1Bytes("hashed book")));
}

TEST(PrepareCategoryRestore, WithoutSourceTheWorkBackupsOwnDatabasesAreHashed) {
    WorkBackup work;
    WriteFile(work.Device() + "/" + kContactsDatabaseName, "merged book");
    ASSERT_EQ(PrepareCategoryRestore(Contacts, kUdid, nullptr, work.Work()), 0);
    EXPECT_EQ(work.Manifest(), work.Expected(Sha1Bytes("phone sms"), Sha1Bytes("merged book")));
}

TEST(PrepareCategoryRestore, NoCategoryOnlyStrips) {
    WorkBackup work;
    EXPECT_EQ(PrepareCategoryRestore(Full, kUdid, nullptr, work.Work()), 0);
    EXPECT_EQ(work.Manifest(), work.Expected(Sha1Bytes("phone sms"), Sha1Bytes("phone book")));
}

TEST(PrepareCategoryRestore, RenameFailureStopsBeforeAnythingElse) {
    WorkBackup work;
    WriteFile(work.Device() + "/Manifest.mbdb_bak", "earlier run");
    TempDir source;
    WriteFile(source / "sms", "chosen sms");
    const std::string folder = source.Path();
    EXPECT_EQ(PrepareCategoryRestore(Sms, kUdid, &folder, work.Work()),
              platform::kErrorAlreadyExists);
    EXPECT_EQ(work.Manifest(), work.Original());
    EXPECT_EQ(ReadFile(work.Device() + "/Manifest.mbdb_bak"), "earlier run");
    EXPECT_EQ(ReadFile(work.Device() + "/" + kSmsDatabaseName), "phone sms");

    EXPECT_EQ(PrepareCategoryRestore(Sms, "no-such-device", &folder, work.Work()),
              platform::kErrorFileNotFound);
}

TEST(PrepareCategoryRestore, MissingSourceDatabaseGivesTheCopyError) {
    WorkBackup work;
    TempDir empty;
    const std::string folder = empty.Path();
    EXPECT_EQ(PrepareCategoryRestore(Contacts, kUdid, &folder, work.Work()),
              platform::kErrorFileNotFound);
    EXPECT_EQ(ReadFile(work.Device() + "/" + kContactsDatabaseName), "phone book");
}

TEST(PrepareCategoryRestore, DatabaseThatCannotBeHashedIsNeverPatchedIn) {
    WorkBackup work;
    platform::DeleteFile(work.Device() + "/" + kSmsDatabaseName);
    EXPECT_EQ(PrepareCategoryRestore(Sms, kUdid, nullptr, work.Work()),
              platform::kErrorFileNotFound);
    // Stripped, but the message record keeps its old digest.
    EXPECT_EQ(work.Manifest(), work.Expected(Sha1Bytes("phone sms"), Sha1Bytes("phone book")));
}

TEST(PrepareCategoryRestore, DamagedManifestEndsWithTheManifestCode) {
    WorkBackup work;
    const std::string damaged = work.Original().substr(0, work.Original().size() - 5);
    WriteFile(work.Device() + "/Manifest.mbdb", damaged);
    EXPECT_EQ(PrepareCategoryRestore(Sms, kUdid, nullptr, work.Work()),
              platform::kResultBadManifest);
    EXPECT_FALSE(platform::PathExists(work.Device() + "/Manifest.mbdb"));
    EXPECT_EQ(ReadFile(work.Device() + "/Manifest.mbdb_bak"), damaged);
}

TEST(PrepareCategoryRestore, FailedMessagePatchIsNotHiddenByTheContacts) {
    TempDir work;
    MbdbEntry sms = HomeFile("Library/SMS/sms.db", "short");
    const std::vector<MbdbEntry> entries = {sms,
                                            HomeFile("Library/AddressBook/AddressBook.sqlitedb")};
    const std::string device = work / kUdid;
    WriteFile(device + "/Manifest.mbdb", BuildMbdb(entries));
    WriteFile(device + "/" + kSmsDatabaseName, "s");
    WriteFile(device + "/" + kContactsDatabaseName, "c");
    EXPECT_EQ(PrepareCategoryRestore(Sms | Contacts, kUdid, nullptr, work.Path()),
              platform::kResultBadManifest);
    EXPECT_EQ(ReadFile(device + "/Manifest.mbdb"), BuildMbdb(entries));
}
