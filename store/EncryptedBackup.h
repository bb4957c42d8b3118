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
// Asked while a run waits for the operation lock and while the tool runs, on the same thread:
// true ends the run (the tool is ended at once) with platform::kResultCancelled.
using BackupToolStop = std::function<bool()>;

// The progress of every decryption whose caller gives none of its own (a restore by category, a
// listing): tolvanectl shows the derivation on standard error with it. Set before any run starts;
// empty by default.
void SetDefaultBackupToolProgress(BackupToolProgress progress);

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
//
// While a DecryptionReuse is open, a call for the backup folder and password of the last
// successful run whose output is still in place takes that output and starts nothing (see there).
int32_t DecryptBackup(std::string_view password, const std::string& backupFolder,
                      std::string& outputFolder, const BackupToolProgress& progress = {},
                      const BackupToolStop& stop = {});

// The run itself: starts the tool on `inputFolder`, writes `password` to its standard input and
// reads its output until it ends. platform::kResultWrongPassword as soon as the output holds
// "Wrong password"; 0 when it ended without. The tool's exit code is not looked at: a tool that
// fails silently gives 0, and the caller finds the databases missing from the output folder. The
// databases of an earlier run are deleted first; one that cannot be deleted gives the system's
// code and the tool is not run.
int32_t RunBackupTool(const std::string& inputFolder, std::string_view password,
                      std::string& outputFolder, const BackupToolProgress& progress = {},
                      const BackupToolStop& stop = {});

// Deletes every file the tool left in its output folder ("Decrypt"): the plain copies of an
// encrypted backup's databases are the user's private messages and contacts in clear, so every
// operation that decrypts calls this when it ends, whatever its outcome.
// While a DecryptionReuse is open, the output it keeps stays (it goes when the last one closes).
void DiscardDecryptedOutput();

// Checks a password of an encrypted backup by decrypting it. A null or empty password gives
// platform::kResultWrongPassword at once, without starting anything. The plain output is
// discarded (DiscardDecryptedOutput) whatever the outcome; `stop` also gives up the wait for
// another operation. `waiting` is told true when the check has to wait for another operation of
// the program (another process holds the tool's folders), and false once that wait is over.
int32_t VerifyBackupPassword(const char* password, const std::string& backupFolder,
                             const BackupToolProgress& progress = {},
                             const BackupToolStop& stop = {},
                             const std::function<void(bool)>& waiting = {});

// One user action that decrypts the same backup more than once: a password check and the
// listing or restore that follows it, or a listing of the messages and then of the contacts. A
// backup of iOS 10.2 or later costs seconds per decryption, so while one of these is open in the
// process (they nest), the output of a successful DecryptBackup is kept: DiscardDecryptedOutput
// leaves it, and a later DecryptBackup of the same backup folder (the same folder on disk) with
// the same password takes it, as long as none of the backup's key files and none of the output
// files has changed since (the same file, size, modification and change time; another process's
// run replaces them). A run for another backup or password, or a failed one, drops what was kept.
// When the last one closes, the kept output is deleted.
//
// Open it on the thread that starts the action, around every step of it; the password is held
// in memory only, and cleared when it goes.
class DecryptionReuse {
  public:
    DecryptionReuse();
    ~DecryptionReuse();
    DecryptionReuse(const DecryptionReuse&) = delete;
    DecryptionReuse& operator=(const DecryptionReuse&) = delete;
};

// What a failed DecryptBackup stands for: a refused password (kResultWrongPassword), a key file
// the backup lacks (kErrorFileNotFound), or else a tool that cannot be run or files that cannot
// be copied.
platform::Failure DecryptionFailure(int32_t result);

// Copies the two decrypted databases of `folder` to "sms" and "content" beside them, so that the
// folder looks like one of the program's own category backups. Stops at the first failed copy and
// returns its system error code.
int32_t ExposeDecryptedDatabases(const std::string& folder);

}  // namespace tolvane
