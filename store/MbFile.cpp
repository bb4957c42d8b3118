#include "store/MbFile.h"

#include <plist/plist.h>

#include <limits>
#include <vector>

#include "platform/Handles.h"

namespace tolvane {
namespace {

constexpr uint64_t kArchiverVersion = 100000;
// An MBFile archive of a real phone is a few hundred bytes; anything far larger is not one, and
// parsing it would only cost memory.
constexpr size_t kMaxArchiveBytes = 1 << 20;

bool IsType(plist_t node, plist_type type) {
    return node != nullptr && plist_get_node_type(node) == type;
}

std::optional<std::string> DictText(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!IsType(node, PLIST_STRING)) {
        return std::nullopt;
    }
    uint64_t n = 0;
    const char* p = plist_get_string_ptr(node, &n);
    return std::string(p, n);
}

// The archive's parts once the frame has been checked.
struct Archive {
    platform::PlistPtr root;
    plist_t objects = nullptr;
    plist_t file = nullptr;  // the MBFile dictionary inside $objects
};

// The $objects entry a UID refers to; null for anything else or a reference out of range.
// `allowNull` admits UID 0 ("$null").
plist_t Deref(plist_t objects, plist_t item, bool allowNull = false) {
    if (!IsType(item, PLIST_UID)) {
        return nullptr;
    }
    uint64_t uid = 0;
    plist_get_uid_val(item, &uid);
    if ((uid == 0 && !allowNull) || uid >= plist_array_get_size(objects)) {
        return nullptr;
    }
    return plist_array_get_item(objects, static_cast<uint32_t>(uid));
}

bool ClassNamed(plist_t objects, plist_t dict, const char* name) {
    plist_t cls = Deref(objects, plist_dict_get_item(dict, "$class"));
    return IsType(cls, PLIST_DICT) && DictText(cls, "$classname").value_or("") == name;
}

bool OpenArchive(std::string_view bytes, Archive& a, std::string& error) {
    if (bytes.size() < 8 || bytes.substr(0, 8) != "bplist00") {
        error = "not a binary property list";
        return false;
    }
    if (bytes.size() > kMaxArchiveBytes) {
        error = "too large for an MBFile archive";
        return false;
    }
    plist_t raw = nullptr;
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    a.root.reset(raw);
    if (!IsType(raw, PLIST_DICT)) {
        error = "not a readable property list dictionary";
        return false;
    }
    if (DictText(raw, "$archiver").value_or("") != "NSKeyedArchiver") {
        error = "not a keyed archive";
        return false;
    }
    plist_t version = plist_dict_get_item(raw, "$version");
    uint64_t v = 0;
    if (IsType(version, PLIST_UINT)) {
        plist_get_uint_val(version, &v);
    }
    if (v != kArchiverVersion) {
        error = "unknown archive version";
        return false;
    }
    a.objects = plist_dict_get_item(raw, "$objects");
    plist_t top = plist_dict_get_item(raw, "$top");
    if (!IsType(a.objects, PLIST_ARRAY) || !IsType(top, PLIST_DICT)) {
        error = "the archive has no $objects or $top";
        return false;
    }
    a.file = Deref(a.objects, plist_dict_get_item(top, "root"));
    if (!IsType(a.file, PLIST_DICT)) {
        error = "the archive has no root object";
        return false;
    }
    if (!ClassNamed(a.objects, a.file, "MBFile")) {
        error = "the archive's root is not an MBFile";
        return false;
    }
    return true;
}

// An integer field: absent is allowed when !required, any other type is not.
bool ReadUint(plist_t dict, const char* key, bool required, uint64_t& value, std::string& error) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr) {
        if (required) {
            error = std::string("the MBFile has no ") + key;
            return false;
        }
        return true;
    }
    if (!IsType(node, PLIST_UINT)) {
        error = std::string("the MBFile's ") + key + " is not an integer";
        return false;
    }
    plist_get_uint_val(node, &value);
    return true;
}

template <typename T>
bool ReadNarrow(plist_t dict, const char* key, bool required, T& value, std::string& error) {
    uint64_t v = 0;
    if (!ReadUint(dict, key, required, v, error)) {
        return false;
    }
    if (v > std::numeric_limits<T>::max()) {
        error = std::string("the MBFile's ") + key + " is out of range";
        return false;
    }
    value = static_cast<T>(v);
    return true;
}

// A date field holds seconds since 1970; a binary property list keeps negative integers as their
// 64-bit two's complement, which the cast restores.
bool ReadSeconds(plist_t dict, const char* key, int64_t& value, std::string& error) {
    uint64_t v = 0;
    if (!ReadUint(dict, key, false, v, error)) {
        return false;
    }
    value = static_cast<int64_t>(v);
    return true;
}

