#include "engine/FileTransfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "engine/RunContext.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/engine/ScriptedLink.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using enginetest::BigEndian;
using enginetest::ScriptedLink;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

std::string Pattern(size_t size, char seed = 'a') {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(seed + (i * 7 + i / 251) % 26);
    }
    return s;
}

std::string NameFrame(const std::string& name) {
    return BigEndian(static_cast<uint32_t>(name.size())) + name;
}

std::string BlockFrame(uint8_t code, const std::string& payload) {
    return BigEndian(static_cast<uint32_t>(payload.size()) + 1) + static_cast<char>(code) + payload;
}

const std::string kSuccess = BlockFrame(kBlockSuccess, "");

platform::PlistPtr DownloadMessage(std::initializer_list<std::string> names) {
    return platform::PlistPtr(
        enginetest::Array({enginetest::Str("DLMessageDownloadFiles"), enginetest::StrArray(names),
                           enginetest::Dict({}), enginetest::Real(10)}));
}

platform::PlistPtr UploadMessage() {
    return platform::PlistPtr(
        enginetest::Array({enginetest::Str("DLMessageUploadFiles"), enginetest::Dict({}),
                           enginetest::Real(10), enginetest::Dict({})}));
}

// Leftovers of a receive other than the named files (a partial file must never remain).
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(folder, entries);
    std::vector<std::string> names;
    for (const auto& e : entries) {
        names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FileTransfer : public ::testing::Test {
  protected:
    TempDir dir_;
    ScriptedLink link_;
    RunContext run_;
};

// --- sending (the phone asks for files) --------------------------------------------------------

TEST_F(FileTransfer, SendsFilesInBlocksOfAtMost32KiBEachEndedBySuccess) {
    WriteFile(dir_ / "empty", "");
    WriteFile(dir_ / "exact", Pattern(32768));
    WriteFile(dir_ / "over", Pattern(32769, 'k'));
    auto msg = DownloadMessage({"empty", "exact", "over"});
    SendRequestedFiles(link_, msg.get(), dir_.Path().c_str());

    const std::string expected =
        NameFrame("empty") + kSuccess +  // name, success
        NameFrame("exact") + BlockFrame(kBlockFileData, Pattern(32768)) + kSuccess +  // 32769
        NameFrame("over") + BlockFrame(kBlockFileData, Pattern(32769, 'k').substr(0, 32768)) +
        BlockFrame(kBlockFileData, Pattern(32769, 'k').substr(32768)) + kSuccess +  // 32769, 2
        BigEndian(0);
    EXPECT_EQ(link_.sent, expected);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, 0);
    EXPECT_EQ(link_.replies[0].text, "");
    ASSERT_NE(link_.replies[0].dictionary, nullptr);
    EXPECT_EQ(plist_dict_get_size(link_.replies[0].dictionary.get()), 0u);
}

TEST_F(FileTransfer, MissingFileGetsAnErrorBlockEndsTheListAndAMultiStatus) {
    WriteFile(dir_ / "one", "first");
    WriteFile(dir_ / "three", "third");
    auto msg = DownloadMessage({"one", "two", "three"});
    SendRequestedFiles(link_, msg.get(), dir_.Path().c_str());

    const std::string text = platform::ErrnoMessage(2);
    EXPECT_EQ(link_.sent, NameFrame("one") + BlockFrame(kBlockFileData, "first") + kSuccess +
                              NameFrame("two") + BlockFrame(kBlockLocalError, text) + BigEndian(0));
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -13);
    EXPECT_EQ(link_.replies[0].text, "Multi status");
    plist_t errors = link_.replies[0].dictionary.get();
    ASSERT_EQ(plist_dict_get_size(errors), 1u);
    plist_t entry = plist_dict_get_item(errors, "two");
    EXPECT_EQ(enginetest::StringOf(entry, "DLFileErrorString"), text);
    EXPECT_EQ(enginetest::SignedInt(entry, "DLFileErrorCode"), -6);
}

TEST_F(FileTransfer, NamesThatLeaveTheBackupFolderAreNeverRead) {
    WriteFile(dir_ / "secret", "do not send");
    WriteFile(dir_ / "backup/ok", "fine");
    const std::string folder = dir_ / "backup";
    for (const std::string hostile : {"../secret", "/etc/passwd", "a/../../secret"}) {
        ScriptedLink link;
        auto msg = DownloadMessage({hostile});
        SendRequestedFiles(link, msg.get(), folder.c_str());
        EXPECT_EQ(link.sent.find("do not send"), std::string::npos) << hostile;
        EXPECT_EQ(link.sent, NameFrame(hostile) +
                                 BlockFrame(kBlockLocalError, platform::ErrnoMessage(13)) +
                                 BigEndian(0))
            << hostile;
        ASSERT_EQ(link.replies.size(), 1u);
        EXPECT_EQ(enginetest::SignedInt(
                      plist_dict_get_item(link.replies[0].dictionary.get(), hostile.c_str()),
                      "DLFileErrorCode"),
                  -13);
    }
}

