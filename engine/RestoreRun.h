// The pieces of a restore run that stand on their own: naming the backup the phone is asked for,
// checking it before anything reaches the phone, the options of the Restore request, and the
// folder a restore by category takes its databases from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Handles.h"
#include "platform/Results.h"

namespace tolvane {

// Splits an iTunes backup folder into the folder F that holds it and its own name S (the device
// folder the phone is asked for, its SourceIdentifier). Trailing "/" are ignored, so
// ".../Backup/<name>/" names the same backup as ".../Backup/<name>"; a backup directly under the
// root gets F = "/". False when the path has no "/" before its last name, or no name at all.
bool SplitItunesBackupFolder(std::string_view backupFolder, std::string& folder, std::string& name);

// Whether `sent` (names the computer sent in a restore conversation) holds the backup
// F/S's two manifests and every file its manifest lists, named as the phone asks for them: flat
// for a Manifest.mbdb, "<xx>/<fileID>" for every file row of a Manifest.db (an encrypted
// Manifest.db cannot be read here: its two manifests suffice).
bool RestoreFilesAllSent(const char* folder, const char* sourceIdentifier,
                         const std::vector<std::string>& sent);

// What RequestRestore checks before it asks the phone: platform::kResultMissing (87) when `folder`
// is null or not an existing folder; platform::kResultCancelled (2) when folder/name has no
// Info.plist or no Manifest.plist readable as a property list; platform::kResultMissing when
// folder/name/Status.plist records a snapshot state other than "finished" (a missing or unreadable
// Status.plist passes). 0 when the restore may be asked for; `what` (when given) receives what a
// failure stands for.
int32_t CheckRestoreSource(const char* folder, const char* name, platform::Failure* what = nullptr);

// The Options of a Restore request, in the order the phone is sent them: "RestoreSystemFiles"
// (false for a whole restore, true for one by category), "RestoreDontCopyBackup" and
// "RestorePreserveSettings" (both true), and "Password" when a password is given.
platform::PlistPtr BuildRestoreOptions(bool wholeRestore, const char* password);

// The folder a restore by category takes its databases from:
//   own backup with a device folder (a name of 40 characters)  backup/<first such name>
//   own category backup (no such name)                         the backup folder itself
//   iTunes backup, plain                                       the backup folder itself
//   iTunes backup, encrypted                                   the decryption tool's output folder,
//                                                              with "sms" and "content" copies
// `decrypted` tells the caller that the source holds plain copies of an encrypted backup, which
// it should discard once they are used. Returns 0, or for an encrypted backup
// platform::kResultWrongPassword (no password, or the tool refused it) or the code of the failed
// decryption step; `what` then says which.
int32_t ChooseCategorySource(const std::string& backupFolder, bool itunes,
                             const char* backupPassword, std::string& sourceFolder, bool& decrypted,
                             platform::Failure& what);

// Checks that `sourceFolder` holds each chosen database (its "sms"/"content" copy, else the
// hashed name) as a plain SQLite file, before a fresh backup of the phone is taken for nothing:
// kErrorFileNotFound when one is missing, platform::IMPORT_BAD_FILE (1006) when one is not a plain
// database (an encrypted one would replace the phone's database with bytes it cannot read).
int32_t CheckCategorySource(uint32_t categories, const std::string& sourceFolder,
                            platform::Failure& what);

// Checks that this phone (`productVersion`) can read each chosen database of `sourceFolder`
// (RequiredIosMajor): 0, or 1006 with `refusal` set to the text that says which generation the
// file needs. A phone whose version is not known is not refused.
int32_t CheckCategorySourceFitsPhone(uint32_t categories, const std::string& sourceFolder,
                                     const std::string& productVersion, std::string& refusal);

// What a restore run is going to do, worked out and checked before anything reaches the phone.
struct RestorePlan {
    bool whole = false;
    std::string folder;      // whole: F, the folder that holds the backup
    std::string name;        // whole: S, the backup's device folder (the SourceIdentifier)
    std::string source;      // by category: where the databases come from
    bool decrypted = false;  // by category: `source` holds plain copies of an encrypted backup
    platform::Failure failure = platform::Failure::None;  // what a failed check stands for
    std::string problem;  // the text for the user of a failed check, where the code does not say it
};

// Works out the plan for `categories` (Full, or Sms and/or Contacts) and the chosen backup:
//   whole        an own backup's first 40-character device folder, or the other program's
//                folder split by SplitItunesBackupFolder (2 when there is none), then
//                CheckRestoreSource;
//   by category  87 when the backup folder is not there, then ChooseCategorySource and
//                CheckCategorySource.
// Returns 0 or the code of the first check that failed, with `plan.failure` saying what it stands
// for. `plan.decrypted` may be set also when it fails; the caller then discards the decrypted
// databases.
int32_t PlanRestore(uint32_t categories, const std::string& backupFolder, bool itunes,
                    const char* backupPassword, RestorePlan& plan);

// Deletes the plain databases that decrypting an encrypted backup left in `folder` (the hashed
// names and their "sms"/"content" copies), so they do not outlive the restore that used them.
void DiscardDecryptedDatabases(const std::string& folder);

}  // namespace tolvane
