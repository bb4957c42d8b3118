#include "engine/MessageLoop.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "engine/DeviceSession.h"
#include "engine/FileTransfer.h"
#include "engine/RunContext.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/engine/ScriptedLink.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using enginetest::Array;
using enginetest::Dict;
using enginetest::Real;
using enginetest::ScriptedLink;
using enginetest::Str;
using enginetest::StrArray;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;  // (percent, is-backup phase)
    int32_t stopAt = -1;                             // the call index that returns stopValue
    int32_t stopValue = 2;
};

int32_t RecordProgress(void* userData, int32_t percent, int32_t isBackup) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->calls.emplace_back(percent, isBackup);
    return static_cast<int32_t>(log->calls.size()) - 1 == log->stopAt ? log->stopValue : 0;
}

plist_t Outcome(plist_t dict) {
    return Array({Str("DLMessageProcessMessage"), dict});
}

plist_t Ok() {
    return Outcome(Dict({{"ErrorCode", plist_new_uint(0)}}));
}

// A message that carries a progress figure and asks for nothing (a removal of nothing).
plist_t Progress(double x) {
    return Array({Str("DLMessageRemoveFiles"), plist_new_array(), Dict({}), Real(x)});
}

class MessageLoopTest : public ::testing::Test {
  protected:
    MessageLoopTest() {
        run_.SetProgressCallback(RecordProgress);
        run_.SetCallbackUserData(&log_);
        run_.SetProgressScale(100);
    }
    int32_t Run(const char* folder) {
        return RunMessageLoop(folder, session_, run_, link_, LoopTiming{0, 6});
    }
    std::string Folder() const { return dir_.Path(); }

    TempDir dir_;
    DeviceSession session_;  // no phone: the loop has no sync lock to release
    RunContext run_;
    ScriptedLink link_;
    ProgressLog log_;
};

TEST_F(MessageLoopTest, ProgressIgnoresAFirstJumpToAHundredAndFollowsFallingFigures) {
    link_.Message(Progress(100));  // 99 points or more above 0: not believed
    link_.Message(Progress(60));
    link_.Message(Progress(40));    // lower figures are taken as they come
    link_.Message(Progress(99.5));  // 59.5 above: believed
    link_.Message(Ok());
    run_.SetBackupPhase(true);
    run_.SetProgressScale(50);
    EXPECT_EQ(Run(Folder().c_str()), 0);
    const std::vector<std::pair<int32_t, int32_t>> expected = {{30, 1}, {20, 1}, {49, 1}};
    EXPECT_EQ(log_.calls, expected);
}

TEST_F(MessageLoopTest, CallbackThatAsksToStopEndsTheLoopWithItsValue) {
    link_.Message(Progress(10));
    link_.Message(Progress(20));
    link_.Message(Progress(30));
    link_.Message(Ok());
    log_.stopAt = 1;
    log_.stopValue = 2;
    EXPECT_EQ(Run(Folder().c_str()), 2);
    EXPECT_EQ(run_.FailureOf(2), platform::Failure::Cancelled);
    EXPECT_EQ(log_.calls.size(), 2u);
    // The phone's later messages are not read.
    platform::PlistPtr next;
    std::string name;
    EXPECT_EQ(link_.ReceiveMessage(next, name), 0);
    EXPECT_EQ(name, "DLMessageRemoveFiles");
}

TEST_F(MessageLoopTest, OutcomeGivesTheNegatedErrorCodeAndKeepsTheLastText) {
    run_.SetLastErrorText("earlier text");
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_EQ(run_.LastErrorText(), "earlier text");

    ScriptedLink refused;
    refused.Message(Outcome(
        Dict({{"ErrorCode", plist_new_uint(208)}, {"ErrorDescription", Str("Backup refused")}})));
    EXPECT_EQ(RunMessageLoop(Folder().c_str(), session_, run_, refused, LoopTiming{0, 6}), -208);
    EXPECT_EQ(run_.LastErrorText(), "Backup refused");

    // Only the low 32 bits count, and no bit pattern overflows.
    ScriptedLink odd;
    odd.Message(Outcome(Dict({{"ErrorCode", plist_new_uint(0x100000000ULL + 0x80000000ULL)}})));
    EXPECT_EQ(RunMessageLoop(Folder().c_str(), session_, run_, odd, LoopTiming{0, 6}), INT32_MIN);

    ScriptedLink noCode;
    noCode.Message(Outcome(Dict({{"Content", Str("just a note")}})));
    EXPECT_EQ(RunMessageLoop(Folder().c_str(), session_, run_, noCode, LoopTiming{0, 6}), 0);
}