TEST_F(FileTransfer, EmptyListAndMissingFolderAreStillAnswered) {
    auto empty = DownloadMessage({});
    SendRequestedFiles(link_, empty.get(), dir_.Path().c_str());
    EXPECT_EQ(link_.sent, BigEndian(0));
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, 0);

    ScriptedLink noFolder;
    auto msg = DownloadMessage({"Manifest.plist"});
    SendRequestedFiles(noFolder, msg.get(), nullptr);
    ASSERT_EQ(noFolder.replies.size(), 1u);
    EXPECT_EQ(noFolder.replies[0].code, -13);
    EXPECT_EQ(noFolder.sent.substr(noFolder.sent.size() - 4), BigEndian(0));
}

TEST_F(FileTransfer, ConnectionFailureWhileSendingEndsTheFileWithoutSuccess) {
    WriteFile(dir_ / "big", Pattern(100000));
    link_.sendLimit = 4 + 3 + 5 + 1000;  // the name, one header and part of the first block
    auto msg = DownloadMessage({"big"});
    platform::PlistPtr errors;
    std::vector<char> buffer(kTransferPiece + 5);
    EXPECT_EQ(mb2_handle_send_file(link_, dir_.Path().c_str(), "big", errors, buffer.data()), -1);
    EXPECT_EQ(link_.sent.find(kSuccess), std::string::npos);
}

TEST_F(FileTransfer, FolderIsAnsweredWithAnErrorNotWithData) {
    platform::CreateFolder(dir_ / "sub");
    auto msg = DownloadMessage({"sub"});
    SendRequestedFiles(link_, msg.get(), dir_.Path().c_str());
    EXPECT_EQ(link_.sent, NameFrame("sub") +
                              BlockFrame(kBlockLocalError, platform::ErrnoMessage(EISDIR)) +
                              BigEndian(0));
}

// --- receiving (the phone sends a backup) ------------------------------------------------------

TEST_F(FileTransfer, ReceivesFilesBlockAfterBlockIntoTheirNamedPaths) {
    platform::CreateFolder(dir_ / "UDID");
    const std::string big = Pattern(100000, 'c');
    link_.Name("D/one");
    link_.Name("UDID/one");
    link_.FileData(big);  // four data blocks appended to one file
    link_.Block(kBlockSuccess, "");
    link_.Name("D/two");
    link_.Name("UDID/two");
    link_.Block(kBlockSuccess, "");  // an empty file
    link_.EndOfList();
    link_.receivePiece = 1000;  // the connection hands out small pieces

    auto msg = UploadMessage();
    ReceiveReport report;
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str(), &report), 2u);
    EXPECT_EQ(ReadFile(dir_ / "UDID/one"), big);
    EXPECT_EQ(ReadFile(dir_ / "UDID/two"), "");
    EXPECT_EQ(Entries(dir_ / "UDID"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(report.firstError, 0);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, 0);
    EXPECT_EQ(link_.UnreadRaw(), 0u);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, LargeFilesPassThroughTheGatheredBuffersIntact) {
    const std::string big = Pattern(3 * 1024 * 1024 + 17, 'g');  // many more blocks than buffers
    const std::string small = Pattern(70000, 's');
    link_.Name("x");
    link_.Name("big");
    link_.FileData(big);
    link_.Block(kBlockSuccess, "");
    link_.Name("x");
    link_.Name("small");
    link_.FileData(small);
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();
    link_.receivePiece = 20000;  // blocks arrive split across receives
    auto msg = UploadMessage();
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str()), 2u);
    EXPECT_EQ(ReadFile(dir_ / "big"), big);
    EXPECT_EQ(ReadFile(dir_ / "small"), small);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, FileEndedByAnErrorBlockIsNotKept) {
    WriteFile(dir_ / "old", "an older version");
    link_.Name("x");
    link_.Name("old");
    link_.FileData("partial contents");
    link_.Block(kBlockRemoteError, "device could not read it");
    link_.Name("x");
    link_.Name("never");
    link_.Block(kBlockRemoteError, "no data at all");
    link_.Name("x");
    link_.Name("good");
    link_.FileData("whole");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();

    auto msg = UploadMessage();
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str()), 1u);
    EXPECT_EQ(ReadFile(dir_ / "good"), "whole");
    EXPECT_FALSE(platform::PathExists(dir_ / "never"));
    // The phone's own error is the phone's to report; the engine only keeps no torn file.
    EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"good", "old"}));
    EXPECT_EQ(ReadFile(dir_ / "old"), "an older version");
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, NameLengthLimitIs4096Bytes) {
    const std::string longest(4096, 'n');
    const std::string tooLong(4097, 'm');
    link_.Name("x");
    link_.Name(longest.substr(0, 200));  // a real name of the folder's file system
    link_.FileData("first");
    link_.Block(kBlockSuccess, "");
    link_.Name(longest);  // accepted as a name (the device-side one is not used)
    link_.Name("second");
    link_.FileData("second data");
    link_.Block(kBlockSuccess, "");
    link_.Name("x");
    link_.Name(tooLong);  // read off and refused; its data is dropped
    link_.FileData("dropped");
    link_.Block(kBlockSuccess, "");
    link_.Name("x");
    link_.Name("third");
    link_.FileData("third data");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();

    auto msg = UploadMessage();
    ReceiveReport report;
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str(), &report), 3u);
    EXPECT_EQ(ReadFile(dir_ / "second"), "second data");
    EXPECT_EQ(ReadFile(dir_ / "third"), "third data");
    EXPECT_EQ(Entries(dir_.Path()).size(), 3u);
    EXPECT_NE(report.firstError, 0);
    EXPECT_FALSE(report.streamBroken);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -13);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, HostileNamesTouchNothingAndTheRestStillArrives) {
    const std::string folder = dir_ / "backup";
    platform::CreateFolder(folder);
    WriteFile(dir_ / "victim", "untouched");
    const std::vector<std::string> hostileNames = {"../victim", "/tmp/../" + (dir_ / "victim"),
                                                   "a/../../victim", ".."};
    for (const std::string& hostile : hostileNames) {
        link_.Name("x");
        link_.Name(hostile);
        link_.FileData("overwritten!");
        link_.Block(kBlockSuccess, "");
    }
    link_.Name("x");
    link_.Name("fine");
    link_.FileData("kept");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();

    auto msg = UploadMessage();
    ReceiveReport report;
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), folder.c_str(), &report), 1u);
    EXPECT_EQ(ReadFile(dir_ / "victim"), "untouched");
    EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"backup", "victim"}));
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"fine"}));
    EXPECT_EQ(report.firstError, platform::kErrorAccessDenied);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -13);
    EXPECT_EQ(plist_dict_get_size(link_.replies[0].dictionary.get()), 4u);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, FileThatCannotBeCreatedIsSkippedInStep) {
    link_.Name("x");
    link_.Name("missing-folder/file");
    link_.FileData(Pattern(40000));
    link_.Block(kBlockSuccess, "");
    link_.Name("x");
    link_.Name("after");
    link_.FileData("after data");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();

    auto msg = UploadMessage();
    ReceiveReport report;
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str(), &report), 1u);
    EXPECT_EQ(ReadFile(dir_ / "after"), "after data");
    EXPECT_EQ(report.firstError, platform::kErrorFileNotFound);
    EXPECT_EQ(link_.UnreadRaw(), 0u);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, SilentWaitIsRetriedWhileThePhoneAnswers) {
    link_.Name("x");
    link_.Name("slow");
    link_.Raw(BigEndian(12) + static_cast<char>(kBlockFileData) + "hello");
    link_.RawSilence();
    link_.RawSilence();
    link_.Raw(" world");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();

    auto msg = UploadMessage();
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str()), 1u);
    EXPECT_EQ(ReadFile(dir_ / "slow"), "hello world");
    EXPECT_EQ(link_.presenceChecks, 2);
    EXPECT_EQ(run_.AbortFlag.load(), 0);
}

