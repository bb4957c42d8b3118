#include "app/AppSettings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/ProfileFile.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"

namespace tolvane {

using platform::AnsiToWide;
using platform::WideToAnsi;

ConfigStore::ConfigStore(std::string programConfigPath, std::string userConfigPath,
                         ProgramCopy programCopy)
    : programPath_(std::move(programConfigPath)),
      userPath_(std::move(userConfigPath)),
      programCopy_(programCopy) {}

std::string ConfigStore::ReadString(const std::string& section, const std::string& key,
                                    const std::string& fallback, size_t maxChars) const {
    for (const std::string* path : {&userPath_, &programPath_}) {
        if (path->empty()) {
            continue;
        }
        if (auto value = ProfileFile::Load(*path).GetString(section, key, maxChars)) {
            return *value;
        }
    }
    return fallback.size() > maxChars ? fallback.substr(0, maxChars) : fallback;
}

std::vector<std::pair<std::string, std::string>> ConfigStore::ReadSection(
    const std::string& section, size_t maxChars) const {
    for (const std::string* path : {&userPath_, &programPath_}) {
        if (path->empty()) {
            continue;
        }
        if (auto pairs = ProfileFile::Load(*path).SectionPairs(section, maxChars)) {
            return *pairs;
        }
    }
    return {};
}

int32_t ConfigStore::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) const {
    if (programCopy_ == ProgramCopy::ReadOnly && userPath_.empty()) {
        return platform::kErrorAccessDenied;
    }
    const bool userExists = !userPath_.empty() && platform::FileExists(userPath_);
    if (!userExists && programCopy_ == ProgramCopy::Writable) {
        const int32_t result = ProfileFile::WriteString(programPath_, section, key, value);
        if (result == 0 || userPath_.empty()) {
            return result;
        }
    }
    platform::CreateFolderWithParents(platform::ParentPath(userPath_));
    return ProfileFile::WriteString(userPath_, section, key, value);
}

AppSettings& AppSettings::Get() {
    static AppSettings settings(platform::ProgramFolder());
    return settings;
}

AppSettings::AppSettings(const std::string& programFolder)
    : configPath_(programFolder + "config.ini"),
      languagesFolder_(programFolder + "Languages/"),
      config_(configPath_, UserConfigPath(),
              IsInstalledProgramFolder(programFolder) ? ConfigStore::ProgramCopy::ReadOnly
                                                      : ConfigStore::ProgramCopy::Writable) {
    languageName_ =
        AnsiToWide(config_.ReadString("DefaultLanguage", "Default", "English", kLanguageNameMax));
    if (languageName_.empty()) {
        languageName_ = L"English";
    }
    for (auto& [name, text] : config_.ReadSection("Languages", kSectionMax)) {
        languageList_.emplace_back(AnsiToWide(name), AnsiToWide(text));
    }

    // A language name is a file name inside the languages folder, never a path.
    const std::string language = WideToAnsi(languageName_);
    if (language.find('/') != std::string::npos || language == "." || language == "..") {
        return;
    }
    const ProfileFile file = ProfileFile::Load(languagesFolder_ + language + ".ini");
    for (const std::string& section : file.SectionNames(kSectionNamesMax)) {
        auto& texts = textTable_[section];
        if (auto pairs = file.SectionPairs(section, kSectionMax)) {
            for (auto& [key, text] : *pairs) {
                texts.emplace(AnsiToWide(key), AnsiToWide(text));  // the first occurrence counts
            }
        }
    }
}

const std::map<std::wstring, std::wstring>& AppSettings::Section(const std::string& name) const {
    static const std::map<std::wstring, std::wstring> kEmpty;
    const auto it = textTable_.find(name);
    return it == textTable_.end() ? kEmpty : it->second;
}

std::string UserConfigPath() {
    return platform::ConfigHomeFolder() + "/Tolvane/config.ini";
}

std::wstring ProgramFolder() {
    return AnsiToWide(platform::ProgramFolder());
}

bool IsInstalledProgramFolder(const std::string& programFolder) {
#ifdef TOLVANE_INSTALLED_PROGRAM_FOLDER
    // Compared as written and with links resolved: the folder may be reached through either.
    const std::string installed = TOLVANE_INSTALLED_PROGRAM_FOLDER;
    if (programFolder == installed) {
        return true;
    }
    char* real = realpath(programFolder.c_str(), nullptr);
    char* realInstalled = realpath(installed.c_str(), nullptr);
    const bool same = real != nullptr && realInstalled != nullptr &&
                      std::string(real) == std::string(realInstalled);
    std::free(real);
    std::free(realInstalled);
    return same;
#else
    (void)programFolder;
    return false;
#endif
}

std::wstring ReadUserFolder(const ConfigStore& config) {
    return AnsiToWide(config.ReadString("Folder", "UserFolder", "", kUserFolderMax));
}

std::wstring ReadUserFolder() {
    return ReadUserFolder(AppSettings::Get().Config());
}

int32_t WriteUserFolder(const ConfigStore& config, const std::wstring& folder) {
    const int32_t result = config.WriteString("Folder", "UserFolder", WideToAnsi(folder));
    if (result != 0) {
        std::printf("WriteUserFolder failed %d\n", result);
    }
    return result;
}

int32_t WriteUserFolder(const std::wstring& folder) {
    return WriteUserFolder(AppSettings::Get().Config(), folder);
}

int32_t CreateFolderPath(const std::wstring& path) {
    std::wstring p = path.substr(0, 260);
    for (wchar_t& c : p) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    if (p.empty() || p.back() != L'/') {
        p.push_back(L'/');
    }
    int32_t first = 0;
    for (size_t pos = p.find(L'/', 1); pos != std::wstring::npos; pos = p.find(L'/', pos + 1)) {
        const std::string prefix = WideToAnsi(p.substr(0, pos));
        if (platform::FolderExists(prefix)) {
            continue;
        }
        const int32_t result = platform::CreateFolder(prefix);
        if (result != 0 && first == 0) {
            first = result;
        }
    }
    return first;
}

int32_t PrepareBackupFolder(const std::wstring& folder) {
    if (folder.size() > kUserFolderMax) {
        return platform::kErrorFilenameTooLong;  // would be cut when stored and when created
    }
    const std::string path = platform::PathToBytes(folder);
    if (!platform::FolderExists(path)) {
        const int32_t created = CreateFolderPath(folder);
        if (!platform::FolderExists(path)) {
            // A path longer than CreateFolderPath takes is cut there, so it may report success.
            return created != 0 ? created : platform::kErrorFilenameTooLong;
        }
    }
    return platform::CheckFolderWritable(path);
}

bool IsAppleSoftwareInstalled() {
    std::string socketPath = "/var/run/usbmuxd";
    if (const char* address = std::getenv("USBMUXD_SOCKET_ADDRESS");
        address != nullptr && address[0] != '\0') {
        const std::string value = address;
        if (value.rfind("UNIX:", 0) != 0) {
            return true;  // a TCP address: the service is reached over the network
        }
        socketPath = value.substr(5);
    }
    struct stat st {};
    return stat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace tolvane
