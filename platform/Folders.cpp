#include "platform/Folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

namespace platform {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    // The XDG rules ignore relative paths as invalid.
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return fallback;
}

std::string TrimTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// One XDG_<NAME>_DIR="..." line of user-dirs.dirs: the value may start with $HOME/ or be absolute.
std::string ReadUserDir(const std::string& key) {
    std::ifstream in(ConfigHomeFolder() + "/user-dirs.dirs");
    std::string line;
    const std::string home = HomeFolder();
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        if (line.compare(start, key.size() + 1, key + "=") != 0) {
            continue;
        }
        std::string value = line.substr(start + key.size() + 1);
        if (value.size() < 2 || value.front() != '"') {
            continue;
        }
        const size_t close = value.find('"', 1);
        if (close == std::string::npos) {
            continue;
        }
        value = value.substr(1, close - 1);
        if (value.rfind("$HOME", 0) == 0) {
            value = home + value.substr(5);
        }
        if (value.empty() || value[0] != '/') {
            continue;
        }
        value = TrimTrailingSlashes(value);
        // A documents folder that is the home folder itself means "disabled" in the XDG rules.
        if (value == TrimTrailingSlashes(home)) {
            continue;
        }
        return value;
    }
    return {};
}

std::mutex gProgramFolderMutex;
std::string gProgramFolderOverride;

}  // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return TrimTrailingSlashes(home);
    }
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return TrimTrailingSlashes(pw->pw_dir);
    }
    return "/";
}

std::string DocumentsFolder() {
    std::string dir = ReadUserDir("XDG_DOCUMENTS_DIR");
    return dir.empty() ? HomeFolder() + "/Documents" : dir;
}

std::string AppDataFolder() {
    return TrimTrailingSlashes(EnvOr("XDG_DATA_HOME", HomeFolder() + "/.local/share"));
}

std::string ItunesBackupFolder() {
    return AppDataFolder() + "/Apple Computer/MobileSync/Backup";
}

std::string ConfigHomeFolder() {
    return TrimTrailingSlashes(EnvOr("XDG_CONFIG_HOME", HomeFolder() + "/.config"));
}

std::string StateHomeFolder() {
    return TrimTrailingSlashes(EnvOr("XDG_STATE_HOME", HomeFolder() + "/.local/state"));
}

std::string RuntimeFolder() {
    std::string dir = EnvOr("XDG_RUNTIME_DIR", "");
    struct stat st {};
    if (!dir.empty() && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return TrimTrailingSlashes(dir);
    }
    return "/tmp";
}

std::string ProgramFolder() {
    {
        std::lock_guard lock(gProgramFolderMutex);
        if (!gProgramFolderOverride.empty()) {
            return gProgramFolderOverride;
        }
    }
    std::string buf(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return "./";
    }
    buf.resize(static_cast<size_t>(n));
    const size_t slash = buf.rfind('/');
    return slash == std::string::npos ? std::string("./") : buf.substr(0, slash + 1);
}

void SetProgramFolderForTesting(const std::string& folder) {
    std::lock_guard lock(gProgramFolderMutex);
    gProgramFolderOverride = folder;
    if (!gProgramFolderOverride.empty() && gProgramFolderOverride.back() != '/') {
        gProgramFolderOverride.push_back('/');
    }
}

}  // namespace platform
