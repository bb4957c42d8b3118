// A profile file ("ini" file) read and written the way the system's profile calls do it:
// sections in square brackets, lines split at their first "=", names compared without regard to
// ASCII case, the first occurrence of a key winning, and the size limits of the caller's buffers.
//
// The reader accepts anything: a missing, empty or binary file, a UTF-8 byte-order mark, lines
// without a final line feed or without "=", and lines of any length. Nothing it cannot use makes
// it fail; it simply finds nothing there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

class ProfileFile {
  public:
    struct Entry {
        std::string key;
        std::string value;
        bool hasEquals = false;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    ProfileFile() = default;
    static ProfileFile Parse(std::string_view bytes);
    // An unreadable or missing file reads as an empty one; `exists` tells which.
    static ProfileFile Load(const std::string& path, bool* exists = nullptr);

    // The value of the first `key` in the first section named `section`, cut to `maxChars`
    // characters (bytes). Surrounding blanks, and one pair of matching quotes, are removed.
    std::optional<std::string> GetString(std::string_view section, std::string_view key,
                                         size_t maxChars) const;

    // The names of all sections, in file order, as far as they fit a buffer of `maxChars`.
    std::vector<std::string> SectionNames(size_t maxChars) const;

    // The key/value pairs of the first section named `section` (lines without "=" left out), as
    // far as "key=value" texts fit a buffer of `maxChars`; nullopt when there is no such section.
    std::optional<std::vector<std::pair<std::string, std::string>>> SectionPairs(
        std::string_view section, size_t maxChars) const;

    const std::vector<Section>& Sections() const { return sections_; }

    // Sets `key` in `section`: the first occurrence is replaced, or the key is added at the end of
    // the section, or the section is added at the end of the file. Other lines stay as they were.
    // The file is replaced atomically. Returns 0 or a system error code.
    static int32_t WriteString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value);

  private:
    std::vector<Section> sections_;
};

}  // namespace tolvane
