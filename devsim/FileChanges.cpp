#include "devsim/FileChanges.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "devsim/FileTree.h"
#include "devsim/Random.h"

namespace devsim {
namespace {

bool IsDatabase(const TreeEntry& e) {
    return e.domain == "HomeDomain" && (e.path.rfind("Library/SMS/sms.db", 0) == 0 ||
                                        e.path.rfind("Library/AddressBook/AddressBook", 0) == 0);
}

bool SetTime(const std::string& path, int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool WriteAt(const std::string& path, uint64_t offset, const std::string& bytes, int flags) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
    if (fd < 0) {
        return false;
    }
    const bool ok = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                    static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && ok;
}

}  // namespace

bool ParseShare(const std::string& text, double& share) {
    if (text.empty()) {
        return false;
    }
    const bool percent = text.back() == '%';
    const std::string number = percent ? text.substr(0, text.size() - 1) : text;
    char* end = nullptr;
    const double v = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    share = percent ? v / 100.0 : v;
    return share >= 0 && share <= 1;
}

bool ChangeFiles(const std::string& filesRoot, double share, uint64_t round,
                 FileChangeCounts& counts, std::string& error) {
    std::vector<TreeEntry> files;
    for (TreeEntry& e : ScanFileTree(filesRoot)) {
        if (!e.isFolder && !IsDatabase(e)) {
            files.push_back(std::move(e));
        }
    }
    if (share <= 0 || files.empty()) {
        return true;
    }
    const size_t n = std::min(
        files.size(),
        std::max<size_t>(1, static_cast<size_t>(std::llround(share * double(files.size())))));
    Random r(round * 0x9E3779B97F4A7C15ULL + files.size());
    // A partial shuffle: the first n are the chosen ones.
    for (size_t i = 0; i < n; ++i) {
        std::swap(files[i], files[i + r.Below(files.size() - i)]);
    }
    for (size_t i = 0; i < n; ++i) {
        const TreeEntry& e = files[i];
        // Later than anything the file had, so that a comparison of times cannot miss it.
        const int64_t when = e.modified + 86400 + static_cast<int64_t>(round % 1000) * 60;
        const uint64_t kind = r.Below(10);
        if (kind == 0 && n > 1) {
            if (unlink(e.localPath.c_str()) != 0) {
                error = "cannot remove " + e.localPath;
                return false;
            }
            ++counts.removed;
            continue;
        }
        if (kind == 1) {
            const std::string path = e.localPath.substr(0, e.localPath.rfind('/')) + "/added-" +
                                     std::to_string(round) + "-" + std::to_string(i) + ".bin";
            if (!WriteAt(path, 0, r.Bytes(std::max<uint64_t>(e.size, 1)), O_CREAT | O_TRUNC) ||
                !SetTime(path, when)) {
                error = "cannot write " + path;
                return false;
            }
            ++counts.added;
            continue;
        }
        // Rewrite a block somewhere in the file (or give an empty file its first bytes).
        const std::string block =
            r.Bytes(static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(e.size, 16), 4096)));
        const uint64_t offset = e.size > block.size() ? r.Below(e.size - block.size()) : 0;
        if (!WriteAt(e.localPath, offset, block, 0) || !SetTime(e.localPath, when)) {
            error = "cannot write " + e.localPath;
            return false;
        }
        ++counts.changed;
    }
    return true;
}

}  // namespace devsim
