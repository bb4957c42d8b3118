// The product's MBFile reader and writer: against the simulator's own writer (an independent
// encoder), round trips, the in-place content update, and strictness with damaged archives.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <functional>
#include <string>

#include "devsim/MbFile.h"
#include "platform/Handles.h"
#include "store/MbFile.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;

namespace {

devsim::MbdbRecord SimRecord() {
    devsim::MbdbRecord r;
    r.domain = "HomeDomain";
    r.path = "Library/SMS/sms.db";
    r.digest = std::string(20, '\x5a');
    r.encryptionKey = std::string("\x03\x00\x00\x00", 4) + std::string(40, '\x11');
    r.mode = 0100644;
    r.inode = 987654321012ULL;
    r.uid = 501;
    r.gid = 502;
    r.modified = 1700000000;
    r.accessed = 1700000100;
    r.created = 1600000000;
    r.size = 123456789;
    r.protectionClass = 3;
    return r;
}

std::string ToBinary(plist_t node) {
    char* out = nullptr;
    uint32_t n = 0;
    plist_to_bin(node, &out, &n);
    std::string s(out, n);
    free(out);
    return s;
}

platform::PlistPtr Parse(const std::string& bytes) {
    plist_t node = nullptr;
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return platform::PlistPtr(node);
}

std::string Mutated(const std::string& archive, const std::function<void(plist_t root)>& change) {
    platform::PlistPtr root = Parse(archive);
    change(root.get());
    return ToBinary(root.get());
}

}  // namespace

TEST(MbFileTest, ReadsEveryFieldTheSimulatorWrites) {
    const devsim::MbdbRecord r = SimRecord();
    MbFile f;
    std::string error;
    ASSERT_TRUE(DecodeMbFile(devsim::WriteMbFile(r), f, error)) << error;
    EXPECT_EQ(f.relativePath, r.path);
    EXPECT_EQ(f.size, r.size);
    EXPECT_EQ(f.mode, r.mode);
    EXPECT_TRUE(f.IsFile());
    EXPECT_EQ(f.userId, 501u);
    EXPECT_EQ(f.groupId, 502u);
    EXPECT_EQ(f.inodeNumber, r.inode);
    EXPECT_EQ(f.protectionClass, 3u);
    EXPECT_EQ(f.lastModified, 1700000000);
    EXPECT_EQ(f.birth, 1600000000);
    EXPECT_EQ(f.lastStatusChange, 1700000100);
    ASSERT_TRUE(f.digest.has_value());
    EXPECT_EQ(*f.digest, r.digest);
    ASSERT_TRUE(f.encryptionKey.has_value());
    EXPECT_EQ(*f.encryptionKey, r.encryptionKey);
    EXPECT_FALSE(f.target.has_value());
}

TEST(MbFileTest, FoldersAndLinksKeepWhatTheyHave) {
    devsim::MbdbRecord folder;
    folder.path = "Library/SMS";
    folder.mode = 040755;
    MbFile f;
    std::string error;
    ASSERT_TRUE(DecodeMbFile(devsim::WriteMbFile(folder), f, error)) << error;
    EXPECT_TRUE(f.IsFolder());
    EXPECT_FALSE(f.digest || f.encryptionKey || f.target);

    devsim::MbdbRecord link;
    link.path = "Library/link";
    link.mode = 0120755;
    link.linkTarget = "/var/mobile/elsewhere";
    ASSERT_TRUE(DecodeMbFile(devsim::WriteMbFile(link), f, error)) << error;
    EXPECT_TRUE(f.IsLink());
    ASSERT_TRUE(f.target.has_value());
    EXPECT_EQ(*f.target, "/var/mobile/elsewhere");
}

