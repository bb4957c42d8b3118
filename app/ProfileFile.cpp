#include "app/ProfileFile.h"

#include <cerrno>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Strings.h"

namespace tolvane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\0';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view StripBom(std::string_view bytes) {
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF) {
        bytes.remove_prefix(3);
    }
    return bytes;
}

// Splits into lines at LF; a CR before the LF, and a last line without LF, are handled.
std::vector<std::string_view> Lines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) {
            end = bytes.size();
        }
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// "[name]" (blanks allowed around): the name; otherwise nullopt.
std::optional<std::string_view> SectionHeader(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') {
        return std::nullopt;
    }
    const size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Keeps what fits a buffer of `maxChars` holding texts each ended by a zero, the list ended by a
// second zero: at most maxChars - 2 characters of texts and their zeros. The text that does not
// fit whole is cut, as the system's calls do.
std::vector<std::string> FitDoubleZeroList(const std::vector<std::string>& texts, size_t maxChars) {
    std::vector<std::string> kept;
    if (maxChars < 2) {
        return kept;
    }
    size_t room = maxChars - 2;
    for (const std::string& t : texts) {
        if (room == 0) {
            break;
        }
        if (t.size() + 1 <= room) {
            kept.push_back(t);
            room -= t.size() + 1;
        } else {
            kept.push_back(t.substr(0, room));
            break;
        }
    }
    return kept;
}

}  // namespace

ProfileFile ProfileFile::Parse(std::string_view bytes) {
    ProfileFile file;
    bytes = StripBom(bytes);
    Section* current = nullptr;
    for (std::string_view raw : Lines(bytes)) {
        if (const auto name = SectionHeader(raw)) {
            file.sections_.push_back(Section{std::string(*name), {}});
            current = &file.sections_.back();
            continue;
        }
        const std::string_view line = Trim(raw);
        if (current == nullptr || line.empty() || line.front() == ';') {
            continue;  // lines before the first section, blank lines and comments
        }
        Entry entry;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            entry.key = std::string(line);
        } else {
            entry.key = std::string(Trim(line.substr(0, eq)));
            entry.value = std::string(Trim(line.substr(eq + 1)));
            entry.hasEquals = true;
        }
        current->entries.push_back(std::move(entry));
    }
    return file;
}

ProfileFile ProfileFile::Load(const std::string& path, bool* exists) {
    std::string bytes;
    const bool ok = platform::ReadWholeFile(path, bytes) == 0;
    if (exists != nullptr) {
        *exists = ok;
    }
    return ok ? Parse(bytes) : ProfileFile{};
}

std::optional<std::string> ProfileFile::GetString(std::string_view section, std::string_view key,
                                                  size_t maxChars) const {
    for (const Section& s : sections_) {
        if (!platform::EqualsIgnoreAsciiCase(s.name, section)) {
            continue;
        }
        for (const Entry& e : s.entries) {
            if (e.hasEquals && platform::EqualsIgnoreAsciiCase(e.key, key)) {
                std::string value = Unquote(e.value);
                if (value.size() > maxChars) {
                    value.resize(maxChars);
                }
                return value;
            }
        }
        return std::nullopt;  // only the first section of that name is searched
    }
    return std::nullopt;
}

std::vector<std::string> ProfileFile::SectionNames(size_t maxChars) const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_) {
        names.push_back(s.name);
    }
    return FitDoubleZeroList(names, maxChars);
}

std::optional<std::vector<std::pair<std::string, std::string>>> ProfileFile::SectionPairs(
    std::string_view section, size_t maxChars) const {
    for (const Section& s : sections_) {
        if (!platform::EqualsIgnoreAsciiCase(s.name, section)) {
            continue;
        }
        std::vector<std::string> texts;
        for (const Entry& e : s.entries) {
            texts.push_back(e.hasEquals ? e.key + "=" + e.value : e.key);
        }
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const std::string& t : FitDoubleZeroList(texts, maxChars)) {
            const size_t eq = t.find('=');
            if (eq == std::string::npos) {
                continue;  // no "=": nothing to split
            }
            pairs.emplace_back(t.substr(0, eq), t.substr(eq + 1));
        }
        return pairs;
    }
    return std::nullopt;
}

int32_t ProfileFile::WriteString(const std::string& path, std::string_view section,
                                 std::string_view key, std::string_view value) {
    if (section.empty() || key.empty() || value.find('\n') != std::string_view::npos ||
        value.find('\r') != std::string_view::npos) {
        return platform::kErrorInvalidParameter;
    }
    std::string bytes;
    const int32_t readResult = platform::ReadWholeFile(path, bytes);
    if (readResult != 0 && readResult != platform::kErrorFileNotFound) {
        return readResult;
    }
    const std::string newLine = std::string(key) + "=" + std::string(value);
    const std::string eol = bytes.find("\r\n") != std::string::npos ? "\r\n" : "\n";

    // Work on lines, keeping every byte of the other lines.
    std::vector<std::string> lines;
    for (std::string_view l : Lines(StripBom(bytes))) {
        lines.emplace_back(l);
    }
    const bool hadBom = StripBom(bytes).size() != bytes.size();

    long sectionLine = -1;
    long lastEntryLine = -1;
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (const auto name = SectionHeader(lines[i])) {
            if (sectionLine >= 0) {
                break;  // end of the first matching section
            }
            if (platform::EqualsIgnoreAsciiCase(*name, section)) {
                sectionLine = static_cast<long>(i);
                lastEntryLine = sectionLine;
            }
            continue;
        }
        if (sectionLine < 0) {
            continue;
        }
        const std::string_view t = Trim(lines[i]);
        if (t.empty()) {
            continue;
        }
        lastEntryLine = static_cast<long>(i);
        const size_t eq = t.find('=');
        if (t.front() != ';' && eq != std::string_view::npos &&
            platform::EqualsIgnoreAsciiCase(Trim(t.substr(0, eq)), key)) {
            lines[i] = newLine;
            done = true;
        }
    }
    if (!done) {
        if (sectionLine >= 0) {
            lines.insert(lines.begin() + lastEntryLine + 1, newLine);
        } else {
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(newLine);
        }
    }
    std::string out = hadBom ? "\xEF\xBB\xBF" : "";
    for (const std::string& l : lines) {
        out += l;
        out += eol;
    }
    return platform::WriteWholeFileAtomic(path, out);
}

}  // namespace tolvane
