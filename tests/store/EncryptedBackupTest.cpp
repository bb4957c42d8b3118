#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::ReadFile;
using testenv::ScopedEnv;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr const char* kKeyFiles[] = {kSmsDatabaseName, kContactsDatabaseName, "Info.plist",
                                     "Manifest.mbdb", "Manifest.plist"};

// A program folder holding a fake "tool" (a shell script) in place of the real one.
class FakeTool {
  public:
    explicit FakeTool(const std::string& script) {
        if (!script.empty()) {
            Install(script);
        }
        platform::SetProgramFolderForTesting(dir_.Path() + "/");
    }
    ~FakeTool() { platform::SetProgramFolderForTesting(""); }
    void Install(const std::string& script) {
        WriteFile(dir_ / "tool", "#!/bin/sh\n" + script);
        chmod((dir_ / "tool").c_str(), 0755);
    }
    void Remove() { platform::DeleteFile(dir_ / "tool"); }

  private:
    TempDir dir_;
};

// Records how it was started and what came on its standard input, in the output folder.
constexpr char kRecordingTool[] =
    "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > \"$2/args\"\n"
    "IFS= read -r pw; printf '%s' \"$pw\" > \"$2/stdin\"\n"
    "rm -rf \"$2/seen\"; cp -R \"$1\" \"$2/seen\"\n"
    "echo decrypted\n";

// An encrypted-looking backup folder with the five key files.
void WriteBackup(const std::string& folder) {
    for (const char* name : kKeyFiles) {
        WriteFile(folder + "/" + name, std::string("content of ") + name);
    }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        out.push_back(text.substr(start, nl - start));
    }
    return out;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(DecryptBackup, CopiesKeyFilesAndPassesThePasswordOnlyOnStandardInput) {
    IsolatedHome home;
    // Blanks in the folders must not split the tool's arguments.
    ScopedEnv data("XDG_DATA_HOME", home.Home() + "/my data");
    FakeTool tool(kRecordingTool);
    TempDir backup;
    WriteBackup(backup.Path());
    const std::string password = "pass word \xC3\xA9\xE4\xB8\xAD";
    std::string output;

    testing::internal::CaptureStdout();
    EXPECT_EQ(DecryptBackup(password, backup.Path(), output), 0);
    const std::string printed = testing::internal::GetCapturedStdout();

    const std::string dataFolder = home.Home() + "/my data/Tolvane";
    EXPECT_EQ(output, dataFolder + "/Decrypt");
    // The tool saw the copies; once it has ended they are gone.
    for (const char* name : kKeyFiles) {
        EXPECT_EQ(ReadFile(dataFolder + "/Decrypt/seen/" + name),
                  std::string("content of ") + name);
        EXPECT_FALSE(platform::PathExists(dataFolder + "/Encrypt/" + name)) << name;
    }
    const std::vector<std::string> args = Lines(ReadFile(dataFolder + "/Decrypt/args"));
    EXPECT_EQ(args, (std::vector<std::string>{dataFolder + "/tool.exe", dataFolder + "/Encrypt",
                                              dataFolder + "/Decrypt", "-"}));
    const std::string& narrow = password;
    EXPECT_EQ(ReadFile(dataFolder + "/Decrypt/stdin"), narrow);
    EXPECT_EQ(printed.find(narrow), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat((dataFolder + "/tool.exe").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);
}

TEST(DecryptBackup, MissingKeyFileStopsBeforeTheToolRuns) {
    IsolatedHome home;
    FakeTool tool("touch \"$2/ran\"\n");
    TempDir backup;
    WriteBackup(backup.Path());
    platform::DeleteFile(backup / "Manifest.plist");
    std::string output = "untouched";
    EXPECT_EQ(DecryptBackup("pw", backup.Path(), output), platform::kErrorFileNotFound);
    EXPECT_EQ(output, "untouched");
    // The copies made before the missing file do not stay behind.
    const std::string input = BackupToolInputFolder();
    for (const char* name : kKeyFiles) {
        EXPECT_FALSE(platform::PathExists(input + "/" + name)) << name;
    }
    EXPECT_FALSE(platform::PathExists(BackupToolOutputFolder() + "/ran"));

    platform::DeleteFile(backup / kContactsDatabaseName);
    EXPECT_EQ(DecryptBackup("pw", backup.Path(), output), platform::kErrorFileNotFound);
    EXPECT_FALSE(platform::PathExists(BackupToolOutputFolder() + "/ran"));
}

TEST(RunBackupTool, WrongPasswordIsSeenWhileTheToolGoesOnRunning) {
    IsolatedHome home;
    FakeTool tool("echo 'Wrong password'\nexec sleep 30\n");
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kResultWrongPassword);
    EXPECT_LT(SecondsSince(start), 10.0);
    EXPECT_EQ(output, BackupToolOutputFolder());
    EXPECT_TRUE(platform::FolderExists(BackupToolOutputFolder()));
}