TEST(MbFileTest, OwnArchivesReadBackByBothReaders) {
    MbFile f;
    f.relativePath = "Library/AddressBook/AddressBook.sqlitedb";
    f.size = 4096;
    f.mode = 0100600;
    f.userId = 501;
    f.groupId = 501;
    f.inodeNumber = 42;
    f.protectionClass = 4;
    f.lastModified = -5;  // before 1970: kept through the two's complement
    f.birth = 1234567890;
    f.digest = std::string(20, '\x01');
    f.encryptionKey = std::string(44, '\x7f');
    const std::string bytes = EncodeMbFile(f);

    MbFile back;
    std::string error;
    ASSERT_TRUE(DecodeMbFile(bytes, back, error)) << error;
    EXPECT_EQ(back.relativePath, f.relativePath);
    EXPECT_EQ(back.size, 4096u);
    EXPECT_EQ(back.mode, 0100600u);
    EXPECT_EQ(back.lastModified, -5);
    EXPECT_EQ(back.birth, 1234567890);
    EXPECT_EQ(back.digest, f.digest);
    EXPECT_EQ(back.encryptionKey, f.encryptionKey);

    devsim::MbdbRecord sim;
    ASSERT_TRUE(devsim::ReadMbFile(bytes, sim, error)) << error;
    EXPECT_EQ(sim.path, f.relativePath);
    EXPECT_EQ(sim.size, 4096u);
    EXPECT_EQ(sim.encryptionKey, *f.encryptionKey);
    EXPECT_EQ(sim.digest, *f.digest);
    EXPECT_EQ(sim.protectionClass, 4);
}

TEST(MbFileTest, ContentUpdateChangesOnlySizeAndDigest) {
    const devsim::MbdbRecord r = SimRecord();
    const std::string original = devsim::WriteMbFile(r);
    const std::string digest(20, '\xee');
    std::string updated;
    std::string error;
    ASSERT_TRUE(UpdateMbFileContent(original, 777, digest, updated, error)) << error;
    MbFile before;
    MbFile after;
    ASSERT_TRUE(DecodeMbFile(original, before, error));
    ASSERT_TRUE(DecodeMbFile(updated, after, error)) << error;
    EXPECT_EQ(after.size, 777u);
    EXPECT_EQ(after.digest, digest);
    EXPECT_EQ(after.encryptionKey, before.encryptionKey);
    EXPECT_EQ(after.relativePath, before.relativePath);
    EXPECT_EQ(after.inodeNumber, before.inodeNumber);
    EXPECT_EQ(after.lastModified, before.lastModified);

    // A record without a digest gets one.
    devsim::MbdbRecord bare = r;
    bare.digest.clear();
    ASSERT_TRUE(UpdateMbFileContent(devsim::WriteMbFile(bare), 5, digest, updated, error));
    ASSERT_TRUE(DecodeMbFile(updated, after, error));
    EXPECT_EQ(after.digest, digest);
    // The simulator's reader agrees.
    devsim::MbdbRecord sim;
    ASSERT_TRUE(devsim::ReadMbFile(updated, sim, error)) << error;
    EXPECT_EQ(sim.digest, digest);
    EXPECT_EQ(sim.size, 5u);

    EXPECT_FALSE(UpdateMbFileContent("bplist00 nothing", 1, digest, updated, error));
}