// A string field archived by reference. Absent gives nullopt with no error.
bool ReadStringRef(plist_t objects, plist_t dict, const char* key, std::optional<std::string>& out,
                   std::string& error) {
    plist_t ref = plist_dict_get_item(dict, key);
    if (ref == nullptr) {
        return true;
    }
    plist_t node = Deref(objects, ref);
    if (IsType(node, PLIST_DICT) && ClassNamed(objects, node, "NSMutableString")) {
        node = Deref(objects, plist_dict_get_item(node, "NS.string"));
    }
    if (!IsType(node, PLIST_STRING)) {
        error = std::string("the MBFile's ") + key + " is not a string";
        return false;
    }
    uint64_t n = 0;
    const char* p = plist_get_string_ptr(node, &n);
    out = std::string(p, n);
    return true;
}

// A data field archived by reference: a data object, or an NSMutableData dictionary whose
// "NS.data" is one (inline or by reference).
bool ReadDataRef(plist_t objects, plist_t dict, const char* key, std::optional<std::string>& out,
                 std::string& error) {
    plist_t ref = plist_dict_get_item(dict, key);
    if (ref == nullptr) {
        return true;
    }
    plist_t node = Deref(objects, ref);
    if (IsType(node, PLIST_DICT)) {
        if (!ClassNamed(objects, node, "NSMutableData") && !ClassNamed(objects, node, "NSData")) {
            error = std::string("the MBFile's ") + key + " is not data";
            return false;
        }
        plist_t inner = plist_dict_get_item(node, "NS.data");
        node = IsType(inner, PLIST_UID) ? Deref(objects, inner) : inner;
    }
    if (!IsType(node, PLIST_DATA)) {
        error = std::string("the MBFile's ") + key + " is not data";
        return false;
    }
    uint64_t n = 0;
    const char* p = plist_get_data_ptr(node, &n);
    out = std::string(p, n);
    return true;
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
// A phone's paths always are; bytes that are not would not survive a rewrite of the archive.
bool IsUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (text.size() - i <= extra) {
            return false;  // cut short
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

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

std::string ToBinary(plist_t node) {
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &out, &length);
    std::string bytes(out != nullptr ? out : "", out != nullptr ? length : 0);
    free(out);
    return bytes;
}

// Appends `object` to $objects and gives a UID node for it.
plist_t Append(plist_t objects, plist_t object) {
    plist_array_append_item(objects, object);
    return plist_new_uid(plist_array_get_size(objects) - 1);
}

}  // namespace

bool DecodeMbFile(std::string_view bytes, MbFile& out, std::string& error) {
    Archive a;
    if (!OpenArchive(bytes, a, error)) {
        return false;
    }
    plist_t f = a.file;
    out = MbFile{};
    if (!ReadUint(f, "Size", true, out.size, error) ||
        !ReadNarrow(f, "Mode", true, out.mode, error) ||
        !ReadNarrow(f, "UserID", false, out.userId, error) ||
        !ReadNarrow(f, "GroupID", false, out.groupId, error) ||
        !ReadUint(f, "InodeNumber", false, out.inodeNumber, error) ||
        !ReadNarrow(f, "ProtectionClass", false, out.protectionClass, error) ||
        !ReadNarrow(f, "Flags", false, out.flags, error) ||
        !ReadSeconds(f, "LastModified", out.lastModified, error) ||
        !ReadSeconds(f, "Birth", out.birth, error) ||
        !ReadSeconds(f, "LastStatusChange", out.lastStatusChange, error)) {
        return false;
    }
    std::optional<std::string> path;
    if (!ReadStringRef(a.objects, f, "RelativePath", path, error) ||
        !ReadStringRef(a.objects, f, "Target", out.target, error) ||
        !ReadDataRef(a.objects, f, "EncryptionKey", out.encryptionKey, error) ||
        !ReadDataRef(a.objects, f, "Digest", out.digest, error)) {
        return false;
    }
    if (!path) {
        error = "the MBFile has no RelativePath";
        return false;
    }
    out.relativePath = std::move(*path);
    if (out.relativePath.find('\0') != std::string::npos ||
        (out.target && out.target->find('\0') != std::string::npos)) {
        error = "the MBFile's path holds a zero byte";
        return false;
    }
    if (!IsUtf8(out.relativePath) || (out.target && !IsUtf8(*out.target))) {
        error = "the MBFile's path is not UTF-8";
        return false;
    }
    if (out.encryptionKey && out.encryptionKey->size() != kMbFileKeyLength) {
        error = "the MBFile's EncryptionKey is not 44 bytes";
        return false;
    }
    if (out.digest && (out.digest->empty() || out.digest->size() > 64)) {
        error = "the MBFile's Digest has an impossible length";
        return false;
    }
    return true;
}

