// The special folders of the user and of the program.
//
// Each folder is read from the environment on every call (HOME and the XDG variables), so tests
// can point them at temporary folders. Paths use "/" and never end in one, except ProgramFolder.
#pragma once

#include <string>

namespace platform {

// $HOME, else the password database's home folder.
std::string HomeFolder();

// The documents folder: XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME/Documents.
std::string DocumentsFolder();

// The roaming application-data folder: $XDG_DATA_HOME, else $HOME/.local/share.
std::string AppDataFolder();

// Where the other backup program keeps its backups: AppDataFolder() + "/Apple
// Computer/MobileSync/Backup".
std::string ItunesBackupFolder();

// $XDG_CONFIG_HOME, else $HOME/.config.
std::string ConfigHomeFolder();

// $XDG_RUNTIME_DIR when it names an existing folder, else /tmp.
std::string RuntimeFolder();

// $XDG_STATE_HOME, else $HOME/.local/state.
std::string StateHomeFolder();

// The folder of the running program file, ending in "/".
std::string ProgramFolder();

// Only for tests: makes ProgramFolder() answer `folder` (ending in "/") instead; empty restores.
void SetProgramFolderForTesting(const std::string& folder);

}  // namespace platform
