#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/Handles.h"
#include "store/Plists.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

std::string StatusXml(const std::string& stateValue) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict><key>IsFullBackup</key><false/>" +
           stateValue + "</dict></plist>\n";
}

std::string ToBinary(const std::string& xml) {
    plist_t node = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &node);
    platform::PlistPtr owned(node);
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    std::string out(bin, length);
    std::free(bin);
    return out;
}

}  // namespace

TEST(ReadPlistFile, ReadsXmlAndBinaryFormsAndRejectsTheRest) {
    TempDir dir;
    const std::string xml = StatusXml("<key>SnapshotState</key><string>finished</string>");
    WriteFile(dir / "xml", xml);
    WriteFile(dir / "bin", ToBinary(xml));
    for (const char* name : {"xml", "bin"}) {
        SCOPED_TRACE(name);
        const platform::PlistPtr p = ReadPlistFileOwned(dir / name);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(platform::PlistString(plist_dict_get_item(p.get(), "SnapshotState")), "finished");
    }
    WriteFile(dir / "garbage", "not a property list at all");
    WriteFile(dir / "empty", "");
    WriteFile(dir / "magic only", "bplist00");  // 8 bytes: taken for XML, which it is not
    WriteFile(dir / "cut", ToBinary(xml).substr(0, 20));
    for (const char* name : {"garbage", "empty", "magic only", "cut", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadPlistFileOwned(dir / name), nullptr);
    }
}

TEST(SnapshotState, FinishedOtherTextAndUnreadable) {
    TempDir dir;
    const std::string s = "SOURCE";
    struct Case {
        const char* name;
        std::string contents;  // empty: no Status.plist
        int expected;
    };
    const std::vector<Case> cases = {
        {"finished", StatusXml("<key>SnapshotState</key><string>finished</string>"), 1},
        {"binary finished",
         ToBinary(StatusXml("<key>SnapshotState</key><string>finished</string>")), 1},
        {"not finished", StatusXml("<key>SnapshotState</key><string>uploading</string>"), 0},
        {"case differs", StatusXml("<key>SnapshotState</key><string>Finished</string>"), 0},
        {"no key", StatusXml(""), -1},
        {"not a string", StatusXml("<key>SnapshotState</key><integer>1</integer>"), -1},
        // A NUL byte inside the text (the library's own string copy asserts on it): read up to
        // the NUL, so "fi\0nished" is not finished and nothing ends the program.
        {"NUL inside",
         StatusXml(std::string("<key>SnapshotState</key><string>fi\0nished</string>", 50)), 0},
        {"NUL after finished",
         StatusXml(std::string("<key>SnapshotState</key><string>finished\0x</string>", 51)), 1},
        {"array root", "<plist version=\"1.0\"><array><string>finished</string></array></plist>",
         -1},
        {"missing", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testenv::RemoveTree(dir / s);
        if (!c.contents.empty()) {
            WriteFile(dir / s + "/Status.plist", c.contents);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(mb2_status_check_snapshot_state(s.c_str(), dir.Path().c_str()), c.expected);
        const std::string printed = testing::internal::GetCapturedStdout();
        if (std::string(c.name) == "missing") {
            EXPECT_EQ(printed, "Could not read Status.plist!\n");
        } else if (c.expected == -1) {
            EXPECT_EQ(printed,
                      "mb2_status_check_snapshot_state: ERROR could not get SnapshotState key "
                      "from Status.plist!\n");
        }
    }
}