TEST_F(MessageLoopTest, UnknownMessageIsSkippedButStillReportsProgress) {
    link_.Message(Progress(10));
    link_.Message(Array({Str("DLMessageSomethingNew"), Dict({})}));
    link_.Message(Array({Str("DLMessageDisconnect"), Str("___EmptyParameterString___")}));
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_EQ(log_.calls.size(), 2u);
}

TEST_F(MessageLoopTest, PhoneThatStopsAnsweringIsGoneAfterSixFailedChecks) {
    link_.Message(Progress(10));
    for (int i = 0; i < 5; ++i) {
        link_.Silence();
    }
    link_.present = false;
    EXPECT_EQ(Run(Folder().c_str()), platform::kResultDeviceGone);
    EXPECT_EQ(link_.presenceChecks, 6);
    EXPECT_GT(run_.AbortFlag.load(), 0);
    EXPECT_EQ(run_.FailureOf(platform::kResultDeviceGone), platform::Failure::DeviceGone);
}

TEST_F(MessageLoopTest, SilentPhoneThatStillAnswersIsWaitedFor) {
    for (int i = 0; i < 8; ++i) {
        link_.Silence();
    }
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_EQ(link_.presenceChecks, 8);
    EXPECT_TRUE(log_.calls.empty());  // no figure yet: the callback is not called
}

TEST_F(MessageLoopTest, SilentPhoneCanBeCancelledOnceItHasGivenAFigure) {
    link_.Message(Progress(30));
    for (int i = 0; i < 20; ++i) {
        link_.Silence();
    }
    link_.Message(Ok());
    log_.stopAt = 3;  // the user cancels during the silence
    EXPECT_EQ(Run(Folder().c_str()), 2);
    EXPECT_EQ(log_.calls.size(), 4u);
    EXPECT_EQ(link_.presenceChecks, 3);
}

TEST_F(MessageLoopTest, RemovingReportsTheLastFailureAndGoesOn) {
    WriteFile(dir_ / "a", "a");
    WriteFile(dir_ / "full/inside", "x");
    WriteFile(dir_ / "full/deeper/more", "y");
    platform::CreateFolder(dir_ / "empty");
    link_.Message(Array({Str("DLMessageRemoveItems"),
                         StrArray({"a", "full", "empty", "../outside"}), Dict({}), Real(5)}));
    link_.Message(
        Array({Str("DLMessageRemoveFiles"), StrArray({"nothing-here"}), Dict({}), Real(6)}));
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_FALSE(platform::PathExists(dir_ / "a"));
    EXPECT_FALSE(platform::PathExists(dir_ / "empty"));
    // A folder goes with everything in it (the staging folder of a newer phone is not empty).
    EXPECT_FALSE(platform::PathExists(dir_ / "full"));
    ASSERT_EQ(link_.replies.size(), 2u);
    // The escaping path was refused: the last failure of the list counts.
    EXPECT_EQ(link_.replies[0].code, -13);
    EXPECT_EQ(link_.replies[1].code, -6);
    EXPECT_EQ(link_.replies[1].text, platform::ErrnoMessage(2));

    // A link inside a removed folder goes itself; what it points to, outside, stays.
    testenv::TempDir outside;
    WriteFile(outside / "keep", "mine");
    WriteFile(dir_ / "Snapshot/3d/file", "z");
    ASSERT_EQ(symlink(outside.Path().c_str(), (dir_ / "Snapshot/3d/link").c_str()), 0);
    ScriptedLink staging;
    staging.Message(
        Array({Str("DLMessageRemoveItems"), StrArray({"Snapshot"}), Dict({}), Real(5)}));
    staging.Message(Ok());
    EXPECT_EQ(RunMessageLoop(Folder().c_str(), session_, run_, staging, LoopTiming{0, 6}), 0);
    ASSERT_EQ(staging.replies.size(), 1u);
    EXPECT_EQ(staging.replies[0].code, 0);
    EXPECT_FALSE(platform::PathExists(dir_ / "Snapshot"));
    EXPECT_EQ(ReadFile(outside / "keep"), "mine");
}

