#include "engine/SeedBackup.h"

#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Volumes.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "store/Plists.h"

namespace tolvane {
namespace {

struct SeedItem {
    std::string relative;
    bool folder = false;
    uint64_t size = 0;
};

// Everything below `folder` that a backup holds, folders before what they hold.
void Walk(const std::string& root, const std::string& relative, std::vector<SeedItem>& out) {
    std::vector<platform::DirEntry> entries;
    platform::ListFolder(relative.empty() ? root : platform::JoinPath(root, relative), entries);
    for (const platform::DirEntry& e : entries) {
        if (e.name.empty() || e.name[0] == '.') {
            continue;  // partial files and the like
        }
        const std::string path = relative.empty() ? e.name : platform::JoinPath(relative, e.name);
        if (e.type == platform::EntryType::Folder) {
            if (relative.empty() && e.name == "Snapshot") {
                continue;
            }
            out.push_back({path, true, 0});
            Walk(root, path, out);
        } else if (e.type == platform::EntryType::File) {
            if (relative.empty() && e.name == "Info.plist") {
                continue;  // the new backup writes its own
            }
            out.push_back({path, false, e.size});
        }
    }
}

bool RefusesLinks(int32_t code) {
    return code == platform::kErrorNotSameDevice || code == platform::kErrorAccessDenied ||
           code == platform::kErrorInvalidFunction;
}

void Undo(const std::string& target, const std::vector<SeedItem>& items, size_t done) {
    for (size_t i = done; i-- > 0;) {
        const std::string path = platform::JoinPath(target, items[i].relative);
        if (items[i].folder) {
            platform::RemoveEmptyFolder(path);
        } else {
            platform::DeleteFile(path);
        }
    }
}

}  // namespace

std::optional<std::string> FindEarlierBackup(const std::string& base, const std::string& udid,
                                             bool encrypted, const std::string& exclude) {
    std::vector<BackupEntry> entries;
    ListOwnBackups(base, entries);  // newest first
    for (const BackupEntry& e : entries) {
        if (e.folder == exclude || (e.categories & Full) == 0) {
            continue;
        }
        const std::string device = platform::JoinPath(e.folder, udid);
        if (!platform::FolderExists(device) ||
            mb2_status_check_snapshot_state(udid.c_str(), e.folder.c_str()) != 1) {
            continue;
        }
        platform::PlistPtr manifest =
            ReadPlistFileOwned(platform::JoinPath(device, "Manifest.plist"));
        plist_t node = manifest ? plist_dict_get_item(manifest.get(), "IsEncrypted") : nullptr;
        uint8_t value = 0;
        if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN) {
            continue;
        }
        plist_get_bool_val(node, &value);
        if ((value != 0) == encrypted) {
            return e.folder;
        }
    }
    return std::nullopt;
}

SeedOutcome SeedDeviceFolder(const std::string& source, const std::string& target) {
    SeedOutcome out;
    std::vector<SeedItem> items;
    Walk(source, "", items);
    uint64_t total = 0;
    for (const SeedItem& i : items) {
        total += i.size;
    }
    SeedOutcome::Mode mode = SeedOutcome::Mode::Linked;
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string from = platform::JoinPath(source, items[i].relative);
        const std::string to = platform::JoinPath(target, items[i].relative);
        int32_t r = 0;
        if (items[i].folder) {
            r = platform::CreateFolder(to);
        } else if (mode == SeedOutcome::Mode::Linked) {
            r = platform::HardLink(from, to);
            if (RefusesLinks(r)) {
                // A copy pays only when it leaves room to spare: the phone would otherwise send
                // the same bytes over a much slower link, but a full disk helps nobody.
                const std::optional<uint64_t> free = platform::Volumes().FreeBytesAvailable(target);
                if (!free || *free / 2 < total) {
                    Undo(target, items, i);
                    return SeedOutcome{};
                }
                mode = SeedOutcome::Mode::Copied;
            }
        }
        if (!items[i].folder && mode == SeedOutcome::Mode::Copied) {
            r = platform::CopyFileReplace(from, to);
        }
        if (r != 0) {
            Undo(target, items, i);
            return SeedOutcome{};
        }
        if (!items[i].folder) {
            ++out.files;
            out.bytes += items[i].size;
        }
    }
    out.mode = items.empty() ? SeedOutcome::Mode::None : mode;
    out.from = platform::ParentPath(source);
    return out;
}

}  // namespace tolvane
