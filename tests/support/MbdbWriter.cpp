#include "tests/support/MbdbWriter.h"

#include <stdexcept>

namespace testenv {
namespace {

void PutBigEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

void PutString(std::string& out, const std::optional<std::string>& text) {
    if (!text) {
        out.append("\xFF\xFF", 2);
        return;
    }
    if (text->size() >= 0xFFFF) {
        throw std::length_error("manifest string too long");
    }
    PutBigEndian(out, text->size(), 2);
    out.append(*text);
}

}  // namespace

std::string EncodeMbdbRecord(const MbdbEntry& e) {
    std::string out;
    PutString(out, e.domain);
    PutString(out, e.path);
    PutString(out, e.linkTarget);
    PutString(out, e.digest);
    PutString(out, e.encryptionKey);
    PutBigEndian(out, e.mode, 2);
    PutBigEndian(out, e.inode, 8);
    PutBigEndian(out, e.userId, 4);
    PutBigEndian(out, e.groupId, 4);
    PutBigEndian(out, e.modified, 4);
    PutBigEndian(out, e.accessed, 4);
    PutBigEndian(out, e.created, 4);
    PutBigEndian(out, e.size, 8);
    out.push_back(static_cast<char>(e.protectionClass));
    out.push_back(static_cast<char>(e.properties.size()));
    for (const auto& [name, value] : e.properties) {
        PutString(out, name);
        PutString(out, value);
    }
    return out;
}

std::string BuildMbdb(const std::vector<MbdbEntry>& entries, std::string version) {
    std::string out = "mbdb" + version;
    for (const MbdbEntry& e : entries) {
        out += EncodeMbdbRecord(e);
    }
    return out;
}

MbdbEntry HomeFile(const std::string& path, const std::string& digest) {
    MbdbEntry e;
    e.path = path;
    e.digest = digest;
    return e;
}

}  // namespace testenv