TEST_F(MessageLoopTest, MovingReplacesFilesRefusesEscapesAndStopsAtARenameFailure) {
    WriteFile(dir_ / "Snapshot/a", "new a");
    WriteFile(dir_ / "a", "old a");
    WriteFile(dir_ / "Snapshot/b", "b");
    WriteFile(dir_ / "Snapshot/c", "c");
    WriteFile(dir_ / "busy/keep", "k");
    WriteFile(dir_ / "Snapshot/d", "d");
    plist_t pairs = Dict({{"Snapshot/a", Str("a")},
                          {"Snapshot/b", Str("../escaped")},
                          {"Snapshot/c", Str("c")},
                          {"Snapshot/d", Str("busy")},  // a non-empty folder: rename fails
                          {"Snapshot/e", Str("e")}});
    link_.Message(Array({Str("DLMessageMoveFiles"), pairs, Dict({}), Real(50)}));
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_EQ(ReadFile(dir_ / "a"), "new a");
    EXPECT_TRUE(platform::FileExists(dir_ / "Snapshot/b"));
    EXPECT_FALSE(platform::PathExists(dir_.Path() + "/../escaped"));
    EXPECT_EQ(ReadFile(dir_ / "c"), "c");
    EXPECT_TRUE(platform::FileExists(dir_ / "busy/keep"));
    EXPECT_TRUE(platform::FileExists(dir_ / "Snapshot/d"));
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -EISDIR);
    EXPECT_EQ(link_.replies[0].text, platform::ErrnoMessage(EISDIR));
}

TEST_F(MessageLoopTest, ListingGivesTypesRealSizesAndDates) {
    WriteFile(dir_ / "list/small", "12345");
    platform::CreateFolder(dir_ / "list/sub");
    // A sparse file of 3 GiB: its size does not fit in 32 bits.
    const std::string big = dir_ / "list/big";
    WriteFile(big, "");
    ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
    link_.Message(Array({Str("DLContentsOfDirectory"), Str("list")}));
    link_.Message(Array({Str("DLContentsOfDirectory"), Str("../..")}));
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    ASSERT_EQ(link_.replies.size(), 2u);
    plist_t listing = link_.replies[0].dictionary.get();
    ASSERT_EQ(plist_dict_get_size(listing), 3u);
    EXPECT_EQ(enginetest::StringOf(plist_dict_get_item(listing, "small"), "DLFileType"),
              "DLFileTypeRegular");
    EXPECT_EQ(enginetest::SignedInt(plist_dict_get_item(listing, "small"), "DLFileSize"), 5);
    EXPECT_EQ(enginetest::StringOf(plist_dict_get_item(listing, "sub"), "DLFileType"),
              "DLFileTypeDirectory");
    EXPECT_EQ(enginetest::SignedInt(plist_dict_get_item(listing, "big"), "DLFileSize"), 3LL << 30);
    plist_t date =
        plist_dict_get_item(plist_dict_get_item(listing, "small"), "DLFileModificationDate");
    ASSERT_NE(date, nullptr);
    int32_t sec = 0;
    int32_t usec = 0;
    plist_get_date_val(date, &sec, &usec);
    struct stat st {};
    stat((dir_ / "list/small").c_str(), &st);
    EXPECT_EQ(int64_t{sec} + 978307200, int64_t{st.st_mtim.tv_sec});
    // A listing outside the folder is refused, with nothing listed.
    EXPECT_EQ(link_.replies[1].code, -13);
    EXPECT_EQ(plist_dict_get_size(link_.replies[1].dictionary.get()), 0u);
}

TEST_F(MessageLoopTest, CreatingMakesMissingParentsAndRefusesEscapes) {
    link_.Message(Array({Str("DLMessageCreateDirectory"), Str("UDID/Snapshot/deep")}));
    link_.Message(Array({Str("DLMessageCreateDirectory"), Str("../made-outside")}));
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_TRUE(platform::FolderExists(dir_ / "UDID/Snapshot/deep"));
    EXPECT_FALSE(platform::PathExists(dir_.Path() + "/../made-outside"));
    ASSERT_EQ(link_.replies.size(), 2u);
    EXPECT_EQ(link_.replies[0].code, 0);
    EXPECT_EQ(link_.replies[0].dictionary, nullptr);
    EXPECT_EQ(link_.replies[1].code, -13);
}

