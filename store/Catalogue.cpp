#include "store/Catalogue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Handles.h"
#include "platform/Strings.h"
#include "platform/Time.h"
#include "store/DataCategory.h"

namespace tolvane {
namespace {

using platform::AnsiToWide;
using platform::WideToAnsi;

constexpr size_t kLineBuffer = 2048;  // lines are read in pieces of at most 2047 characters

// One line as the C runtime's fgets gives it: at most 2047 characters, up to and including the
// line feed. Returns false at the end of the file.
bool ReadLine(FILE* file, std::string& line) {
    char buf[kLineBuffer];
    if (std::fgets(buf, sizeof buf, file) == nullptr) {
        return false;
    }
    line.assign(buf);
    return true;
}

// Drops one trailing line feed, and the carriage return of a CR LF line end before it (the text
// mode of the system this format comes from removes the CR on reading).
std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
    }
    return line;
}

// Reads the `fileinfo` of one own backup folder into `entry`.
void ReadFileInfo(const std::string& folder, BackupEntry& entry) {
    platform::FilePtr file(platform::OpenRegularFileStream(platform::JoinPath(folder, "fileinfo")));
    if (file != nullptr) {
        ScanFileInfo(file.get(), folder, entry);
    }
}

}  // namespace

void ScanFileInfo(std::FILE* file, const std::string& folder, BackupEntry& entry) {
    std::string raw;
    for (int lineNo = 1; lineNo <= 3 && ReadLine(file, raw); ++lineNo) {
        const std::string line = WithoutLineEnd(raw);
        if (lineNo == 1) {
            entry.categories = static_cast<int32_t>(std::strtol(line.c_str(), nullptr, 10));
            if ((entry.categories & Sms) != 0) {
                entry.encrypted = IsEncryptedDatabase(platform::JoinPath(folder, kSmsCopyName));
                if (entry.encrypted != 0) {
                    return;  // an encrypted copy cannot be used: the backup is not listed
                }
            } else if ((entry.categories & Contacts) != 0) {
                entry.encrypted =
                    IsEncryptedDatabase(platform::JoinPath(folder, kContactsCopyName));
                if (entry.encrypted != 0) {
                    return;
                }
            } else {
                std::vector<std::string> names;
                ListDeviceFolderNames(folder, names);
                if (!names.empty()) {
                    const std::string device = platform::JoinPath(folder, names.front());
                    entry.encrypted = IsEncryptedDeviceFolder(device);
                    entry.format = DeviceFolderFormat(device);
                }
            }
        } else if (lineNo == 2) {
            entry.date = AnsiToWide(line);
        } else {
            entry.name = AnsiToWide(line);
            if ((entry.categories & Full) == 0) {
                entry.format = PhoneBackupFormat(FileInfoProductVersion(line));
            }
        }
    }
}

namespace {

// The text between `open` and `close` markers of one line, as the scan of Info.plist takes it:
// the line is cut at the closing marker, and the value is what follows the opening marker. A line
// without the opening marker gives nothing.
std::string MarkedValue(const std::string& line, const char* open, const char* close) {
    std::string cut = line;
    if (const size_t end = cut.find(close); end != std::string::npos) {
        cut.resize(end);
    }
    const size_t start = cut.find(open);
    if (start == std::string::npos) {
        return {};
    }
    return cut.substr(start + std::strlen(open));
}

// Reads the name and date of one iTunes backup from its Info.plist text.
void ReadItunesInfo(const std::string& folder, BackupEntry& entry) {
    platform::FilePtr file(
        platform::OpenRegularFileStream(platform::JoinPath(folder, "Info.plist")));
    if (file != nullptr) {
        ScanItunesInfo(file.get(), entry);
    }
}

}  // namespace

void ScanItunesInfo(std::FILE* file, BackupEntry& entry) {
    std::string line;
    std::string value;
    while (ReadLine(file, line)) {
        if (line.find("<key>Display Name</key>") != std::string::npos) {
            if (!ReadLine(file, value)) {
                break;
            }
            entry.name = platform::Utf8ToWide(
                DecodeXmlText(MarkedValue(WithoutLineEnd(value), "<string>", "</string>")));
            if (entry.name.empty()) {
                // Not UTF-8 after all: keep what can be read rather than dropping the backup.
                entry.name = AnsiToWide(
                    DecodeXmlText(MarkedValue(WithoutLineEnd(value), "<string>", "</string>")));
            }
        } else if (line.find("<key>Last Backup Date</key>") != std::string::npos) {
            if (!ReadLine(file, value)) {
                break;
            }
            const std::string date = MarkedValue(WithoutLineEnd(value), "<date>", "</date>");
            // A later date key replaces an earlier one whole: the moment of the first must not
            // stay beside the text of the second.
            entry.instant = INT64_MIN;
            entry.date = AnsiToWide(ConvertItunesDate(date, &entry.instant));
        } else if (line.find("<key>Phone Number</key>") != std::string::npos) {
            if (!ReadLine(file, value)) {
                break;
            }
        } else if (line.find("<key>Serial Number</key>") != std::string::npos) {
            ReadLine(file, value);
            break;
        }
    }
}

