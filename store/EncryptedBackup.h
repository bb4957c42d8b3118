// Encrypted backups of the other backup program, opened through the decryption tool.
//
// The program does not decrypt anything itself: it copies the backup's key files into a fixed input
// folder, starts the tool shipped beside it (copied into the data folder first), hands it the
// password on its standard input and watches its output for "Wrong password". The tool leaves the
// plain message and contacts databases, under their hashed names, in a fixed output folder.
//
// The folders and the tool copy are shared by every run, so only one run may be under way at a
// time. The password never appears on a command line, in a diagnostic line or in a file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Results.h"

namespace tolvane {

// Called with 0 to 100 while the tool derives the password key of a backup of iOS 10.2 or later,
// which takes seconds: the tool's "Deriving the password key: N%" lines. Called on the thread
// that runs the tool.
using BackupToolProgress = std::function<void(int percent)>;

// The fixed locations, all under platform::AppDataFolder() + "/Tolvane".
std::string BackupToolDataFolder();
std::string BackupToolCopyPath();      // "tool.exe", the copy that is started
std::string BackupToolInputFolder();   // "Encrypt": copies of the backup's key files
std::string BackupToolOutputFolder();  // "Decrypt": what the tool writes

// Copies the key files of `backupFolder` into the input folder and runs the tool on them: the two
// databases, Info.plist, Manifest.mbdb and Manifest.plist of a backup of the older layout, or the
// two databases from their two-digit folders, Info.plist, Manifest.db and Manifest.plist of one of
// iOS 10 and later (whose decrypted Manifest.db the tool then leaves in the output folder too).
// `outputFolder` is set to the output folder once the run is set up (also when the tool then
// reports a wrong password). Returns 0, platform::kResultWrongPassword, platform::kResultMissing
// when the tool cannot be started, or the system's error code of the first failed copy (the tool is
// then not run). Paths are byte strings; the password is handed to the tool as its bytes (UTF-8 by
// convention).
int32_t DecryptBackup(std::string_view password, const std::string& backupFolder,
                      std::string& outputFolder, const BackupToolProgress& progress = {});

// The run itself: starts the tool on `inputFolder`, writes `password` to its standard input and
// reads its output until it ends. platform::kResultWrongPassword as soon as the output holds
// "Wrong password"; 0 when it ended without. The tool's exit code is not looked at: a tool that
// fails silently gives 0, and the caller finds the databases missing from the output folder. The
// databases of an earlier run are deleted first; one that cannot be deleted gives the system's
// code and the tool is not run.
int32_t RunBackupTool(const std::string& inputFolder, std::string_view password,
                      std::string& outputFolder, const BackupToolProgress& progress = {});

// Checks a password of an encrypted backup by decrypting it. A null or empty password gives
// platform::kResultWrongPassword at once, without starting anything.
// Deletes every file the tool left in its output folder ("Decrypt"): the plain copies of an
// encrypted backup's databases are the user's private messages and contacts in clear, so every
// operation that decrypts calls this when it ends, whatever its outcome.
void DiscardDecryptedOutput();

int32_t VerifyBackupPassword(const char* password, const std::string& backupFolder,
                             const BackupToolProgress& progress = {});

// What a failed DecryptBackup stands for: a refused password (kResultWrongPassword), a key file
// the backup lacks (kErrorFileNotFound), or else a tool that cannot be run or files that cannot
// be copied.
platform::Failure DecryptionFailure(int32_t result);

// Copies the two decrypted databases of `folder` to "sms" and "content" beside them, so that the
// folder looks like one of the program's own category backups. Stops at the first failed copy and
// returns its system error code.
int32_t ExposeDecryptedDatabases(const std::string& folder);

}  // namespace tolvane
