#include "store/EncryptedBackup.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Interrupt.h"
#include "platform/OperationLock.h"
#include "platform/Process.h"
#include "platform/Results.h"
#include "store/DataCategory.h"

namespace tolvane {
namespace {

constexpr char kShippedToolName[] = "tool";
constexpr std::string_view kWrongPassword = "Wrong password";

// Copied from the backup into the input folder, in this order, before each run.
constexpr const char* kKeyFiles[] = {
    kSmsDatabaseName, kContactsDatabaseName, "Info.plist", "Manifest.mbdb", "Manifest.plist",
};

// How the tool's output is watched: waits of 5 ms for the child to end, at most 100 passes once
// it has ended, reads of up to 4096 bytes.
constexpr int kWaitMs = 5;
constexpr int kPassesAfterExit = 100;
constexpr size_t kChunkSize = 4096;
// How long a tool whose output has ended is given to exit before it is ended.
constexpr int kExitGraceMs = 1000;

// Clears a string's bytes before its memory is given back.
void Wipe(std::string& secret) {
    if (!secret.empty()) {
        explicit_bzero(secret.data(), secret.size());
    }
    secret.clear();
}

// Copies the shipped tool over the tool copy and makes the copy executable. Failures are not
// reported here: they show up as a tool that cannot be started. Without a shipped tool an earlier
// copy stays in use.
void RefreshToolCopy() {
    platform::CreateFolderWithParents(BackupToolDataFolder());
    const std::string copy = BackupToolCopyPath();
    platform::CopyFileReplace(platform::ProgramFolder() + kShippedToolName, copy);
    chmod(copy.c_str(), 0755);
}

// Databases left by an earlier run must not pass for the result of this one when the tool fails
// without saying so: one that cannot be deleted stops the run with the system's code.
int32_t RemoveEarlierDatabases(const std::string& output) {
    for (const char* name : {kSmsDatabaseName, kContactsDatabaseName}) {
        const int32_t r = platform::DeleteFile(platform::JoinPath(output, name));
        if (r != 0 && r != platform::kErrorFileNotFound && r != platform::kErrorPathNotFound) {
            return r;
        }
    }
    return 0;
}

// Reads the child's output until it ends, or until "Wrong password" shows up in it (also when the
// text is split across reads).
int32_t WatchToolOutput(platform::ChildProcess& child) {
    std::string window;  // the last bytes read, enough to hold all but one byte of the text
    char chunk[kChunkSize];
    int passesLeft = kPassesAfterExit;
    for (;;) {
        if (child.Wait(kWaitMs) && --passesLeft < 0) {
            return 0;
        }
        if (platform::InterruptRequested()) {
            child.Kill();  // the process is asked to end: its plain copies go with the output
            return platform::kResultCancelled;
        }
        const int waiting = child.Peek(0);
        if (waiting < 0) {
            // Every writer has closed the output: the tool is ending.
            child.Wait(kExitGraceMs);
            return 0;
        }
        if (waiting == 0) {
            continue;
        }
        const long n = child.Read(chunk, sizeof chunk);
        if (n <= 0) {
            return 0;
        }
        window.append(chunk, static_cast<size_t>(n));
        if (window.find(kWrongPassword) != std::string::npos) {
            return platform::kResultWrongPassword;
        }
        if (window.size() >= kWrongPassword.size()) {
            window.erase(0, window.size() - (kWrongPassword.size() - 1));
        }
    }
}

}  // namespace

std::string BackupToolDataFolder() {
    return platform::JoinPath(platform::AppDataFolder(), "Tolvane");
}

std::string BackupToolCopyPath() {
    return platform::JoinPath(BackupToolDataFolder(), "tool.exe");
}

std::string BackupToolInputFolder() {
    return platform::JoinPath(BackupToolDataFolder(), "Encrypt");
}

std::string BackupToolOutputFolder() {
    return platform::JoinPath(BackupToolDataFolder(), "Decrypt");
}

int32_t RunBackupTool(const std::string& inputFolder, std::string_view password,
                      std::string& outputFolder) {
    RefreshToolCopy();
    const std::string output = BackupToolOutputFolder();
    platform::CreateFolderWithParents(output);  // a folder that cannot be made fails below
    outputFolder = output;
    if (const int32_t removed = RemoveEarlierDatabases(output); removed != 0) {
        return removed;
    }

    // Each path is one argument whatever it holds; "-" tells the tool that the password comes on
    // its standard input, where no other user can read it.
    std::unique_ptr<platform::ChildProcess> child =
        platform::ChildProcess::Start({BackupToolCopyPath(), inputFolder, output, "-"});
    if (!child) {
        return platform::kResultMissing;
    }
    std::string secret(password);
    secret.push_back('\n');
    // A tool that has already gone cannot take it; its output says what happened.
    child->WriteInput(secret);
    Wipe(secret);
    child->CloseInput();
    // The child is ended and reaped when its owner goes, also when it still runs after saying
    // "Wrong password".
    return WatchToolOutput(*child);
}

int32_t DecryptBackup(std::string_view password, const std::string& backupFolder,
                      std::string& outputFolder) {
    const std::string input = BackupToolInputFolder();
    platform::CreateFolderWithParents(input);  // an existing folder keeps its content
    for (const char* name : kKeyFiles) {
        const int32_t result = platform::CopyFileReplace(platform::JoinPath(backupFolder, name),
                                                         platform::JoinPath(input, name));
        if (result != 0) {
            return result;
        }
    }
    return RunBackupTool(input, password, outputFolder);
}

int32_t VerifyBackupPassword(const char* password, const std::string& backupFolder) {
    if (password == nullptr || password[0] == '\0') {
        return platform::kResultWrongPassword;
    }
    // The tool's folders are shared by every operation of every process.
    const platform::OperationLock lock;
    if (lock.GaveUp()) {
        return platform::kResultCancelled;
    }
    std::string unused;
    const int32_t result = DecryptBackup(password, backupFolder, unused);
    DiscardDecryptedOutput();
    return result;
}

void DiscardDecryptedOutput() {
    const std::string folder = BackupToolOutputFolder();
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(folder, entries);
    for (const platform::DirEntry& e : entries) {
        if (e.type != platform::EntryType::Folder) {
            platform::DeleteFile(platform::JoinPath(folder, e.name));
        }
    }
}

platform::Failure DecryptionFailure(int32_t result) {
    if (result == platform::kResultWrongPassword) {
        return platform::Failure::WrongPassword;
    }
    return result == platform::kErrorFileNotFound ? platform::Failure::IncompleteBackup
                                                  : platform::Failure::LocalFiles;
}

int32_t ExposeDecryptedDatabases(const std::string& folder) {
    int32_t result = platform::CopyFileReplace(platform::JoinPath(folder, kSmsDatabaseName),
                                               platform::JoinPath(folder, kSmsCopyName));
    if (result != 0) {
        return result;
    }
    return platform::CopyFileReplace(platform::JoinPath(folder, kContactsDatabaseName),
                                     platform::JoinPath(folder, kContactsCopyName));
}

}  // namespace tolvane
