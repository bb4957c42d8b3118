// The settings file reader (config.ini and its per-user copy) on arbitrary bytes: it accepts
// anything, and what its queries give keeps to the callers' buffer sizes and agrees with the
// sections it found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ProfileFile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const tolvane::ProfileFile file = tolvane::ProfileFile::Parse(bytes);
    const auto& sections = file.Sections();
    const std::vector<std::string> names = file.SectionNames(1 << 20);
    Check(names.size() <= sections.size());
    size_t total = 0;
    for (const std::string& name : names) {
        total += name.size() + 1;
    }
    Check(total <= (1u << 20));
    // Small buffers: nothing longer than they hold comes back.
    size_t small = 0;
    for (const std::string& name : file.SectionNames(16)) {
        small += name.size() + 1;
    }
    Check(small <= 16);
    for (const auto& section : sections) {
        const auto pairs = file.SectionPairs(section.name, 64);
        Check(pairs.has_value());
        for (const auto& entry : section.entries) {
            for (size_t max : {size_t{0}, size_t{1}, size_t{7}, size_t{256}}) {
                const auto value = file.GetString(section.name, entry.key, max);
                Check(!value || value->size() <= max);
            }
        }
    }
    return 0;
}