namespace {

bool CaseInsensitiveGreater(const std::wstring& a, const std::wstring& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const wchar_t ca = (a[i] >= L'A' && a[i] <= L'Z') ? a[i] - L'A' + L'a' : a[i];
        const wchar_t cb = (b[i] >= L'A' && b[i] <= L'Z') ? b[i] - L'A' + L'a' : b[i];
        if (ca != cb) {
            return ca > cb;
        }
    }
    return a.size() > b.size();
}

}  // namespace

std::string DefaultBackupRoot() {
    return platform::DocumentsFolder() + "/TolvaneiPhoneBackup";
}

void ListFolderEntries(const std::string& folder, std::vector<std::string>& paths) {
    std::vector<platform::DirEntry> entries;
    if (platform::ListFolder(folder, entries) != 0) {
        return;
    }
    std::sort(
        entries.begin(), entries.end(),
        [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    for (const platform::DirEntry& e : entries) {
        if (!e.name.empty() && e.name[0] != '.') {
            paths.push_back(platform::JoinPath(folder, e.name));
        }
    }
}

void ListDeviceFolderNames(const std::string& folder, std::vector<std::string>& names) {
    std::vector<std::string> paths;
    ListFolderEntries(folder, paths);
    for (const std::string& path : paths) {
        // Forty characters: a device identifier is ASCII, so characters and bytes agree for it.
        std::string name = platform::BaseName(path);
        if (platform::AnsiToWide(name).size() == 40) {
            names.push_back(std::move(name));
        }
    }
}

int32_t ListOwnBackups(const std::string& root, std::vector<BackupEntry>& entries) {
    std::vector<std::string> paths;
    ListFolderEntries(root, paths);
    // Folder names are timestamps: from the last to the first is newest first.
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        BackupEntry entry;
        entry.folder = *it;
        ReadFileInfo(*it, entry);
        if (!entry.name.empty()) {
            entries.push_back(std::move(entry));
        }
    }
    return 0;
}

int32_t ListAllOwnBackups(const std::string& defaultRoot, const std::string& userFolder,
                          std::vector<BackupEntry>& entries) {
    ListOwnBackups(defaultRoot, entries);
    if (!userFolder.empty() && userFolder != defaultRoot) {
        ListOwnBackups(userFolder, entries);
    }
    return 0;
}

int32_t ListItunesBackupsIn(const std::string& folder, std::vector<BackupEntry>& entries) {
    std::vector<std::string> paths;
    ListFolderEntries(folder, paths);
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        BackupEntry entry;
        entry.categories = Full;
        entry.folder = *it;
        ReadItunesInfo(*it, entry);
        entry.encrypted = IsEncryptedDeviceFolder(*it) ? 1 : 0;
        entry.format = DeviceFolderFormat(*it);
        if (!entry.name.empty()) {
            entries.push_back(std::move(entry));
        }
    }
    if (entries.size() > 1) {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const BackupEntry& a, const BackupEntry& b) {
                             // By the moment, newest first: the local display text repeats an
                             // hour when summer time ends. Unread dates go last.
                             if (a.instant != b.instant) {
                                 return a.instant > b.instant;
                             }
                             return CaseInsensitiveGreater(a.date, b.date);
                         });
    }
    return 0;
}

int32_t ListItunesBackups(std::vector<BackupEntry>& entries) {
    return ListItunesBackupsIn(platform::ItunesBackupFolder(), entries);
}