TEST(RunBackupTool, WrongPasswordSplitAcrossReadsIsStillSeen) {
    IsolatedHome home;
    // The text arrives in three pieces, the first at the end of a full 4096-byte read.
    FakeTool tool(
        "head -c 4090 /dev/zero | tr '\\0' x; printf 'Wrong '; sleep 0.2; printf 'pa'; "
        "sleep 0.2; printf 'ssword\\n'\n");
    std::string output;
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kResultWrongPassword);
}

TEST(RunBackupTool, OtherOutputOrSilenceIsSuccessWhateverTheExitCode) {
    IsolatedHome home;
    FakeTool tool("echo 'Wrong passwor'; echo 'd'; head -c 100000 /dev/zero; exit 3\n");
    std::string output;
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), 0);
    tool.Install("exit 1\n");
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), 0);
}

TEST(RunBackupTool, ToolThatEndsWhileItsChildHoldsTheOutputStopsAfterItsPasses) {
    IsolatedHome home;
    FakeTool tool("sleep 30 &\nexit 0\n");
    std::string output;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), 0);
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST(RunBackupTool, WithoutAShippedToolAnEarlierCopyRunsAndWithoutEitherNothingStarts) {
    IsolatedHome home;
    FakeTool tool("echo 'Wrong password'\n");
    std::string output;
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kResultWrongPassword);
    tool.Remove();
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kResultWrongPassword);
    platform::DeleteFile(BackupToolCopyPath());
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kResultMissing);
}

TEST(RunBackupTool, DatabasesOfAnEarlierRunAreGoneBeforeTheNextStarts) {
    IsolatedHome home;
    FakeTool tool("exit 1\n");
    const std::string out = BackupToolOutputFolder();
    WriteFile(out + "/" + kSmsDatabaseName, "someone else's messages");
    WriteFile(out + "/" + kContactsDatabaseName, "someone else's contacts");
    WriteFile(out + "/other", "stays");
    std::string output;
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), 0);
    EXPECT_FALSE(platform::PathExists(out + "/" + kSmsDatabaseName));
    EXPECT_FALSE(platform::PathExists(out + "/" + kContactsDatabaseName));
    EXPECT_TRUE(platform::FileExists(out + "/other"));
    EXPECT_EQ(ExposeDecryptedDatabases(output), platform::kErrorFileNotFound);

    // One that cannot be deleted (here a folder in its place) stops the run before the tool.
    tool.Install("touch \"$2/ran\"\n");
    ASSERT_EQ(platform::CreateFolder(out + "/" + kContactsDatabaseName), 0);
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), platform::kErrorAccessDenied);
    EXPECT_FALSE(platform::PathExists(out + "/ran"));
}

TEST(VerifyBackupPassword, EmptyPasswordIsWrongWithoutRunningAnything) {
    IsolatedHome home;
    FakeTool tool("touch \"$2/ran\"\n");
    TempDir backup;
    WriteBackup(backup.Path());
    EXPECT_EQ(VerifyBackupPassword("", backup.Path()), platform::kResultWrongPassword);
    EXPECT_EQ(VerifyBackupPassword(nullptr, backup.Path()), platform::kResultWrongPassword);
    EXPECT_FALSE(platform::PathExists(BackupToolDataFolder()));
}