TEST_F(FileTransfer, PhoneGoneInsideAFileLeavesNoFileAndRaisesAbortFlag) {
    link_.Name("x");
    link_.Name("done");
    link_.FileData("complete");
    link_.Block(kBlockSuccess, "");
    link_.Name("x");
    link_.Name("torn");
    link_.Raw(BigEndian(1001) + static_cast<char>(kBlockFileData) + Pattern(500));
    link_.RawSilence();  // the phone is unplugged here
    link_.present = false;

    auto msg = UploadMessage();
    ReceiveReport report;
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str(), &report), 1u);
    EXPECT_GT(run_.AbortFlag.load(), 0);
    EXPECT_FALSE(report.streamBroken);
    EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"done"}));
}

TEST_F(FileTransfer, ClosedConnectionIsGivenUpEvenWhileThePhoneAnswers) {
    link_.Name("x");
    link_.Name("torn");
    link_.Raw(BigEndian(1001) + static_cast<char>(kBlockFileData) + Pattern(10));
    // Nothing more: every further receive fails at once, while lockdown still answers.
    auto msg = UploadMessage();
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str()), 0u);
    EXPECT_GT(run_.AbortFlag.load(), 0);
    EXPECT_TRUE(Entries(dir_.Path()).empty());
}

TEST_F(FileTransfer, UploadWithoutBackupFolderIsReadOffAndRefused) {
    link_.Name("x");
    link_.Name("file");
    link_.FileData("data");
    link_.Block(kBlockSuccess, "");
    link_.EndOfList();
    auto msg = UploadMessage();
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), nullptr), 0u);
    EXPECT_EQ(link_.UnreadRaw(), 0u);
    ASSERT_EQ(link_.replies.size(), 1u);
    EXPECT_EQ(link_.replies[0].code, -13);
    EXPECT_FALSE(link_.askedBeyondScript);
}

TEST_F(FileTransfer, ShortUploadMessageIsNotAnswered) {
    platform::PlistPtr msg(enginetest::Array(
        {enginetest::Str("DLMessageUploadFiles"), enginetest::Dict({}), enginetest::Real(1)}));
    EXPECT_EQ(mb2_handle_receive_files(link_, run_, msg.get(), dir_.Path().c_str()), 0u);
    EXPECT_TRUE(link_.replies.empty());
}

}  // namespace
