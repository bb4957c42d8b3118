#include "platform/Volumes.h"

#include <mntent.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <set>

#include "platform/Files.h"

namespace platform {
namespace {

std::atomic<VolumeSource*> gTestSource{nullptr};

// File systems that hold no user data or live elsewhere on the network.
bool IsLocalDiskFs(const std::string& type) {
    static const std::set<std::string> kSkipped = {
        "proc",    "sysfs",      "devtmpfs", "devpts",      "tmpfs",           "securityfs",
        "cgroup",  "cgroup2",    "pstore",   "bpf",         "debugfs",         "tracefs",
        "mqueue",  "hugetlbfs",  "configfs", "fusectl",     "autofs",          "binfmt_misc",
        "ramfs",   "rpc_pipefs", "nsfs",     "efivarfs",    "selinuxfs",       "squashfs",
        "overlay", "nfs",        "nfs4",     "cifs",        "smbfs",           "smb3",
        "sshfs",   "fuse.sshfs", "9p",       "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs",
        "devfs",   "iso9660",    "udf"};
    return kSkipped.count(type) == 0;
}

// statvfs on the nearest existing folder of `path`.
bool StatNearest(const std::string& path, struct statvfs& out) {
    std::string probe = path.empty() ? std::string("/") : path;
    for (;;) {
        if (statvfs(probe.c_str(), &out) == 0) {
            return true;
        }
        if (probe == "/" || probe.empty()) {
            return false;
        }
        probe = ParentPath(probe);
        if (probe.empty()) {
            probe = "/";
        }
    }
}

}  // namespace

std::vector<std::string> SystemVolumeSource::Roots() {
    std::vector<std::string> roots;
    FILE* mounts = setmntent("/proc/self/mounts", "r");
    if (mounts == nullptr) {
        return roots;
    }
    std::set<std::string> seen;
    mntent entry{};
    char buf[4096];
    while (getmntent_r(mounts, &entry, buf, sizeof buf) != nullptr) {
        const std::string dir = entry.mnt_dir;
        if (!IsLocalDiskFs(entry.mnt_type) || seen.count(dir) != 0) {
            continue;
        }
        if (access(dir.c_str(), W_OK) != 0) {
            continue;  // the work folder could not be made there
        }
        seen.insert(dir);
        roots.push_back(dir);
    }
    endmntent(mounts);
    return roots;
}

std::optional<uint64_t> SystemVolumeSource::FreeBytesTotal(const std::string& path) {
    struct statvfs st {};
    if (!StatNearest(path, st)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
}

std::optional<uint64_t> SystemVolumeSource::FreeBytesAvailable(const std::string& path) {
    struct statvfs st {};
    if (!StatNearest(path, st)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

VolumeSource& Volumes() {
    static SystemVolumeSource system;
    VolumeSource* test = gTestSource.load();
    return test != nullptr ? *test : system;
}

void SetVolumeSourceForTesting(VolumeSource* source) {
    gTestSource.store(source);
}

std::string ChooseWorkFolderBase(const std::string& preferred, uint64_t threshold) {
    VolumeSource& volumes = Volumes();
    if (const auto free = volumes.FreeBytesTotal(preferred); free && *free > threshold) {
        return preferred;
    }
    std::string best;
    uint64_t bestFree = 0;
    for (const std::string& root : volumes.Roots()) {
        const auto free = volumes.FreeBytesTotal(root);
        if (free && *free > bestFree) {
            bestFree = *free;
            best = root;
        }
    }
    return best;
}

}  // namespace platform