TEST(VerifyBackupPassword, AnswersWhatTheToolSays) {
    IsolatedHome home;
    FakeTool tool("IFS= read -r pw; [ \"$pw\" = 'right one' ] || echo 'Wrong password'\n");
    TempDir backup;
    WriteBackup(backup.Path());
    const std::string folder = backup.Path();
    EXPECT_EQ(VerifyBackupPassword("right one", folder), 0);
    EXPECT_EQ(VerifyBackupPassword("wrong one", folder), platform::kResultWrongPassword);
    EXPECT_EQ(VerifyBackupPassword("right", folder), platform::kResultWrongPassword);
}

TEST(ExposeDecryptedDatabases, CopiesBothUnderTheCategoryNames) {
    TempDir dir;
    WriteFile(dir / kSmsDatabaseName, "messages");
    WriteFile(dir / kContactsDatabaseName, "contacts");
    WriteFile(dir / "sms", "old");
    const std::string folder = dir.Path();
    EXPECT_EQ(ExposeDecryptedDatabases(folder), 0);
    EXPECT_EQ(ReadFile(dir / "sms"), "messages");
    EXPECT_EQ(ReadFile(dir / "content"), "contacts");

    platform::DeleteFile(dir / kContactsDatabaseName);
    platform::DeleteFile(dir / "content");
    WriteFile(dir / kSmsDatabaseName, "newer messages");
    EXPECT_EQ(ExposeDecryptedDatabases(folder), platform::kErrorFileNotFound);
    EXPECT_EQ(ReadFile(dir / "sms"), "newer messages");
    EXPECT_FALSE(platform::PathExists(dir / "content"));
}

TEST(DecryptBackup, ModernBackupHasItsKeyFilesCopiedFromTheirFoldersAndNoneOfTheOlderLayout) {
    IsolatedHome home;
    FakeTool tool(kRecordingTool);
    const std::string input = BackupToolInputFolder();
    const auto seen = [](const std::string& name) {
        return BackupToolOutputFolder() + "/seen/" + name;
    };
    // Copies of the other layout left behind by a run that was killed before it could remove
    // them: the tool must not find them and read them instead.
    TempDir older;
    WriteBackup(older.Path());
    platform::CreateFolderWithParents(input);
    for (const char* name : kKeyFiles) {
        WriteFile(input + "/" + name, "left behind");
    }

    TempDir modern;
    const std::vector<std::string> files = {std::string("3d/") + kSmsDatabaseName,
                                            std::string("31/") + kContactsDatabaseName,
                                            "Info.plist", "Manifest.db", "Manifest.plist"};
    for (const std::string& name : files) {
        platform::CreateFolderWithParents(platform::ParentPath(modern / name));
        WriteFile(modern / name, "modern " + name);
    }
    std::string output;
    ASSERT_EQ(DecryptBackup("pw", modern.Path(), output), 0);
    for (const std::string& name : files) {
        EXPECT_EQ(ReadFile(seen(name)), "modern " + name);
        EXPECT_FALSE(platform::PathExists(input + "/" + name)) << name;
    }
    EXPECT_FALSE(platform::PathExists(seen("Manifest.mbdb")));
    EXPECT_FALSE(platform::PathExists(seen(kSmsDatabaseName)));
    EXPECT_FALSE(platform::PathExists(seen(kContactsDatabaseName)));
    EXPECT_FALSE(platform::PathExists(input + "/3d"));

    // And the other way round.
    for (const std::string& name : files) {
        platform::CreateFolderWithParents(platform::ParentPath(input + "/" + name));
        WriteFile(input + "/" + name, "left behind");
    }
    ASSERT_EQ(DecryptBackup("pw", older.Path(), output), 0);
    EXPECT_FALSE(platform::PathExists(seen("Manifest.db")));
    EXPECT_FALSE(platform::PathExists(seen("3d/" + std::string(kSmsDatabaseName))));
    EXPECT_EQ(ReadFile(seen("Manifest.mbdb")), "content of Manifest.mbdb");
    EXPECT_FALSE(platform::PathExists(input + "/Manifest.mbdb"));

    // A modern backup without its contacts database stops before the tool runs.
    platform::DeleteFile(modern / files[1]);
    platform::DeleteFile(output + "/args");
    EXPECT_EQ(DecryptBackup("pw", modern.Path(), output), platform::kErrorFileNotFound);
    EXPECT_FALSE(platform::PathExists(output + "/args"));
    EXPECT_FALSE(platform::PathExists(input + "/3d/" + std::string(kSmsDatabaseName)));
}