int32_t WriteFileInfo(uint32_t categories, const std::string& timestamp,
                      const std::string& deviceName, const std::string& deviceClass,
                      const std::string& productVersion, const std::string& fileinfoPath) {
    const std::string text = std::to_string(static_cast<int32_t>(categories)) + "\r\n" + timestamp +
                             "\r\n" + deviceName + "(" + deviceClass + " " + productVersion + ")";
    // Truncate: a shorter text must not leave the tail of an older file behind.
    platform::UniqueFd fd(
        open(fileinfoPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return platform::LastSystemError();
    }
    int32_t result = platform::WriteAll(fd.get(), text);
    if (fd.Close() != 0 && result == 0) {
        result = platform::LastSystemError();
    }
    return result;
}

bool IsEncryptedDatabase(const std::string& path) {
    platform::FilePtr file(platform::OpenRegularFileStream(path));
    if (file == nullptr) {
        return false;
    }
    char head[6] = {};
    const size_t n = std::fread(head, 1, sizeof head, file.get());
    return !(n == sizeof head &&
             platform::EqualsIgnoreAsciiCase(std::string_view(head, 6), "SQLite"));
}

std::string FileInfoProductVersion(const std::string& deviceLine) {
    if (deviceLine.empty() || deviceLine.back() != ')') {
        return {};
    }
    const size_t open = deviceLine.rfind('(');
    const size_t space = deviceLine.rfind(' ');
    if (open == std::string::npos || space == std::string::npos || space < open) {
        return {};
    }
    return deviceLine.substr(space + 1, deviceLine.size() - space - 2);
}

bool IsEncryptedDeviceFolder(const std::string& folder) {
    if (DeviceFolderFormat(folder) == BackupFormat::Database) {
        return ManifestPlistSaysEncrypted(folder);
    }
    const std::string path = platform::JoinPath(folder, kContactsDatabaseName);
    for (const std::string& candidate : {path, path + ".mddata"}) {
        platform::FilePtr probe(platform::OpenRegularFileStream(candidate));
        if (probe != nullptr) {
            probe.reset();
            return IsEncryptedDatabase(candidate);
        }
    }
    return false;
}

bool ParseItunesDate(const std::string& text, int64_t& unixSeconds) {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                    &second, &used) != 6 ||
        used != 19) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        hour < 0 || minute < 0 || second < 0) {
        return false;
    }
    size_t at = static_cast<size_t>(used);
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
    }
    int64_t offsetSeconds = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '-' ? -1 : 1;
        int offHours = 0;
        int offMinutes = 0;
        int offUsed = 0;
        const char* rest = text.c_str() + at + 1;
        if (std::sscanf(rest, "%2d:%2d%n", &offHours, &offMinutes, &offUsed) != 2 &&
            std::sscanf(rest, "%2d%2d%n", &offHours, &offMinutes, &offUsed) != 2) {
            return false;
        }
        if (offHours > 23 || offMinutes > 59 || offHours < 0 || offMinutes < 0) {
            return false;
        }
        offsetSeconds = sign * (offHours * 3600 + offMinutes * 60);
        at += 1 + static_cast<size_t>(offUsed);
    } else {
        return false;
    }
    if (at != text.size()) {
        return false;
    }
    unixSeconds = platform::FromUtcTime({year, month, day, hour, minute, second}) - offsetSeconds;
    return true;
}

std::string ConvertItunesDate(const std::string& text, int64_t* unixSeconds) {
    int64_t instant = 0;
    if (ParseItunesDate(text, instant)) {
        if (unixSeconds != nullptr) {
            *unixSeconds = instant;
        }
        const platform::LocalTime t = platform::ToLocalTime(instant);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        return buf;
    }
    std::string shown = text;
    const size_t t = shown.find('T');
    if (t == std::string::npos) {
        return shown;
    }
    shown[t] = ' ';
    if (const size_t z = shown.find('Z'); z != std::string::npos) {
        shown.resize(z);
    }
    return shown;
}

std::string DecodeXmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out.push_back(text[i++]);
            continue;
        }
        const size_t semi = text.find(';', i);
        if (semi == std::string::npos || semi - i > 10) {
            out.push_back(text[i++]);
            continue;
        }
        const std::string ref = text.substr(i + 1, semi - i - 1);
        std::string decoded;
        if (ref == "amp") {
            decoded = "&";
        } else if (ref == "lt") {
            decoded = "<";
        } else if (ref == "gt") {
            decoded = ">";
        } else if (ref == "quot") {
            decoded = "\"";
        } else if (ref == "apos") {
            decoded = "'";
        } else if (ref.size() > 1 && ref[0] == '#') {
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const std::string digits = ref.substr(hex ? 2 : 1);
            char* end = nullptr;
            const unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && end != nullptr && *end == '\0' && cp > 0 && cp <= 0x10FFFF &&
                !(cp >= 0xD800 && cp <= 0xDFFF)) {
                decoded = WideToAnsi(std::wstring(1, static_cast<wchar_t>(cp)));
            }
        }
        if (decoded.empty()) {
            out.push_back(text[i++]);
            continue;
        }
        out += decoded;
        i = semi + 1;
    }
    return out;
}

namespace {

struct FileKey {
    uint64_t device;
    uint64_t inode;
    bool operator<(const FileKey& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
};

void MeasureFolder(const std::string& folder, std::set<FileKey>& seen, std::set<FileKey>& mine,
                   BackupEntry& entry) {
    std::vector<platform::DirEntry> items;
    platform::ListFolder(folder, items);
    for (const platform::DirEntry& item : items) {
        const std::string path = platform::JoinPath(folder, item.name);
        const std::optional<platform::FileIdentity> id = platform::IdentityOf(path);
        if (!id) {
            continue;
        }
        if (item.type == platform::EntryType::Folder) {
            MeasureFolder(path, seen, mine, entry);
        } else if (item.type == platform::EntryType::File) {
            const FileKey key{id->device, id->inode};
            if (!mine.insert(key).second) {
                continue;  // the same file twice in one backup takes its room once
            }
            entry.size += id->size;
            if (seen.count(key) == 0) {
                entry.newData += id->size;
            }
        }
    }
}

}  // namespace

void MeasureBackupSpace(std::vector<BackupEntry>& entries) {
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    // Oldest first: timestamped names sort as their times do.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return platform::BaseName(entries[a].folder) < platform::BaseName(entries[b].folder);
    });
    std::set<FileKey> seen;
    for (size_t i : order) {
        BackupEntry& e = entries[i];
        e.size = 0;
        e.newData = 0;
        std::set<FileKey> mine;
        MeasureFolder(e.folder, seen, mine, e);
        seen.insert(mine.begin(), mine.end());
    }
}

}  // namespace tolvane
