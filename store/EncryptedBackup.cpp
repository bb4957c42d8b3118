#include "store/EncryptedBackup.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Interrupt.h"
#include "platform/OperationLock.h"
#include "platform/Process.h"
#include "platform/Results.h"
#include "store/BackupFormat.h"
#include "store/DataCategory.h"

namespace tolvane {
namespace {

constexpr char kShippedToolName[] = "tool";
constexpr std::string_view kWrongPassword = "Wrong password";

// Copied from the backup into the input folder, in this order, before each run: a backup of the
// Manifest.mbdb layout, and one of iOS 10 and later, whose files lie in folders named by the first
// two digits of their hashed names.
constexpr const char* kKeyFiles[] = {
    kSmsDatabaseName, kContactsDatabaseName, "Info.plist", "Manifest.mbdb", "Manifest.plist",
};
constexpr const char* kModernKeyFiles[] = {
    "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28",
    "31/31bb7ba8914766d4ba40d6dfb6113c8b614be442",
    "Info.plist",
    "Manifest.db",
    "Manifest.plist",
};
// What the tool leaves in its output folder besides the two databases: the decrypted manifest of
// a modern backup.
constexpr char kDecryptedManifest[] = "Manifest.db";

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
    for (const char* name : {kSmsDatabaseName, kContactsDatabaseName, kDecryptedManifest}) {
        const int32_t r = platform::DeleteFile(platform::JoinPath(output, name));
        if (r != 0 && r != platform::kErrorFileNotFound && r != platform::kErrorPathNotFound) {
            return r;
        }
    }
    return 0;
}

constexpr std::string_view kProgressLine = "Deriving the password key: ";
// Longer lines are no progress lines and are not kept whole.
constexpr size_t kMaxLineBytes = 256;

// Hands the figure of a "Deriving the password key: N%" line to `progress`.
void NoteProgressLine(std::string_view line, const BackupToolProgress& progress) {
    if (!progress || !line.starts_with(kProgressLine) || !line.ends_with('%')) {
        return;
    }
    const std::string_view digits =
        line.substr(kProgressLine.size(), line.size() - kProgressLine.size() - 1);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return;
    }
    const int percent = std::stoi(std::string(digits));
    if (percent <= 100) {
        progress(percent);
    }
}