TEST_F(MessageLoopTest, CopyingCopiesAFileOrTheFilesOfAFolder) {
    WriteFile(dir_ / "src/one", "1");
    WriteFile(dir_ / "src/two", "22");
    WriteFile(dir_ / "src/sub/deeper", "not copied");
    link_.Message(Array({Str("DLMessageCopyItem"), Str("src"), Str("dst/inner"), Dict({})}));
    link_.Message(Array({Str("DLMessageCopyItem"), Str("src/two"), Str("single"), Dict({})}));
    link_.Message(Array({Str("DLMessageCopyItem"), Str("nope"), Str("x"), Dict({})}));
    link_.Message(Array({Str("DLMessageCopyItem"), Str("/etc/hostname"), Str("x"), Dict({})}));
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), 0);
    EXPECT_EQ(ReadFile(dir_ / "dst/inner/one"), "1");
    EXPECT_EQ(ReadFile(dir_ / "dst/inner/two"), "22");
    EXPECT_FALSE(platform::PathExists(dir_ / "dst/inner/sub"));
    EXPECT_EQ(ReadFile(dir_ / "single"), "22");
    EXPECT_FALSE(platform::PathExists(dir_ / "x"));
    ASSERT_EQ(link_.replies.size(), 4u);
    EXPECT_EQ(link_.replies[0].code, 0);
    EXPECT_EQ(link_.replies[1].code, 0);
    EXPECT_EQ(link_.replies[2].code, -6);   // a missing source is reported, not hidden
    EXPECT_EQ(link_.replies[3].code, -13);  // outside the folder: refused
}

TEST_F(MessageLoopTest, FreeSpaceIsAnsweredAlsoWithoutBackupFolder) {
    link_.Message(Array({Str("DLMessageGetFreeDiskSpace"), Str("")}));
    link_.Message(Ok());
    EXPECT_EQ(Run(nullptr), 0);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, 0);
    uint64_t free = 0;
    plist_get_uint_val(link_.replies[0].dictionary.get(), &free);
    EXPECT_GT(free, 0u);
}

TEST_F(MessageLoopTest, FileThatCouldNotBeStoredFailsARunThePhoneCallsGood) {
    link_.Message(Array({Str("DLMessageUploadFiles"), Dict({}), Real(20), Dict({})}));
    link_.Name("x");
    link_.Name("no-such-folder/file");
    link_.FileData("data");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), platform::kErrorFileNotFound);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -13);
}

TEST_F(MessageLoopTest, UnplugDuringAnUploadEndsWithDeviceGoneAndNoTornFile) {
    WriteFile(dir_ / "kept-before", "k");
    link_.Message(Array({Str("DLMessageUploadFiles"), Dict({}), Real(20), Dict({})}));
    link_.Name("x");
    link_.Name("torn");
    link_.Raw(enginetest::BigEndian(30001) + static_cast<char>(kBlockFileData) +
              std::string(100, 'q'));
    link_.RawSilence();
    link_.present = false;
    EXPECT_EQ(Run(Folder().c_str()), platform::kResultDeviceGone);
    EXPECT_FALSE(platform::PathExists(dir_ / "torn"));
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(dir_.Path(), entries);
    EXPECT_EQ(entries.size(), 1u);  // no partial file either
}

TEST_F(MessageLoopTest, BrokenTransferFramingEndsTheConversation) {
    link_.Message(Array({Str("DLMessageUploadFiles"), Dict({}), Real(20), Dict({})}));
    link_.Length(0x7fffffff);  // a name length no phone sends
    link_.Message(Ok());
    EXPECT_EQ(Run(Folder().c_str()), platform::kErrorGenFailure);
}

TEST_F(MessageLoopTest, MalformedMessagesAreIgnoredAndTheLoopGoesOn) {
    link_.Message(Array({Str("DLContentsOfDirectory"), plist_new_uint(3)}));
    link_.Message(Array({Str("DLContentsOfDirectory")}));
    link_.Message(Array({Str("DLMessageMoveFiles"), Str("not a dict"), Dict({}), Real(1)}));
    link_.Message(Array({Str("DLMessageDownloadFiles"), Str("not an array")}));
    link_.Message(Array({Str("DLMessageProcessMessage"), Str("not a dict")}));
    EXPECT_EQ(Run(Folder().c_str()), 0);
    ASSERT_EQ(link_.replies.size(), 1u);  // the move, answered with no error
    EXPECT_EQ(link_.replies[0].code, 0);
    EXPECT_TRUE(link_.sent.empty());
}

}  // namespace
