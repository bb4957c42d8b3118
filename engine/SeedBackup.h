// Repeat backups: a new whole backup starts from the phone's newest earlier one. Its device
// folder is filled with hard links to the earlier backup's files, so that the phone finds its
// previous backup there and sends only what changed; every backup stays a complete folder of its
// own, and an unchanged file takes its room on the disk once, however many backups hold it.
//
// Nothing writes into a seeded file: the engine receives each file into a new one and renames it
// over the name, moves and removes touch names only, Info.plist and Status.plist are replaced by
// rename. Where the volume cannot hard-link, the files are copied when there is room for that to
// pay (twice the earlier backup free), otherwise the folder starts empty and the phone sends all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

struct SeedOutcome {
    enum class Mode { None, Linked, Copied };
    Mode mode = Mode::None;
    std::string from;    // the earlier backup's folder (base/<timestamp>)
    uint64_t files = 0;  // files given to the new folder
    uint64_t bytes = 0;  // their size
};

// The newest own backup under `base` (other than `exclude`) that is a complete whole backup of
// the phone `udid`: listed in the catalogue as a full backup, its device folder's Status.plist
// "finished", and Manifest.plist's IsEncrypted equal to `encrypted`.
std::optional<std::string> FindEarlierBackup(const std::string& base, const std::string& udid,
                                             bool encrypted, const std::string& exclude);

// Fills the empty device folder `target` from the earlier one `source`: every file below it
// (folders made as they are) except Info.plist, a staging folder and hidden names. On a local
// failure the files seeded so far are removed again and the result is Mode::None; the earlier
// folder is only read.
SeedOutcome SeedDeviceFolder(const std::string& source, const std::string& target);

}  // namespace tolvane