TEST(MbFileTest, RefusesAnythingThatIsNotAnMbFileArchive) {
    const std::string good = devsim::WriteMbFile(SimRecord());
    MbFile f;
    std::string error;
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"xml plist", "<?xml version=\"1.0\"?><plist><dict/></plist>"},
        {"cut short", good.substr(0, good.size() / 2)},
        {"wrong archiver", Mutated(good,
                                   [](plist_t root) {
                                       plist_dict_set_item(root, "$archiver",
                                                           plist_new_string("Other"));
                                   })},
        {"wrong version",
         Mutated(good,
                 [](plist_t root) { plist_dict_set_item(root, "$version", plist_new_uint(5)); })},
        {"root out of range", Mutated(good,
                                      [](plist_t root) {
                                          plist_dict_set_item(plist_dict_get_item(root, "$top"),
                                                              "root", plist_new_uid(9999));
                                      })},
        {"root is $null", Mutated(good,
                                  [](plist_t root) {
                                      plist_dict_set_item(plist_dict_get_item(root, "$top"), "root",
                                                          plist_new_uid(0));
                                  })},
        {"path ref out of range",
         Mutated(good,
                 [](plist_t root) {
                     plist_t objects = plist_dict_get_item(root, "$objects");
                     plist_dict_set_item(plist_array_get_item(objects, 1), "RelativePath",
                                         plist_new_uid(1000));
                 })},
        {"no path", Mutated(good,
                            [](plist_t root) {
                                plist_t objects = plist_dict_get_item(root, "$objects");
                                plist_dict_remove_item(plist_array_get_item(objects, 1),
                                                       "RelativePath");
                            })},
        {"size is text", Mutated(good,
                                 [](plist_t root) {
                                     plist_t objects = plist_dict_get_item(root, "$objects");
                                     plist_dict_set_item(plist_array_get_item(objects, 1), "Size",
                                                         plist_new_string("12"));
                                 })},
        {"mode too large", Mutated(good,
                                   [](plist_t root) {
                                       plist_t objects = plist_dict_get_item(root, "$objects");
                                       plist_dict_set_item(plist_array_get_item(objects, 1), "Mode",
                                                           plist_new_uint(1ULL << 40));
                                   })},
        {"no size", Mutated(good,
                            [](plist_t root) {
                                plist_t objects = plist_dict_get_item(root, "$objects");
                                plist_dict_remove_item(plist_array_get_item(objects, 1), "Size");
                            })},
        {"digest is a string",
         Mutated(good,
                 [](plist_t root) {
                     plist_t objects = plist_dict_get_item(root, "$objects");
                     plist_t file = plist_array_get_item(objects, 1);
                     plist_array_append_item(objects, plist_new_string("abc"));
                     plist_dict_set_item(file, "Digest",
                                         plist_new_uid(plist_array_get_size(objects) - 1));
                 })},
        {"short key", Mutated(good,
                              [](plist_t root) {
                                  plist_t objects = plist_dict_get_item(root, "$objects");
                                  plist_t file = plist_array_get_item(objects, 1);
                                  plist_array_append_item(objects, plist_new_data("abcd", 4));
                                  plist_dict_set_item(
                                      file, "EncryptionKey",
                                      plist_new_uid(plist_array_get_size(objects) - 1));
                              })},
        {"other class",
         Mutated(good,
                 [](plist_t root) {
                     plist_t objects = plist_dict_get_item(root, "$objects");
                     plist_t file = plist_array_get_item(objects, 1);
                     plist_t cls = plist_new_dict();
                     plist_dict_set_item(cls, "$classname", plist_new_string("NSArray"));
                     plist_array_append_item(objects, cls);
                     plist_dict_set_item(file, "$class",
                                         plist_new_uid(plist_array_get_size(objects) - 1));
                 })},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(DecodeMbFile(c.bytes, f, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // The unchanged archive still reads, so the refusals above are the changes' doing.
    EXPECT_TRUE(DecodeMbFile(Mutated(good, [](plist_t) {}), f, error)) << error;
}

TEST(MbFileTest, PathsThatAreNotUtf8AreRefused) {
    // An archive whose RelativePath string holds the bytes 4c 01 81 72 ...: the property list
    // reader gives them as they are, and no writer could keep them through a rewrite.
    const std::string bytes = testenv::ReadFile(std::string(TOLVANE_SOURCE_DIR) +
                                                "/tests/fuzz/corpus/fuzz_mbfile/path-not-utf8");
    ASSERT_FALSE(bytes.empty());
    MbFile f;
    std::string error;
    EXPECT_FALSE(DecodeMbFile(bytes, f, error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}
