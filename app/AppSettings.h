// The settings of the application: config.ini beside the program (or the per-user copy that takes
// precedence when the program folder cannot be written) and the language file it names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tolvane {

// Buffer limits of the profile reads, in characters.
inline constexpr size_t kLanguageNameMax = 63;
inline constexpr size_t kUserFolderMax = 260;
inline constexpr size_t kSectionNamesMax = 1024;
inline constexpr size_t kSectionMax = 10240;

// config.ini: the program's copy, and the per-user copy that is read first and is written when
// the program folder cannot be. A program copy that belongs to an installation is only read.
class ConfigStore {
  public:
    enum class ProgramCopy { Writable, ReadOnly };

    ConfigStore(std::string programConfigPath, std::string userConfigPath,
                ProgramCopy programCopy = ProgramCopy::Writable);

    const std::string& ProgramConfigPath() const { return programPath_; }
    const std::string& UserConfigPath() const { return userPath_; }

    // The value of a key: the per-user file's when it has the key, else the program's.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback, size_t maxChars) const;
    // The pairs of a section: the per-user file's when it has the section, else the program's.
    std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section,
                                                                 size_t maxChars) const;
    // Writes a key where it will be read back from: the per-user file when that exists or the
    // program's copy is read-only, else the program's file, falling back to the per-user file
    // when the program's cannot be written. Returns 0 or the system error code of the last attempt.
    int32_t WriteString(const std::string& section, const std::string& key,
                        const std::string& value) const;

  private:
    std::string programPath_;
    std::string userPath_;
    ProgramCopy programCopy_;
};

class AppSettings {
  public:
    // The process-wide settings, made on first use from ProgramFolder().
    static AppSettings& Get();

    // Settings of the program installed in `programFolder` (ending in "/").
    explicit AppSettings(const std::string& programFolder);

    const std::string& ConfigPath() const { return configPath_; }
    const std::string& LanguagesFolder() const { return languagesFolder_; }
    const std::wstring& LanguageName() const { return languageName_; }
    // [Languages] of config.ini: language name -> display text, in file order.
    const std::vector<std::pair<std::wstring, std::wstring>>& LanguageList() const {
        return languageList_;
    }
    // The key-to-text map of a section of the language file; empty for a section it lacks.
    const std::map<std::wstring, std::wstring>& Section(const std::string& name) const;
    const ConfigStore& Config() const { return config_; }

  private:
    std::string configPath_;
    std::string languagesFolder_;
    ConfigStore config_;
    std::wstring languageName_;
    std::vector<std::pair<std::wstring, std::wstring>> languageList_;
    std::map<std::string, std::map<std::wstring, std::wstring>> textTable_;
};

// The per-user config.ini: $XDG_CONFIG_HOME/Tolvane/config.ini.
std::string UserConfigPath();

// The folder of the program file, ending in "/".
std::wstring ProgramFolder();

// True when `programFolder` (ending in "/") is the folder this build installs its programs to
// (/usr/lib/tolvane/ for the packages): a folder of the system, never written at run time,
// whoever runs the program (root too, whom file permissions would not stop).
bool IsInstalledProgramFolder(const std::string& programFolder);

// [Folder] UserFolder of config.ini (at most 260 characters); empty when absent.
std::wstring ReadUserFolder();
std::wstring ReadUserFolder(const ConfigStore& config);
// Stores [Folder] UserFolder. Returns 0 or a system error code; a failure is also printed.
int32_t WriteUserFolder(const std::wstring& folder);
int32_t WriteUserFolder(const ConfigStore& config, const std::wstring& folder);

// Creates a folder and its parents the way the settings window does: at most 260 characters of
// the path are used, "\" becomes "/", a final "/" is added, and every prefix ending before a "/"
// (after the first character) that is not a folder yet is created. Returns 0 or the first error.
int32_t CreateFolderPath(const std::wstring& path);

// Makes a backup folder ready for use: creates it with its parents (CreateFolderPath) unless it is
// a folder already, then checks that files can be written in it. 0, or the system error code of
// the first step that failed (the folder could not be made, or nothing can be written there).
int32_t PrepareBackupFolder(const std::wstring& folder);

// True when the usbmux service that the device library would use is there: its socket exists
// (USBMUXD_SOCKET_ADDRESS "UNIX:path", else /var/run/usbmuxd), or a TCP address is configured.
bool IsAppleSoftwareInstalled();

}  // namespace tolvane
