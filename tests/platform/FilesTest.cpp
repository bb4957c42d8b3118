#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "tests/support/TestEnv.h"

using namespace platform;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

TEST(Files, ListFolderGivesEveryEntryWithItsKindAndSize) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    WriteFile(dir / ".hidden", "x");
    ASSERT_EQ(CreateFolder(dir / "sub"), 0);
    std::vector<DirEntry> entries;
    ASSERT_EQ(ListFolder(dir.Path(), entries), 0);
    ASSERT_EQ(entries.size(), 3u);
    auto find = [&](const std::string& name) {
        return *std::find_if(entries.begin(), entries.end(),
                             [&](const DirEntry& e) { return e.name == name; });
    };
    EXPECT_EQ(find("a.txt").type, EntryType::File);
    EXPECT_EQ(find("a.txt").size, 5u);
    EXPECT_EQ(find("sub").type, EntryType::Folder);
    EXPECT_GT(find("a.txt").modified, 0);

    std::vector<DirEntry> none;
    EXPECT_EQ(ListFolder(dir / "missing", none), kErrorFileNotFound);
    EXPECT_TRUE(none.empty());
}

TEST(Files, CreateFolderWithParentsReportsWhatItFound) {
    TempDir dir;
    const std::string deep = dir / "a/b/c";
    EXPECT_EQ(CreateFolderWithParents(deep), 0);
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_EQ(CreateFolderWithParents(deep), kErrorAlreadyExists);
    WriteFile(dir / "file", "x");
    EXPECT_EQ(CreateFolderWithParents(dir / "file/below"), kErrorPathNotFound);
    EXPECT_EQ(CreateFolder(dir / "x/y"), kErrorFileNotFound);
}

TEST(Files, CheckFolderWritableTriesAFileAndLeavesNothingBehind) {
    TempDir dir;
    EXPECT_EQ(CheckFolderWritable(dir.Path()), 0);
    EXPECT_TRUE(testenv::FilesUnder(dir.Path()).empty());
    EXPECT_EQ(CheckFolderWritable(dir / "missing"), kErrorFileNotFound);
    WriteFile(dir / "file", "x");
    EXPECT_EQ(CheckFolderWritable(dir / "file"), kErrorPathNotFound);
    EXPECT_NE(CheckFolderWritable("/proc"), 0);  // a folder that takes no files, even from root
}

TEST(Files, CopyReplacesTargetAndLeavesNoTemporaryFiles) {
    TempDir dir;
    WriteFile(dir / "src", std::string(100000, 'a'));
    WriteFile(dir / "dst", "old contents that are longer than nothing");
    ASSERT_EQ(CopyFileReplace(dir / "src", dir / "dst"), 0);
    EXPECT_EQ(ReadFile(dir / "dst"), std::string(100000, 'a'));
    std::vector<DirEntry> entries;
    ListFolder(dir.Path(), entries);
    EXPECT_EQ(entries.size(), 2u);

    // A failed copy keeps the old target whole.
    EXPECT_EQ(CopyFileReplace(dir / "missing", dir / "dst"), kErrorFileNotFound);
    EXPECT_EQ(CopyFileReplace(dir / "src", dir / "nofolder/dst"), kErrorFileNotFound);
    EXPECT_EQ(ReadFile(dir / "dst").size(), 100000u);
    WriteFile(dir / "empty", "");
    ASSERT_EQ(CopyFileReplace(dir / "empty", dir / "dst"), 0);
    EXPECT_EQ(ReadFile(dir / "dst"), "");
}

TEST(Files, MoveRefusesAnExistingTargetWhileRenameReplacesIt) {
    TempDir dir;
    WriteFile(dir / "a", "A");
    WriteFile(dir / "b", "B");
    EXPECT_EQ(MovePath(dir / "a", dir / "b"), kErrorAlreadyExists);
    EXPECT_EQ(ReadFile(dir / "b"), "B");
    EXPECT_EQ(RenameReplace(dir / "a", dir / "b"), 0);
    EXPECT_EQ(ReadFile(dir / "b"), "A");
    EXPECT_FALSE(PathExists(dir / "a"));
    EXPECT_EQ(MovePath(dir / "b", dir / "c"), 0);
    EXPECT_TRUE(FileExists(dir / "c"));
}

TEST(Files, DeleteAndRemoveFolderKeepTheirKinds) {
    TempDir dir;
    ASSERT_EQ(CreateFolder(dir / "sub"), 0);
    WriteFile(dir / "sub/f", "x");
    EXPECT_EQ(DeleteFile(dir / "sub"), kErrorAccessDenied);
    EXPECT_EQ(RemoveEmptyFolder(dir / "sub"), kErrorDirNotEmpty);
    EXPECT_EQ(DeleteFile(dir / "sub/f"), 0);
    EXPECT_EQ(DeleteFile(dir / "sub/f"), kErrorFileNotFound);
    EXPECT_EQ(RemoveEmptyFolder(dir / "sub"), 0);
}

