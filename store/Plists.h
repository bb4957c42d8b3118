// Property list files of a backup folder, and the snapshot check made before a restore.
#pragma once

#include <plist/plist.h>

#include <string>
#include <string_view>

#include "platform/Handles.h"

namespace tolvane {

// The property list in a file, owned by the caller (plist_free), or null when the file cannot be
// read or parsed. A file longer than 8 bytes that begins with "bplist00" is read as a binary
// property list, any other as XML.
plist_t ReadPlistFile(const std::string& path);
// The same for bytes already read: null for none, or for bytes that are no property list.
plist_t ParsePlistBytes(std::string_view data);

// ReadPlistFile with an owner.
inline platform::PlistPtr ReadPlistFileOwned(const std::string& path) {
    return platform::PlistPtr(ReadPlistFile(path));
}

// Whether folder/sourceIdentifier/Status.plist records a finished snapshot: 1 when its
// SnapshotState is "finished", 0 for another text, -1 when the file cannot be read or has no
// text SnapshotState.
int mb2_status_check_snapshot_state(const char* sourceIdentifier, const char* folder);
// The same judgement on a Status.plist already read (null: unreadable).
int SnapshotStateOf(plist_t status);

}  // namespace tolvane
