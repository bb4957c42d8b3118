#include "devsim/FileTree.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/Files.h"
#include "platform/Sha1.h"

namespace devsim {
namespace {

void Walk(const std::string& domain, const std::string& localDir, const std::string& relative,
          std::vector<TreeEntry>& out) {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(localDir, entries);
    std::sort(
        entries.begin(), entries.end(),
        [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    for (const platform::DirEntry& e : entries) {
        const std::string local = localDir + "/" + e.name;
        const std::string path = relative.empty() ? e.name : relative + "/" + e.name;
        struct stat st {};
        if (lstat(local.c_str(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
            continue;
        }
        TreeEntry t;
        t.domain = domain;
        t.path = path;
        t.isFolder = S_ISDIR(st.st_mode);
        t.size = t.isFolder ? 0 : static_cast<uint64_t>(st.st_size);
        t.mode = st.st_mode & 07777;
        t.modified = st.st_mtim.tv_sec;
        t.localPath = local;
        out.push_back(t);
        if (t.isFolder) {
            Walk(domain, local, path, out);
        }
    }
}

}  // namespace

std::vector<TreeEntry> ScanFileTree(const std::string& filesRoot) {
    std::vector<platform::DirEntry> domains;
    platform::ListFolder(filesRoot, domains);
    std::sort(
        domains.begin(), domains.end(),
        [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
    std::vector<TreeEntry> out;
    for (const platform::DirEntry& d : domains) {
        if (d.type == platform::EntryType::Folder && d.name[0] != '.') {
            Walk(d.name, filesRoot + "/" + d.name, "", out);
        }
    }
    return out;
}

std::string HashedName(const std::string& domain, const std::string& path) {
    return platform::HexLower(platform::Sha1Of(domain + "-" + path));
}

DomainKind KindOfDomain(const std::string& domain) {
    if (domain.rfind("AppDomain", 0) == 0) {
        return DomainKind::Application;
    }
    static const char* const kSystem[] = {
        "SystemPreferencesDomain",  "KeychainDomain", "WirelessDomain",     "RootDomain",
        "ManagedPreferencesDomain", "DatabaseDomain", "MobileDeviceDomain", "KeyboardDomain"};
    for (const char* s : kSystem) {
        if (domain == s) {
            return DomainKind::System;
        }
    }
    if (domain.rfind("SysContainerDomain-", 0) == 0 ||
        domain.rfind("SysSharedContainerDomain-", 0) == 0) {
        return DomainKind::System;
    }
    return DomainKind::User;
}

std::string DevicePathOf(const std::string& domain, const std::string& path) {
    if (domain.rfind("AppDomain-", 0) == 0) {
        return "/var/mobile/Applications/" + domain.substr(10) + "/" + path;
    }
    if (KindOfDomain(domain) == DomainKind::System) {
        return "/private/var/" + path;
    }
    return "/var/mobile/" + path;
}

bool IsSafeDomain(const std::string& domain) {
    return !domain.empty() && domain != "." && domain != ".." &&
           domain.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool IsSafeRelativePath(const std::string& path) {
    if (path.empty() || path[0] == '/' ||
        path.find_first_of(std::string("\\\0", 2)) != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace devsim
