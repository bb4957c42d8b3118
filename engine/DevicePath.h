// Paths that the phone names, joined to the backup folder on the computer.
//
// The phone's names are relative to the backup folder and are used byte for byte. A broken or
// hostile phone could name "../x" or "/etc/x"; such names are refused here, so that nothing
// outside the backup folder is ever created, written, moved, removed, listed or read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// "folder/name" when `name` stays inside `folder`, else nothing. Refused: an absolute name, a
// ".." component, an embedded NUL byte, and (unless `allowFolderItself`) a name that denotes the
// folder itself ("", ".", "./."). The accepted name is appended unchanged after one "/".
std::optional<std::string> JoinDevicePath(std::string_view folder, std::string_view name,
                                          bool allowFolderItself = false);

// The device error code of an errno value: 2 (no such file) gives -6, 17 (file exists) -7, any
// other value e gives -e.
int32_t DeviceErrorFromErrno(int err);

// The errno value that stands for a refused device path in replies to the phone.
inline constexpr int kRefusedPathErrno = 13;  // EACCES

}  // namespace tolvane