TEST(Files, ReadWholeFileHonoursItsLimit) {
    TempDir dir;
    WriteFile(dir / "f", "0123456789");
    std::string contents;
    EXPECT_EQ(ReadWholeFile(dir / "f", contents, 10), 0);
    EXPECT_EQ(contents, "0123456789");
    EXPECT_EQ(ReadWholeFile(dir / "f", contents, 9), kErrorFileTooLarge);
    EXPECT_EQ(ReadWholeFile(dir.Path(), contents), kErrorAccessDenied);
}

TEST(Files, WriteAllAndReadAllGoOnUntilEveryByteHasMoved) {
    // A pipe takes and gives at most its buffer at a time, so both must repeat.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    std::string sent(1 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 7 + i / 4096);
    }
    int32_t written = -1;
    std::thread writer([&] {
        written = WriteAll(writeEnd.get(), sent);
        writeEnd.Close();
    });
    std::string received(sent.size() + 10, '\0');
    size_t got = 0;
    EXPECT_EQ(ReadAll(readEnd.get(), received.data(), received.size(), got), 0);
    writer.join();
    EXPECT_EQ(written, 0);
    ASSERT_EQ(got, sent.size());  // the end of the stream stops it short of what was asked
    received.resize(got);
    EXPECT_TRUE(received == sent);

    // At an offset the file position stays where it was.
    TempDir dir;
    WriteFile(dir / "f", "0123456789");
    UniqueFd file(open((dir / "f").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_GE(file.get(), 0);
    EXPECT_EQ(WriteAll(file.get(), "ab", 2, 4), 0);
    char head[3] = {};
    EXPECT_EQ(ReadAll(file.get(), head, 2, got), 0);
    EXPECT_EQ(std::string(head), "01");
    EXPECT_EQ(ReadFile(dir / "f"), "0123ab6789");

    // Failures give the system's codes.
    UniqueFd full(open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_GE(full.get(), 0);
    EXPECT_EQ(WriteAll(full.get(), "x", 1), kErrorDiskFull);
    EXPECT_EQ(ReadAll(full.get(), head, 1, got), kErrorInvalidHandle);
    EXPECT_EQ(got, 0u);
}

TEST(Files, AtomicWriteReplacesWholeFile) {
    TempDir dir;
    WriteFile(dir / "f", "a much longer old text");
    ASSERT_EQ(WriteWholeFileAtomic(dir / "f", "new"), 0);
    EXPECT_EQ(ReadFile(dir / "f"), "new");
    EXPECT_NE(WriteWholeFileAtomic(dir / "missing/f", "x"), 0);
}

TEST(Files, PathHelpers) {
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(JoinPath("", "b"), "b");
    EXPECT_EQ(ParentPath("/a/b"), "/a");
    EXPECT_EQ(ParentPath("/a"), "/");
    EXPECT_EQ(ParentPath("a"), "");
    EXPECT_EQ(BaseName("/a/b.txt"), "b.txt");
    TempDir dir;
    WriteFile(dir / ".work", "");
    EXPECT_TRUE(IsHidden(dir / ".work"));
    EXPECT_FALSE(IsHidden(dir.Path()));
}

TEST(Files, RemoveFolderTreeTakesEverythingInsideButNothingALinkPointsTo) {
    TempDir dir;
    TempDir outside;
    WriteFile(outside / "keep.txt", "mine");
    ASSERT_EQ(CreateFolderWithParents(dir / "tree/a/b"), 0);
    WriteFile(dir / "tree/a/b/f", "1");
    WriteFile(dir / "tree/a/.hidden", "2");
    WriteFile(dir / "tree/top", "3");
    ASSERT_EQ(symlink(outside.Path().c_str(), (dir / "tree/a/link").c_str()), 0);
    ASSERT_EQ(symlink((outside / "keep.txt").c_str(), (dir / "tree/filelink").c_str()), 0);

    EXPECT_EQ(RemoveFolderTree(dir / "tree"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "tree"));
    EXPECT_EQ(ReadFile(outside / "keep.txt"), "mine");

    // A link named as the tree goes itself; its target stays.
    ASSERT_EQ(symlink(outside.Path().c_str(), (dir / "alias").c_str()), 0);
    EXPECT_EQ(RemoveFolderTree(dir / "alias"), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "alias"));
    EXPECT_EQ(ReadFile(outside / "keep.txt"), "mine");

    EXPECT_EQ(RemoveFolderTree(dir / "none"), kErrorFileNotFound);
}
