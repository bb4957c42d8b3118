#include "engine/FileWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"
#include "tests/support/TestEnv.h"

using testenv::ReadFile;
using testenv::TempDir;
using tolvane::FileWriter;

namespace {

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

// Fills a taken buffer with `text` and hands it to the writer as one piece.
void Piece(FileWriter& writer, char* buffer, const std::string& text) {
    std::memcpy(buffer, text.data(), text.size());
    writer.Write(buffer, text.size());
    writer.GiveBack(buffer);
}

TEST(FileWriter, ABufferIsReusedOnlyAfterItsPiecesAreWritten) {
    TempDir dir;
    FileWriter writer(2, 16);
    writer.Begin("f", dir / "f");
    Piece(writer, writer.TakeBuffer(), "first-");
    Piece(writer, writer.TakeBuffer(), "second-");
    // Both buffers wait to be written: taking one more writes them out before reuse.
    char* again = writer.TakeBuffer();
    std::memset(again, 'X', 16);
    Piece(writer, again, "third");
    writer.End(true);
    EXPECT_EQ(ReadFile(dir / "f"), "first-second-third");
    const auto outcomes = writer.Finish();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_TRUE(outcomes[0].stored);
    EXPECT_EQ(outcomes[0].error, 0);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"f"});
}

TEST(FileWriter, OnlyACompleteFileAppearsUnderItsName) {
    TempDir dir;
    testenv::WriteFile(dir / "old", "older contents");
    FileWriter writer(4, 64);
    writer.Begin("old", dir / "old");
    Piece(writer, writer.TakeBuffer(), "half of the new one");
    EXPECT_EQ(ReadFile(dir / "old"), "older contents");  // not touched while receiving
    writer.End(false);
    writer.Begin("new", dir / "new");
    Piece(writer, writer.TakeBuffer(), "whole");
    writer.End(true);
    EXPECT_EQ(ReadFile(dir / "old"), "older contents");
    EXPECT_EQ(ReadFile(dir / "new"), "whole");
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"new", "old"}));
    const auto outcomes = writer.Finish();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_FALSE(outcomes[0].stored);
    EXPECT_EQ(outcomes[0].error, 0);  // incomplete is not a local failure
    EXPECT_TRUE(outcomes[1].stored);
}

TEST(FileWriter, FailuresAreReportedAndLeaveNothingBehind) {
    TempDir dir;
    FileWriter writer(2, 64);
    writer.Begin("nowhere", dir / "missing/folder/file");
    Piece(writer, writer.TakeBuffer(), "data");
    writer.End(true);

    // A file larger than the process may write fails half-way.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{100, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    writer.Begin("big", dir / "big");
    for (int i = 0; i < 5; ++i) {
        Piece(writer, writer.TakeBuffer(), std::string(60, 'b'));
    }
    writer.End(true);
    setrlimit(RLIMIT_FSIZE, &limit);
    sigaction(SIGXFSZ, &old, nullptr);

    const auto outcomes = writer.Finish();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].name, "nowhere");
    EXPECT_EQ(outcomes[0].error, ENOENT);
    EXPECT_FALSE(outcomes[0].stored);
    EXPECT_EQ(outcomes[1].error, EFBIG);
    EXPECT_FALSE(outcomes[1].stored);
    EXPECT_TRUE(Entries(dir.Path()).empty());
}

}  // namespace