std::string EncodeMbFile(const MbFile& m) {
    platform::PlistPtr root(plist_new_dict());
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t f = plist_new_dict();
    plist_array_append_item(objects, f);
    plist_dict_set_item(f, "Birth", plist_new_uint(static_cast<uint64_t>(m.birth)));
    plist_dict_set_item(f, "Flags", plist_new_uint(m.flags));
    plist_dict_set_item(f, "GroupID", plist_new_uint(m.groupId));
    plist_dict_set_item(f, "InodeNumber", plist_new_uint(m.inodeNumber));
    plist_dict_set_item(f, "LastModified", plist_new_uint(static_cast<uint64_t>(m.lastModified)));
    plist_dict_set_item(f, "LastStatusChange",
                        plist_new_uint(static_cast<uint64_t>(m.lastStatusChange)));
    plist_dict_set_item(f, "Mode", plist_new_uint(m.mode));
    plist_dict_set_item(f, "ProtectionClass", plist_new_uint(m.protectionClass));
    plist_dict_set_item(f, "RelativePath",
                        Append(objects, plist_new_string(m.relativePath.c_str())));
    plist_dict_set_item(f, "Size", plist_new_uint(m.size));
    plist_dict_set_item(f, "UserID", plist_new_uint(m.userId));
    if (m.target) {
        plist_dict_set_item(f, "Target", Append(objects, plist_new_string(m.target->c_str())));
    }
    if (m.digest) {
        plist_dict_set_item(f, "Digest",
                            Append(objects, plist_new_data(m.digest->data(), m.digest->size())));
    }
    if (m.encryptionKey) {
        // The dictionary goes in first so that its class follows it, as the archiver orders them.
        plist_t holder = plist_new_dict();
        plist_t keyUid = Append(objects, holder);
        plist_dict_set_item(holder, "NS.data",
                            plist_new_data(m.encryptionKey->data(), m.encryptionKey->size()));
        plist_array_append_item(
            objects, ClassInfo("NSMutableData", {"NSMutableData", "NSData", "NSObject"}));
        plist_dict_set_item(holder, "$class", plist_new_uid(plist_array_get_size(objects) - 1));
        plist_dict_set_item(f, "EncryptionKey", keyUid);
    }
    plist_dict_set_item(f, "$class", Append(objects, ClassInfo("MBFile", {"MBFile", "NSObject"})));

    plist_dict_set_item(root.get(), "$version", plist_new_uint(kArchiverVersion));
    plist_dict_set_item(root.get(), "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(root.get(), "$top", top);
    plist_dict_set_item(root.get(), "$objects", objects);
    return ToBinary(root.get());
}

bool UpdateMbFileContent(std::string_view bytes, uint64_t size, std::string_view digest,
                         std::string& updated, std::string& error) {
    MbFile check;
    if (!DecodeMbFile(bytes, check, error)) {
        return false;
    }
    Archive a;
    if (!OpenArchive(bytes, a, error)) {
        return false;
    }
    plist_dict_set_item(a.file, "Size", plist_new_uint(size));
    // The old Digest object, if any, stays in $objects unreferenced: removing it would renumber
    // every reference after it.
    plist_dict_set_item(a.file, "Digest",
                        Append(a.objects, plist_new_data(digest.data(), digest.size())));
    updated = ToBinary(a.root.get());
    // The property list writer cannot keep every tree the reader accepts (an object shared by
    // two references, say); what it wrote is read back, and when that fails the archive is
    // written afresh from its fields, which keeps every field this reader knows.
    auto sound = [&](const std::string& bytes) {
        MbFile back;
        std::string ignored;
        return DecodeMbFile(bytes, back, ignored) && back.size == size && back.digest == digest &&
               back.relativePath == check.relativePath && back.mode == check.mode &&
               back.encryptionKey == check.encryptionKey && back.target == check.target;
    };
    if (sound(updated)) {
        return true;
    }
    check.size = size;
    check.digest = std::string(digest);
    updated = EncodeMbFile(check);
    if (sound(updated)) {
        return true;
    }
    error = "the MBFile archive cannot be rewritten";
    updated.clear();
    return false;
}

}  // namespace tolvane
