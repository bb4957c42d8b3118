// The phone's file tree (DIR/files/<Domain>/<path>) as a backup sees it: every folder and file of
// every domain in a fixed order, with the name each file gets in a backup folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

struct TreeEntry {
    std::string domain;  // "HomeDomain", "AppDomain-org.example.weather", ...
    std::string path;    // relative to the domain, "/"-separated, never empty
    bool isFolder = false;
    uint64_t size = 0;      // files only
    uint32_t mode = 0;      // permission bits of the local file or folder
    int64_t modified = 0;   // seconds since 1970
    std::string localPath;  // where it lies on this computer
};

// Every folder and file below `filesRoot`, domain by domain and path by path (byte order), a
// folder before what it holds. Links and other special files are left out.
std::vector<TreeEntry> ScanFileTree(const std::string& filesRoot);

// The name of a file in a backup folder: lower-case hex SHA-1 of domain + "-" + path.
std::string HashedName(const std::string& domain, const std::string& path);

// How a restore treats a domain: user data always, application data only for the applications
// the manifest holds, system domains only when asked to.
enum class DomainKind { User, Application, System };
DomainKind KindOfDomain(const std::string& domain);

// The phone-side path of a file, as the phone names it in a transfer (informational).
std::string DevicePathOf(const std::string& domain, const std::string& path);

// True when a domain or path from a manifest can be used as a path below the phone's files: no
// empty name, no "." or ".." component, not absolute, no NUL, no backslash.
bool IsSafeDomain(const std::string& domain);
bool IsSafeRelativePath(const std::string& path);

}  // namespace devsim