// Reads the child's output until it ends, or until "Wrong password" shows up in it (also when the
// text is split across reads). Progress lines go to `progress` as they come.
int32_t WatchToolOutput(platform::ChildProcess& child, const BackupToolProgress& progress,
                        const BackupToolStop& stop) {
    std::string window;  // the last bytes read, enough to hold all but one byte of the text
    std::string line;    // the line being read, up to kMaxLineBytes
    bool lineTooLong = false;
    char chunk[kChunkSize];
    int passesLeft = kPassesAfterExit;
    for (;;) {
        if (child.Wait(kWaitMs) && --passesLeft < 0) {
            return 0;
        }
        if (platform::InterruptRequested() || (stop && stop())) {
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
        for (long i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                if (!lineTooLong) {
                    NoteProgressLine(line, progress);
                }
                line.clear();
                lineTooLong = false;
            } else if (line.size() < kMaxLineBytes) {
                line.push_back(chunk[i]);
            } else {
                lineTooLong = true;
            }
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

// --- the output kept for one user action -----------------------------------------------------

std::vector<std::optional<platform::FileVersion>> StampsOf(const std::string& folder,
                                                           const std::vector<std::string>& names) {
    std::vector<std::optional<platform::FileVersion>> stamps;
    stamps.reserve(names.size());
    for (const std::string& name : names) {
        stamps.push_back(platform::VersionOf(platform::JoinPath(folder, name)));
    }
    return stamps;
}

// The files a successful run leaves: the two databases and a modern backup's manifest.
const std::vector<std::string>& OutputNames() {
    static const std::vector<std::string> names = {kSmsDatabaseName, kContactsDatabaseName,
                                                   kDecryptedManifest};
    return names;
}

// The key files of `backupFolder`'s layout (the files a run copies).
std::vector<std::string> KeyFileNames(const std::string& backupFolder) {
    std::vector<std::string> names;
    if (DeviceFolderFormat(backupFolder) == BackupFormat::Database) {
        names.assign(std::begin(kModernKeyFiles), std::end(kModernKeyFiles));
    } else {
        names.assign(std::begin(kKeyFiles), std::end(kKeyFiles));
    }
    return names;
}

struct KeptOutput {
    std::string folder;  // resolved
    std::string password;
    std::vector<std::optional<platform::FileVersion>>
        keyFiles;  // as they were before the run copied them
    std::vector<std::optional<platform::FileVersion>> outputs;  // as the run left them
};

struct ReuseState {
    std::mutex lock;
    int open = 0;  // DecryptionReuse objects alive
    std::optional<KeptOutput> kept;
};

ReuseState& Reuse() {
    static ReuseState state;
    return state;
}

// Under the reuse lock.
void ForgetKeptLocked(ReuseState& state) {
    if (state.kept) {
        Wipe(state.kept->password);
        state.kept.reset();
    }
}

// Under the reuse lock: the kept output is still the one the run left.
bool KeptOutputInPlaceLocked(const ReuseState& state) {
    return state.kept && StampsOf(BackupToolOutputFolder(), OutputNames()) == state.kept->outputs;
}

void DeleteOutputFiles() {
    const std::string folder = BackupToolOutputFolder();
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(folder, entries);
    for (const platform::DirEntry& e : entries) {
        if (e.type != platform::EntryType::Folder) {
            platform::DeleteFile(platform::JoinPath(folder, e.name));
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

namespace {
BackupToolProgress& DefaultProgress() {
    static BackupToolProgress progress;
    return progress;
}
}  // namespace

void SetDefaultBackupToolProgress(BackupToolProgress progress) {
    DefaultProgress() = std::move(progress);
}

int32_t RunBackupTool(const std::string& inputFolder, std::string_view password,
                      std::string& outputFolder, const BackupToolProgress& progress,
                      const BackupToolStop& stop) {
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
    return WatchToolOutput(*child, progress ? progress : DefaultProgress(), stop);
}

namespace {

// The copies of the key files are the backup's private data (encrypted, but with the keybag that
// opens them), so they go as soon as the tool has read them, or when the run stops before it.
class KeyFileCopies {
  public:
    explicit KeyFileCopies(std::string input) : input_(std::move(input)) {}
    KeyFileCopies(const KeyFileCopies&) = delete;
    KeyFileCopies& operator=(const KeyFileCopies&) = delete;
    ~KeyFileCopies() {
        for (const char* name : kKeyFiles) {
            platform::DeleteFile(platform::JoinPath(input_, name));
        }
        for (const char* name : kModernKeyFiles) {
            const std::string path = platform::JoinPath(input_, name);
            platform::DeleteFile(path);
            if (const std::string parent = platform::ParentPath(path); parent != input_) {
                platform::RemoveFolderTree(parent);  // "3d", "31": made for the copies
            }
        }
    }

  private:
    std::string input_;
};

int32_t CopyKeyFilesAndRun(std::string_view password, const std::string& backupFolder,
                           std::string& outputFolder, const BackupToolProgress& progress,
                           const BackupToolStop& stop) {
    const std::string input = BackupToolInputFolder();
    const KeyFileCopies copies(input);
    platform::CreateFolderWithParents(input);  // an existing folder keeps its content
    // The tool tells the layouts apart by the manifest it finds, so the key files of the other
    // layout, left by a run on another backup, must go first.
    const bool modern = DeviceFolderFormat(backupFolder) == BackupFormat::Database;
    for (const char* stale : modern ? kKeyFiles : kModernKeyFiles) {
        const int32_t r = platform::DeleteFile(platform::JoinPath(input, stale));
        if (r != 0 && r != platform::kErrorFileNotFound && r != platform::kErrorPathNotFound) {
            return r;
        }
    }
    for (const char* name : modern ? kModernKeyFiles : kKeyFiles) {
        const std::string target = platform::JoinPath(input, name);
        if (const std::string parent = platform::ParentPath(target); parent != input) {
            platform::CreateFolderWithParents(parent);  // a folder that cannot be made fails below
        }
        const int32_t result =
            platform::CopyFileReplace(platform::JoinPath(backupFolder, name), target);
        if (result != 0) {
            return result;
        }
    }
    return RunBackupTool(input, password, outputFolder, progress, stop);
}

}  // namespace

int32_t DecryptBackup(std::string_view password, const std::string& backupFolder,
                      std::string& outputFolder, const BackupToolProgress& progress,
                      const BackupToolStop& stop) {
    ReuseState& reuse = Reuse();
    std::string resolved;
    std::vector<std::string> keyNames;
    std::vector<std::optional<platform::FileVersion>> keyStamps;
    {
        std::lock_guard lock(reuse.lock);
        if (reuse.open == 0) {
            ForgetKeptLocked(reuse);
        } else {
            resolved = platform::ResolvedPath(backupFolder);
            keyNames = KeyFileNames(backupFolder);
            // Taken before the copies: a key file changed meanwhile differs from it next time.
            keyStamps = StampsOf(backupFolder, keyNames);
            if (reuse.kept && !resolved.empty() && reuse.kept->folder == resolved &&
                reuse.kept->password == password && reuse.kept->keyFiles == keyStamps &&
                KeptOutputInPlaceLocked(reuse)) {
                outputFolder = BackupToolOutputFolder();
                return 0;
            }
            ForgetKeptLocked(reuse);
        }
    }
    const int32_t result = CopyKeyFilesAndRun(password, backupFolder, outputFolder, progress, stop);
    if (result == 0 && !resolved.empty()) {
        std::lock_guard lock(reuse.lock);
        if (reuse.open > 0) {
            reuse.kept = KeptOutput{resolved, std::string(password), std::move(keyStamps),
                                    StampsOf(BackupToolOutputFolder(), OutputNames())};
        }
    }
    return result;
}

int32_t VerifyBackupPassword(const char* password, const std::string& backupFolder,
                             const BackupToolProgress& progress, const BackupToolStop& stop,
                             const std::function<void(bool)>& waiting) {
    if (password == nullptr || password[0] == '\0') {
        return platform::kResultWrongPassword;
    }
    // The tool's folders are shared by every operation of every process.
    bool waited = false;
    const platform::OperationLock lock(
        [&] {
            waited = true;
            std::printf("%s\n", platform::kOperationWaitText);
            std::fflush(stdout);
            if (waiting) {
                waiting(true);
            }
        },
        [&stop] { return platform::InterruptRequested() || (stop && stop()); });
    if (waited && waiting) {
        waiting(false);
    }
    if (lock.GaveUp()) {
        return platform::kResultCancelled;
    }
    std::string unused;
    const int32_t result = DecryptBackup(password, backupFolder, unused, progress, stop);
    DiscardDecryptedOutput();
    return result;
}

void DiscardDecryptedOutput() {
    ReuseState& reuse = Reuse();
    std::lock_guard lock(reuse.lock);
    if (reuse.open > 0 && KeptOutputInPlaceLocked(reuse)) {
        return;  // the action goes on with it
    }
    ForgetKeptLocked(reuse);
    DeleteOutputFiles();
}

DecryptionReuse::DecryptionReuse() {
    ReuseState& reuse = Reuse();
    std::lock_guard lock(reuse.lock);
    ++reuse.open;
}

DecryptionReuse::~DecryptionReuse() {
    ReuseState& reuse = Reuse();
    std::lock_guard lock(reuse.lock);
    if (--reuse.open > 0 || !reuse.kept) {
        return;
    }
    // Files that are no longer the kept ones belong to a run of another process, which deletes
    // them itself when it ends.
    if (KeptOutputInPlaceLocked(reuse)) {
        DeleteOutputFiles();
    }
    ForgetKeptLocked(reuse);
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
