#include "devsim/MbFile.h"

#include <vector>

#include "devsim/PlistUtil.h"

namespace devsim {
namespace {

plist_t ClassInfo(const char* name, const std::vector<const char*>& chain) {
    plist_t d = plist_new_dict();
    plist_t classes = plist_new_array();
    for (const char* c : chain) {
        plist_array_append_item(classes, plist_new_string(c));
    }
    plist_dict_set_item(d, "$classes", classes);
    plist_dict_set_item(d, "$classname", plist_new_string(name));
    return d;
}

// The object an item refers to: itself, or the $objects entry its UID names.
plist_t Resolve(plist_t objects, plist_t item) {
    if (item == nullptr || plist_get_node_type(item) != PLIST_UID) {
        return item;
    }
    uint64_t uid = 0;
    plist_get_uid_val(item, &uid);
    if (uid >= plist_array_get_size(objects)) {
        return nullptr;
    }
    return plist_array_get_item(objects, static_cast<uint32_t>(uid));
}

// NSData is archived as plain data, NSMutableData as a dictionary holding it under NS.data.
std::optional<std::string> DataOf(plist_t objects, plist_t item) {
    plist_t node = Resolve(objects, item);
    if (node != nullptr && plist_get_node_type(node) == PLIST_DICT) {
        node = Resolve(objects, plist_dict_get_item(node, "NS.data"));
    }
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return std::nullopt;
    }
    uint64_t n = 0;
    const char* p = plist_get_data_ptr(node, &n);
    return std::string(p, n);
}

std::optional<std::string> StringOf(plist_t objects, plist_t item) {
    plist_t node = Resolve(objects, item);
    if (node != nullptr && plist_get_node_type(node) == PLIST_DICT) {
        node = Resolve(objects, plist_dict_get_item(node, "NS.string"));
    }
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    uint64_t n = 0;
    const char* p = plist_get_string_ptr(node, &n);
    return std::string(p, n);
}

uint64_t UintOf(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    uint64_t v = 0;
    if (node != nullptr && plist_get_node_type(node) == PLIST_UINT) {
        plist_get_uint_val(node, &v);
    }
    return v;
}

}  // namespace

std::string WriteMbFile(const MbdbRecord& r) {
    PlistPtr root(plist_new_dict());
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t file = plist_new_dict();
    plist_array_append_item(objects, file);
    auto add = [&](plist_t object) {
        plist_array_append_item(objects, object);
        return plist_new_uid(plist_array_get_size(objects) - 1);
    };
    plist_dict_set_item(file, "Birth", plist_new_uint(r.created));
    plist_dict_set_item(file, "Flags", plist_new_uint(0));
    plist_dict_set_item(file, "GroupID", plist_new_uint(r.gid));
    plist_dict_set_item(file, "InodeNumber", plist_new_uint(r.inode));
    plist_dict_set_item(file, "LastModified", plist_new_uint(r.modified));
    plist_dict_set_item(file, "LastStatusChange", plist_new_uint(r.accessed));
    plist_dict_set_item(file, "Mode", plist_new_uint(r.mode));
    plist_dict_set_item(file, "ProtectionClass", plist_new_uint(r.protectionClass));
    plist_dict_set_item(file, "RelativePath", add(plist_new_string(r.path.c_str())));
    plist_dict_set_item(file, "Size", plist_new_uint(r.size));
    plist_dict_set_item(file, "UserID", plist_new_uint(r.uid));
    if (!r.linkTarget.empty()) {
        plist_dict_set_item(file, "Target", add(plist_new_string(r.linkTarget.c_str())));
    }
    if (!r.digest.empty()) {
        plist_dict_set_item(file, "Digest", add(plist_new_data(r.digest.data(), r.digest.size())));
    }
    if (!r.encryptionKey.empty()) {
        plist_t key = plist_new_dict();
        plist_dict_set_item(key, "NS.data",
                            plist_new_data(r.encryptionKey.data(), r.encryptionKey.size()));
        plist_t keyUid = add(key);
        plist_dict_set_item(
            key, "$class",
            add(ClassInfo("NSMutableData", {"NSMutableData", "NSData", "NSObject"})));
        plist_dict_set_item(file, "EncryptionKey", keyUid);
    }
    plist_dict_set_item(file, "$class", add(ClassInfo("MBFile", {"MBFile", "NSObject"})));

    plist_dict_set_item(root.get(), "$version", plist_new_uint(100000));
    plist_dict_set_item(root.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(root.get(), "$top", top);
    plist_dict_set_item(root.get(), "$objects", objects);
    return ToBinary(root.get());
}

bool ReadMbFile(const std::string& bytes, MbdbRecord& r, std::string& error) {
    if (bytes.compare(0, 8, "bplist00") != 0) {
        error = "not a binary property list";
        return false;
    }
    PlistPtr root = ParsePlist(bytes);
    plist_t objects = root && plist_get_node_type(root.get()) == PLIST_DICT
                          ? plist_dict_get_item(root.get(), "$objects")
                          : nullptr;
    plist_t top = root ? plist_dict_get_item(root.get(), "$top") : nullptr;
    if (objects == nullptr || plist_get_node_type(objects) != PLIST_ARRAY || top == nullptr ||
        plist_get_node_type(top) != PLIST_DICT ||
        DictString(root.get(), "$archiver").value_or("") != "NSKeyedArchiver") {
        error = "not a keyed archive";
        return false;
    }
    plist_t file = Resolve(objects, plist_dict_get_item(top, "root"));
    if (file == nullptr || plist_get_node_type(file) != PLIST_DICT) {
        error = "the archive has no root object";
        return false;
    }
    plist_t cls = Resolve(objects, plist_dict_get_item(file, "$class"));
    if (cls == nullptr || plist_get_node_type(cls) != PLIST_DICT ||
        DictString(cls, "$classname").value_or("") != "MBFile") {
        error = "the archive holds no MBFile";
        return false;
    }
    const std::optional<std::string> path =
        StringOf(objects, plist_dict_get_item(file, "RelativePath"));
    if (!path) {
        error = "the MBFile has no RelativePath";
        return false;
    }
    r.path = *path;
    r.linkTarget = StringOf(objects, plist_dict_get_item(file, "Target")).value_or("");
    r.digest = DataOf(objects, plist_dict_get_item(file, "Digest")).value_or("");
    r.encryptionKey = DataOf(objects, plist_dict_get_item(file, "EncryptionKey")).value_or("");
    r.mode = static_cast<uint16_t>(UintOf(file, "Mode"));
    r.inode = UintOf(file, "InodeNumber");
    r.uid = static_cast<uint32_t>(UintOf(file, "UserID"));
    r.gid = static_cast<uint32_t>(UintOf(file, "GroupID"));
    r.modified = static_cast<uint32_t>(UintOf(file, "LastModified"));
    r.accessed = static_cast<uint32_t>(UintOf(file, "LastStatusChange"));
    r.created = static_cast<uint32_t>(UintOf(file, "Birth"));
    r.size = UintOf(file, "Size");
    r.protectionClass = static_cast<uint8_t>(UintOf(file, "ProtectionClass"));
    return true;
}

}  // namespace devsim
