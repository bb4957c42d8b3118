// The backup catalogue: where backups live, the list of them the restore side shows, the catalogue
// file `fileinfo` of the program's own backups, and the test that tells an encrypted backup from a
// plain one.
//
// Two kinds of backup are known:
//   own backups     one folder per backup directly under a root, named by the local time it was
//                   taken ("%04d-%02d-%02d-%02d-%02d-%02d"), described by its `fileinfo` file;
//   iTunes backups  one folder per device under the other backup program's folder, described by
//                   its Info.plist, which is scanned as text line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/BackupFormat.h"

namespace tolvane {

struct BackupEntry {
    uint8_t encrypted = 0;   // the backup's databases are encrypted
    int32_t categories = 0;  // DataCategory word (always Full for iTunes backups)
    std::wstring name;       // own: fileinfo line 3; iTunes: the Display Name (for display)
    std::wstring date;       // own: fileinfo line 2; iTunes: Last Backup Date, converted
    // iTunes: the moment of the Last Backup Date (seconds since 1970 UTC); INT64_MIN when unread.
    int64_t instant = INT64_MIN;
    std::string folder;  // full path of the backup folder, as the file system names it
    // The generation of the backup: from its manifest for whole backups, from the phone's version
    // in `fileinfo` for own category backups (which hold no manifest).
    BackupFormat format = BackupFormat::Unknown;
};

// Paths are byte strings (UTF-8 by convention; a name need not be valid UTF-8), as the file system
// gives them; the names and dates of entries are wide text for display.

// The default root of own backups: the documents folder + "/TolvaneiPhoneBackup".
std::string DefaultBackupRoot();

// Appends the own backups found directly under `root`, newest folder name first. Returns 0; a root
// that does not exist yields nothing.
int32_t ListOwnBackups(const std::string& root, std::vector<BackupEntry>& entries);

// The own backups of both roots, as the restore side assembles them: the default root, then the
// user's folder when it is set and is not the same text.
int32_t ListAllOwnBackups(const std::string& defaultRoot, const std::string& userFolder,
                          std::vector<BackupEntry>& entries);

// Appends the iTunes backups of `folder` (by default the other program's backup folder), then
// sorts the whole list by date, newest first. Returns 0.
int32_t ListItunesBackups(std::vector<BackupEntry>& entries);
int32_t ListItunesBackupsIn(const std::string& folder, std::vector<BackupEntry>& entries);

// Writes `fileinfo`: the categories word, CR LF, the timestamp, CR LF, the device name, "(", the
// device class, " ", the product version, ")". An existing file is replaced whole. Returns 0 or a
// system error code.
int32_t WriteFileInfo(uint32_t categories, const std::string& timestamp,
                      const std::string& deviceName, const std::string& deviceClass,
                      const std::string& productVersion, const std::string& fileinfoPath);

// True when the file opens and its first six bytes are not "SQLite" (in any letter case).
bool IsEncryptedDatabase(const std::string& path);

// Whether a device folder holds an encrypted backup. A folder of the newer layout (Manifest.db)
// says so in its Manifest.plist (IsEncrypted). Otherwise IsEncryptedDatabase on the contacts
// database under its plain hashed name or, when that does not open, with ".mddata" appended;
// false when neither opens.
bool IsEncryptedDeviceFolder(const std::string& folder);

// Appends the full path of every entry of `folder` whose name does not begin with ".", in
// ascending name order (the order the catalogue relies on, whatever the file system's own is).
void ListFolderEntries(const std::string& folder, std::vector<std::string>& paths);

// The product version in the third line of a `fileinfo` ("name(class version)"); empty when the
// line has no such tail.
std::string FileInfoProductVersion(const std::string& deviceLine);

// Appends the bare names of exactly 40 characters among the entries of `folder` (hidden names
// skipped), in the same order: the device folders of a full backup.
void ListDeviceFolderNames(const std::string& folder, std::vector<std::string>& names);

// Reads an iTunes date ("2015-03-04T09:05:07Z": UTC; a fraction of a second is ignored, an offset
// "+01:00" / "-0530" instead of "Z" is honoured) as seconds since 1970-01-01 UTC. False for
// anything else.
bool ParseItunesDate(const std::string& text, int64_t& unixSeconds);

// Turns an iTunes date into the local time of that moment in display form ("2015-03-04
// 10:05:07"), after the zone rules of the process: the calendar date, summer time and zones with
// half hours included. A text that cannot be read is shown with its "T" made a blank and
// anything from its "Z" on left out; a text without "T" is returned as it is.
std::string ConvertItunesDate(const std::string& text, int64_t* unixSeconds = nullptr);

// Decodes the XML character references of a plist text value (&amp; &lt; &gt; &quot; &apos; and
// numeric ones); anything malformed is kept as it is.
std::string DecodeXmlText(const std::string& text);

}  // namespace tolvane
