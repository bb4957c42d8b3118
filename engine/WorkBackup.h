// The work backup: the one hidden folder through which every category backup, category restore
// and import passes (TempBackupFolder), the working backup folder (the device folder that Clear
// empties) and the ready flag of the import.
//
// TempBackupFolder is worked out, created and hidden on first use, then fixed for the life of the
// process. The working backup folder is the work backup's device folder of the connected phone,
// except while a full backup runs, when it is that backup's own device folder (so that a failed
// backup leaves no files behind).
// Invariants: the ready flag is raised (MarkReady) only while the working backup folder is a
// device folder directly inside TempBackupFolder (asserted); Enter keeps it only when it enters
// that same device folder and the folder still holds its Manifest.mbdb; Clear lowers it.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

class WorkBackup {
  public:
    // The hidden work folder (a byte string, like every path of the engine).
    static std::string TempBackupFolder();
    // Only for tests: forget the work folder so that the next call works it out again.
    static void ResetTempBackupFolderForTesting();

    const std::string& Folder() const { return folder_; }
    // Makes `deviceFolder` the working backup folder (a full backup's device folder while the
    // phone writes it, or the work backup's device folder again afterwards).
    void PointAt(std::string deviceFolder) { folder_ = std::move(deviceFolder); }

    // Creates TempBackupFolder and makes its device folder for `udid` the working backup folder;
    // returns it. A ready work backup stays ready only when it is this phone's (the working
    // backup folder was already this one) and still holds its manifest.
    std::string Enter(const std::string& udid);

    // Deletes the files of the working backup folder and of its Snapshot subfolder, removes that
    // subfolder when it is empty, and clears the ready flag. Returns 0. An empty working backup
    // folder, or "/", is never touched.
    int32_t Clear();

    // True while the work backup holds a current backup of the phone that an import may change
    // again instead of taking a new one.
    bool Ready() const { return ready_; }
    // The import took (or reused) the work backup and changes it now.
    void MarkReady();

    // Puts back the manifest that the preparation of a category restore set aside
    // ("Manifest.mbdb_bak"), so that the work backup is a whole backup again. Returns 0 when there
    // was none or it was put back; otherwise the rename's system error code, and the work backup
    // is no longer ready (the next import takes a new one).
    int32_t PutManifestBack();

  private:
    std::string folder_;
    bool ready_ = false;
};

}  // namespace tolvane
