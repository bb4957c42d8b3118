// The work backup folder through which every category backup, category restore and import
// passes, and its clearing.
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/Volumes.h"

namespace tolvane {
namespace {

constexpr uint64_t kWorkFolderMinFree = 5368709120ULL;  // 5 GiB
constexpr char kWorkFolderName[] = ".Tolvane_tmp_backup";

std::mutex gWorkFolderMutex;
std::wstring gWorkFolder;

// Deletes the files (not the folders, not the hidden entries) directly inside `folder`.
void DeleteFilesIn(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListFolder(folder, entries) != 0) {
        return;
    }
    for (const platform::DirEntry& e : entries) {
        if (e.name.empty() || e.name[0] == '.' || e.type == platform::EntryType::Folder) {
            continue;
        }
        platform::DeleteFile(platform::JoinPath(folder, e.name));
    }
}

}  // namespace

std::wstring BackupEngine::TempBackupFolder() {
    std::lock_guard lock(gWorkFolderMutex);
    if (gWorkFolder.empty()) {
        const std::string appData = platform::AppDataFolder();
        std::string base = platform::ChooseWorkFolderBase(appData, kWorkFolderMinFree);
        if (base.empty()) {
            base = appData;  // no volume reports free space: try the application-data folder
        }
        const std::string folder = platform::JoinPath(base, kWorkFolderName);
        // Failures show up later as failures of the backup into it.
        platform::CreateFolderWithParents(folder);
        gWorkFolder = platform::AnsiToWide(folder);
    }
    return gWorkFolder;
}

void BackupEngine::ResetTempBackupFolderForTesting() {
    std::lock_guard lock(gWorkFolderMutex);
    gWorkFolder.clear();
}

int32_t BackupEngine::ClearWorkingBackup() {
    // Never clear a folder that is not a device folder: an empty path or the root would be
    // someone else's files.
    if (!workingBackupFolder.empty() && workingBackupFolder != "/") {
        DeleteFilesIn(workingBackupFolder);
        const std::string snapshot = platform::JoinPath(workingBackupFolder, "Snapshot");
        DeleteFilesIn(snapshot);
        platform::RemoveEmptyFolder(snapshot);
    }
    workingBackupReady = false;
    return 0;
}

}  // namespace tolvane
