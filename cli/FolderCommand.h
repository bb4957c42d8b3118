// tolvanectl folder [DIR | --default]
#pragma once

#include <string>
#include <vector>

namespace tolvane {
class ConfigStore;
}

namespace tolvane::cli {

// The folder command on the settings of `config`: prints the backup folder in use (the settings'
// folder, else the default one), or makes DIR ready and stores it, or stores the default folder
// for --default. Returns the exit status.
int RunFolder(const std::vector<std::string>& args, const ConfigStore& config);

}  // namespace tolvane::cli