TEST(RunBackupTool, ProgressLinesReachTheCallerAsTheyComeAndNothingElseDoes) {
    IsolatedHome home;
    // Figures split across reads, lines that only look like progress, and a last line without
    // its line end.
    FakeTool tool(
        "echo 'Deriving the password key (10000000 rounds)'\n"
        "printf 'Deriving the password key: 1'; sleep 0.2; printf '0%%\\n'\n"
        "echo 'Deriving the password key: x%'\n"
        "echo 'Deriving the password key: 1000%'\n"
        "echo 'Deriving the password key: 55'\n"
        "echo 'Deriving the password key: 60%'\n"
        "head -c 5000 /dev/zero | tr '\\0' x; echo\n"
        "echo 'Deriving the password key: 100%'\n"
        "printf 'Deriving the password key: 99%%'\n");
    std::vector<int> seen;
    std::string output;
    EXPECT_EQ(
        RunBackupTool("/nonexistent", "pw", output, [&](int percent) { seen.push_back(percent); }),
        0);
    EXPECT_EQ(seen, (std::vector<int>{10, 60, 100}));
    // Without a callback the same output is only watched for a wrong password.
    EXPECT_EQ(RunBackupTool("/nonexistent", "pw", output), 0);
}

// --- one decryption for one user action ------------------------------------------------------

namespace {

// A tool that counts its runs in `runs` (one line each), refuses the password "bad" and
// otherwise leaves both databases, with the password and its run number, in the output folder.
std::string CountingTool(const std::string& runs) {
    return "echo run >> '" + runs + "'\n" +
           "IFS= read -r pw\n"
           "[ \"$pw\" = bad ] && { echo 'Wrong password'; exit 0; }\n"
           "n=$(wc -l < '" +
           runs + "')\n" + "printf '%s %s' \"$pw\" \"$n\" > \"$2/" + kSmsDatabaseName + "\"\n" +
           "printf '%s %s' \"$pw\" \"$n\" > \"$2/" + kContactsDatabaseName + "\"\n";
}

int Runs(const std::string& runs) {
    return static_cast<int>(Lines(platform::FileExists(runs) ? ReadFile(runs) : "").size());
}

bool DatabasesLeft() {
    const std::string out = BackupToolOutputFolder();
    return platform::PathExists(out + "/" + kSmsDatabaseName) ||
           platform::PathExists(out + "/" + kContactsDatabaseName);
}

}  // namespace

TEST(DecryptionReuse, ACheckAndTheDecryptionsAfterItInOneActionRunTheToolOnce) {
    IsolatedHome home;
    TempDir scratch;
    const std::string runs = scratch / "runs";
    FakeTool tool(CountingTool(runs));
    TempDir backup;
    WriteBackup(backup.Path());
    std::string output;

    // Outside an action every decryption runs the tool and every discard deletes.
    ASSERT_EQ(VerifyBackupPassword("pw", backup.Path()), 0);
    EXPECT_FALSE(DatabasesLeft());
    ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
    ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 3);
    DiscardDecryptedOutput();
    EXPECT_FALSE(DatabasesLeft());

    {
        const DecryptionReuse action;
        ASSERT_EQ(VerifyBackupPassword("pw", backup.Path()), 0);
        EXPECT_EQ(Runs(runs), 4);
        EXPECT_TRUE(DatabasesLeft());  // kept for what follows
        output.clear();
        ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
        EXPECT_EQ(output, BackupToolOutputFolder());
        EXPECT_EQ(ReadFile(output + "/" + kSmsDatabaseName), "pw 4");
        DiscardDecryptedOutput();  // a listing's end: the action goes on
        {
            const DecryptionReuse nested;
            ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
        }
        EXPECT_TRUE(DatabasesLeft());  // only the outermost end deletes
        ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
        EXPECT_EQ(Runs(runs), 4);
    }
    EXPECT_FALSE(DatabasesLeft());

    // The next action starts afresh.
    {
        const DecryptionReuse action;
        ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
        EXPECT_EQ(Runs(runs), 5);
    }
    EXPECT_FALSE(DatabasesLeft());
}

