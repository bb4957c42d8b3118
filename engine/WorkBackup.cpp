#include "engine/WorkBackup.h"

#include <cassert>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Volumes.h"

namespace tolvane {
namespace {

constexpr uint64_t kWorkFolderMinFree = 5368709120ULL;  // 5 GiB
constexpr char kWorkFolderName[] = ".Tolvane_tmp_backup";
constexpr char kManifestName[] = "Manifest.mbdb";
constexpr char kManifestDbName[] = "Manifest.db";
constexpr char kSavedManifestSuffix[] = "_bak";

// A prefix folder of the newer layout: two lower-case hexadecimal digits.
bool IsPrefixFolderName(const std::string& name) {
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return name.size() == 2 && hex(name[0]) && hex(name[1]);
}

std::mutex gWorkFolderMutex;
std::string gWorkFolder;  // guarded by gWorkFolderMutex; empty until first use

// Deletes the files (not the folders, not the hidden entries) directly inside `folder`. A file
// that cannot be deleted is reported and left; the next clearing tries again.
void DeleteFilesIn(const std::string& folder) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListFolder(folder, entries) != 0) {
        return;
    }
    for (const platform::DirEntry& e : entries) {
        if (e.name.empty() || e.name[0] == '.' || e.type == platform::EntryType::Folder) {
            continue;
        }
        const std::string path = platform::JoinPath(folder, e.name);
        if (const int32_t r = platform::DeleteFile(path); r != 0) {
            std::printf("Could not delete '%s': %d\n", path.c_str(), r);
        }
    }
}

}  // namespace

std::string WorkBackup::TempBackupFolder() {
    std::lock_guard lock(gWorkFolderMutex);
    if (gWorkFolder.empty()) {
        const std::string appData = platform::AppDataFolder();
        std::string base = platform::ChooseWorkFolderBase(appData, kWorkFolderMinFree);
        if (base.empty()) {
            base = appData;  // no volume reports free space: try the application-data folder
        }
        gWorkFolder = platform::JoinPath(base, kWorkFolderName);
        // Failures show up later as failures of the backup into it.
        const int32_t made = platform::CreateFolderWithParents(gWorkFolder);
        if (made != 0 && made != platform::kErrorAlreadyExists) {
            std::printf("Could not create the work folder '%s': %d\n", gWorkFolder.c_str(), made);
        }
    }
    return gWorkFolder;
}

void WorkBackup::ResetTempBackupFolderForTesting() {
    std::lock_guard lock(gWorkFolderMutex);
    gWorkFolder.clear();
}

std::string WorkBackup::Enter(const std::string& udid) {
    const std::string work = TempBackupFolder();
    // Made again when someone removed it since first use.
    platform::CreateFolderWithParents(work);
    std::string deviceFolder = platform::JoinPath(work, udid);
    if (udid.empty()) {
        // No phone: nothing of the work folder itself may become the folder Clear empties.
        ready_ = false;
        return deviceFolder;
    }
    if (ready_ && (folder_ != deviceFolder ||
                   (!platform::FileExists(platform::JoinPath(deviceFolder, kManifestName)) &&
                    !platform::FileExists(platform::JoinPath(deviceFolder, kManifestDbName))))) {
        ready_ = false;
    }
    folder_ = deviceFolder;
    return deviceFolder;
}

int32_t WorkBackup::Clear() {
    // Never clear a folder that is not a device folder: an empty path or the root would be
    // someone else's files.
    if (!folder_.empty() && folder_ != "/") {
        DeleteFilesIn(folder_);
        const std::string snapshot = platform::JoinPath(folder_, "Snapshot");
        DeleteFilesIn(snapshot);
        // The newer layout keeps its files in two-digit prefix folders, in the device folder and
        // in the staging folder; those go whole. Other folders are not the work backup's own.
        for (const std::string& parent : {folder_, snapshot}) {
            std::vector<platform::DirEntry> entries;
            if (platform::ListFolder(parent, entries) != 0) {
                continue;
            }
            for (const platform::DirEntry& e : entries) {
                if (e.type == platform::EntryType::Folder && IsPrefixFolderName(e.name)) {
                    const std::string path = platform::JoinPath(parent, e.name);
                    if (const int32_t r = platform::RemoveFolderTree(path); r != 0) {
                        std::printf("Could not delete '%s': %d\n", path.c_str(), r);
                    }
                }
            }
        }
        platform::RemoveEmptyFolder(snapshot);  // only an empty one goes; others stay
    }
    ready_ = false;
    return 0;
}

void WorkBackup::MarkReady() {
    assert(platform::ParentPath(folder_) == TempBackupFolder());
    ready_ = true;
}

int32_t WorkBackup::PutManifestBack() {
    const bool newer = platform::FileExists(
        platform::JoinPath(folder_, std::string(kManifestDbName) + kSavedManifestSuffix));
    const std::string manifest =
        platform::JoinPath(folder_, newer ? kManifestDbName : kManifestName);
    const std::string saved = manifest + kSavedManifestSuffix;
    if (!platform::FileExists(saved)) {
        return 0;
    }
    // One rename replaces the stripped manifest, so the folder is never without a manifest.
    const int32_t r = platform::RenameReplace(saved, manifest);
    if (r != 0) {
        ready_ = false;
    }
    return r;
}

}  // namespace tolvane
