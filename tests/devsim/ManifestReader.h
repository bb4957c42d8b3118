// An independent reader (and writer) of Manifest.mbdb for the tests, written from the record
// layout, not from the simulator's code: a check that the phone writes what readers expect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsimtest {

struct Record {
    std::string domain, path, target, digest, key;
    uint16_t mode = 0;
    uint64_t size = 0;
    uint8_t protection = 0;
    uint8_t propertyCount = 0;
    std::string raw;  // the record's bytes as they were read
};

// False when the file is not a manifest or a record runs past its end.
inline bool ParseManifest(const std::string& b, std::vector<Record>& out, std::string* version) {
    if (b.size() < 6 || b.compare(0, 4, "mbdb") != 0) {
        return false;
    }
    if (version != nullptr) {
        *version = b.substr(4, 2);
    }
    size_t pos = 6;
    auto u = [&](int n, uint64_t& v) {
        if (b.size() - pos < static_cast<size_t>(n)) {
            return false;
        }
        v = 0;
        for (int i = 0; i < n; ++i) {
            v = (v << 8) | static_cast<uint8_t>(b[pos++]);
        }
        return true;
    };
    auto s = [&](std::string& v) {
        uint64_t n = 0;
        if (!u(2, n)) {
            return false;
        }
        if (n == 0xFFFF) {
            v.clear();
            return true;
        }
        if (b.size() - pos < n) {
            return false;
        }
        v = b.substr(pos, n);
        pos += n;
        return true;
    };
    while (pos < b.size()) {
        const size_t start = pos;
        Record r;
        uint64_t mode = 0, skip = 0, size = 0, prot = 0, count = 0;
        if (!s(r.domain) || !s(r.path) || !s(r.target) || !s(r.digest) || !s(r.key) ||
            !u(2, mode) || !u(8, skip) || !u(4, skip) || !u(4, skip) || !u(4, skip) ||
            !u(4, skip) || !u(4, skip) || !u(8, size) || !u(1, prot) || !u(1, count)) {
            return false;
        }
        for (uint64_t i = 0; i < count; ++i) {
            std::string name, value;
            if (!s(name) || !s(value)) {
                return false;
            }
        }
        r.mode = static_cast<uint16_t>(mode);
        r.size = size;
        r.protection = static_cast<uint8_t>(prot);
        r.propertyCount = static_cast<uint8_t>(count);
        r.raw = b.substr(start, pos - start);
        out.push_back(r);
    }
    return true;
}

// The header of `original` followed by the raw records kept.
inline std::string JoinManifest(const std::string& original, const std::vector<Record>& kept) {
    std::string out = original.substr(0, 6);
    for (const Record& r : kept) {
        out += r.raw;
    }
    return out;
}

// Replaces the digest inside a record's raw bytes (the record's digest must be 20 bytes).
inline void SetDigest(Record& r, const std::string& digest) {
    const size_t offset =
        2 + r.domain.size() + 2 + r.path.size() + (r.target.empty() ? 2 : 2 + r.target.size()) + 2;
    r.raw.replace(offset, 20, digest);
    r.digest = digest;
}

}  // namespace devsimtest