TEST(DecryptionReuse, OnlyTheSameFolderPasswordAndFilesTakeTheKeptOutput) {
    IsolatedHome home;
    TempDir scratch;
    const std::string runs = scratch / "runs";
    FakeTool tool(CountingTool(runs));
    TempDir backup;
    WriteBackup(backup.Path());
    TempDir other;
    WriteBackup(other.Path());
    const std::string link = scratch / "link";
    ASSERT_EQ(symlink(backup.Path().c_str(), link.c_str()), 0);
    std::string output;

    const DecryptionReuse action;
    ASSERT_EQ(DecryptBackup("pw", backup.Path(), output), 0);
    ASSERT_EQ(Runs(runs), 1);
    // The same folder by another path is the same backup.
    ASSERT_EQ(DecryptBackup("pw", link + "/", output), 0);
    EXPECT_EQ(Runs(runs), 1);

    // Another password: the tool decides.
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 2);
    EXPECT_EQ(ReadFile(output + "/" + kSmsDatabaseName), "pw2 2");
    EXPECT_EQ(DecryptBackup("bad", backup.Path(), output), platform::kResultWrongPassword);
    EXPECT_EQ(Runs(runs), 3);
    // A refused run keeps nothing: neither its output nor what came before it.
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 4);
    EXPECT_EQ(DecryptBackup("pw2", other.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 5);
    EXPECT_EQ(ReadFile(output + "/" + kSmsDatabaseName), "pw2 5");
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 6);

    // A key file of the backup written again since.
    WriteFile(backup / "Manifest.plist", "content of Manifest.plist");
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 7);

    // The output replaced by someone else (another process's run), or gone.
    WriteFile(output + "/" + kContactsDatabaseName, "someone else's contacts");
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 8);
    EXPECT_EQ(ReadFile(output + "/" + kContactsDatabaseName), "pw2 8");
    platform::DeleteFile(output + "/" + kSmsDatabaseName);
    EXPECT_EQ(DecryptBackup("pw2", backup.Path(), output), 0);
    EXPECT_EQ(Runs(runs), 9);
}

TEST(DecryptionReuse, OutputNoLongerKeptIsLeftToItsOwnerAtTheEnd) {
    IsolatedHome home;
    TempDir scratch;
    FakeTool tool(CountingTool(scratch / "runs"));
    TempDir backup;
    WriteBackup(backup.Path());
    std::string output;
    {
        const DecryptionReuse action;
        ASSERT_EQ(VerifyBackupPassword("pw", backup.Path()), 0);
        // Another process's run replaces the files while this action waits.
        WriteFile(output = BackupToolOutputFolder() + "/" + kSmsDatabaseName, "theirs");
    }
    EXPECT_EQ(ReadFile(output), "theirs");
}

TEST(VerifyBackupPassword, AStopEndsTheToolAtOnceAndLeavesNoPlainCopy) {
    IsolatedHome home;
    // Half the output written, then a long derivation.
    FakeTool tool(std::string("printf x > \"$2/") + kSmsDatabaseName +
                  "\"\necho 'Deriving the password key: 10%'\nexec sleep 30\n");
    TempDir backup;
    WriteBackup(backup.Path());
    std::atomic<bool> stop{false};
    std::vector<int> seen;
    const auto start = std::chrono::steady_clock::now();
    const DecryptionReuse action;  // a stopped check keeps nothing either
    EXPECT_EQ(VerifyBackupPassword(
                  "pw", backup.Path(),
                  [&](int percent) {
                      seen.push_back(percent);
                      stop = true;
                  },
                  [&] { return stop.load(); }),
              platform::kResultCancelled);
    EXPECT_LT(SecondsSince(start), 10.0);
    EXPECT_EQ(seen, std::vector<int>{10});
    EXPECT_FALSE(DatabasesLeft());
}
