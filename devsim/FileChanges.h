// A week of use between two backups: a given share of the phone's files changes. Of the files
// chosen, about one in ten is removed, one in ten gets a new neighbour (a new file of its size in
// its folder) and the others are rewritten in part and dated later. The message and contacts
// databases are left alone, so that the phone's data stays readable.
#pragma once

#include <cstdint>
#include <string>

namespace devsim {

struct FileChangeCounts {
    uint64_t changed = 0;
    uint64_t added = 0;
    uint64_t removed = 0;
    uint64_t Total() const { return changed + added + removed; }
};

// Changes `share` (0 to 1) of the files below `filesRoot` (DIR/files), at least one when `share`
// is above 0; `round` picks which (the same tree and round change the same files). False, with
// `error` set, when a file cannot be written.
bool ChangeFiles(const std::string& filesRoot, double share, uint64_t round,
                 FileChangeCounts& counts, std::string& error);

// "1%", "0.5%" or "0.01" → a share from 0 to 1. False for anything else.
bool ParseShare(const std::string& text, double& share);

}  // namespace devsim
