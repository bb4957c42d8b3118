#include "devsim/PlistUtil.h"

#include <arpa/inet.h>

#include <cstdlib>

#include "devsim/Connection.h"
#include "platform/Files.h"

namespace devsim {
namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of plist dates.
constexpr int64_t kPlistEpochOffset = 978307200;

plist_t DictItem(plist_t dict, const char* key, plist_type type) {
    if (dict == nullptr || plist_get_node_type(dict) != PLIST_DICT) {
        return nullptr;
    }
    plist_t node = plist_dict_get_item(dict, key);
    return node != nullptr && plist_get_node_type(node) == type ? node : nullptr;
}

}  // namespace

PlistPtr ParsePlist(std::string_view bytes) {
    plist_t node = nullptr;
    if (bytes.empty() || bytes.size() > UINT32_MAX) {
        return PlistPtr();
    }
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return PlistPtr(node);
}

std::string ToXml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string out = xml != nullptr ? std::string(xml, length) : std::string();
    std::free(xml);
    return out;
}

std::string ToBinary(plist_t node) {
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    std::string out = bin != nullptr ? std::string(bin, length) : std::string();
    std::free(bin);
    return out;
}

PlistPtr LoadPlistFile(const std::string& path) {
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes, 256u << 20) != 0) {
        return PlistPtr();
    }
    return ParsePlist(bytes);
}

int32_t SavePlistFileXml(const std::string& path, plist_t node) {
    return platform::WriteWholeFileAtomic(path, ToXml(node));
}

std::optional<std::string> DictString(plist_t dict, const char* key) {
    plist_t node = DictItem(dict, key, PLIST_STRING);
    if (node == nullptr) {
        return std::nullopt;
    }
    return platform::PlistString(node);
}

std::optional<uint64_t> DictUint(plist_t dict, const char* key) {
    plist_t node = DictItem(dict, key, PLIST_UINT);
    if (node == nullptr) {
        return std::nullopt;
    }
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    return value;
}

std::optional<bool> DictBool(plist_t dict, const char* key) {
    plist_t node = DictItem(dict, key, PLIST_BOOLEAN);
    if (node == nullptr) {
        return std::nullopt;
    }
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

std::optional<std::string> DictData(plist_t dict, const char* key) {
    plist_t node = DictItem(dict, key, PLIST_DATA);
    if (node == nullptr) {
        return std::nullopt;
    }
    char* data = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &data, &length);
    std::string out = data != nullptr ? std::string(data, length) : std::string();
    std::free(data);
    return out;
}

std::optional<double> DictReal(plist_t dict, const char* key) {
    plist_t node = DictItem(dict, key, PLIST_REAL);
    if (node == nullptr) {
        return std::nullopt;
    }
    double value = 0;
    plist_get_real_val(node, &value);
    return value;
}

std::optional<std::string> ArrayString(plist_t array, uint32_t index) {
    if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY ||
        index >= plist_array_get_size(array)) {
        return std::nullopt;
    }
    plist_t node = plist_array_get_item(array, index);
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return std::nullopt;
    }
    return platform::PlistString(node);
}

plist_t NewData(std::string_view bytes) {
    return plist_new_data(bytes.data(), bytes.size());
}

plist_t NewDateUnix(int64_t unixSeconds) {
    return plist_new_date(static_cast<int32_t>(unixSeconds - kPlistEpochOffset), 0);
}

bool SendFramedPlist(Connection& connection, plist_t node, bool binary) {
    const std::string body = binary ? ToBinary(node) : ToXml(node);
    const uint32_t length = htonl(static_cast<uint32_t>(body.size()));
    iovec parts[2] = {{const_cast<uint32_t*>(&length), sizeof length},
                      {const_cast<char*>(body.data()), body.size()}};
    return connection.SendV(parts, 2);
}

PlistPtr ReceiveFramedPlist(Connection& connection, uint32_t maxBytes) {
    uint32_t length = 0;
    if (!connection.RecvAll(&length, sizeof length)) {
        return PlistPtr();
    }
    length = ntohl(length);
    if (length == 0 || length > maxBytes) {
        return PlistPtr();
    }
    std::string body(length, '\0');
    if (!connection.RecvAll(body.data(), body.size())) {
        return PlistPtr();
    }
    return ParsePlist(body);
}

}  // namespace devsim
