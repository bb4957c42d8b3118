#include "devsim/Mbdb.h"

namespace devsim {
namespace {

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v >> 16));
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
}
void Put64(std::string& out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v >> 32));
    Put32(out, static_cast<uint32_t>(v & 0xFFFFFFFF));
}
void PutString(std::string& out, const std::string& s) {
    if (s.empty()) {
        Put16(out, 0xFFFF);
        return;
    }
    Put16(out, static_cast<uint16_t>(s.size()));
    out += s;
}

class Reader {
  public:
    explicit Reader(const std::string& bytes) : b_(bytes) {}
    bool AtEnd() const { return pos_ >= b_.size(); }
    bool Get(uint64_t& v, int bytes) {
        if (b_.size() - pos_ < static_cast<size_t>(bytes)) {
            return false;
        }
        v = 0;
        for (int i = 0; i < bytes; ++i) {
            v = (v << 8) | static_cast<uint8_t>(b_[pos_++]);
        }
        return true;
    }
    bool GetString(std::string& s) {
        uint64_t n = 0;
        if (!Get(n, 2)) {
            return false;
        }
        if (n == 0xFFFF) {
            s.clear();
            return true;
        }
        if (b_.size() - pos_ < n) {
            return false;
        }
        s = b_.substr(pos_, n);
        pos_ += n;
        return true;
    }

  private:
    const std::string& b_;
    size_t pos_ = 6;
};

}  // namespace

std::string WriteMbdb(const std::vector<MbdbRecord>& records) {
    std::string out = "mbdb";
    out += '\x05';
    out += '\x00';
    for (const MbdbRecord& r : records) {
        PutString(out, r.domain);
        PutString(out, r.path);
        PutString(out, r.linkTarget);
        PutString(out, r.digest);
        PutString(out, r.encryptionKey);
        Put16(out, r.mode);
        Put64(out, r.inode);
        Put32(out, r.uid);
        Put32(out, r.gid);
        Put32(out, r.modified);
        Put32(out, r.accessed);
        Put32(out, r.created);
        Put64(out, r.size);
        out += static_cast<char>(r.protectionClass);
        out += static_cast<char>(r.properties.size());
        for (const auto& [name, value] : r.properties) {
            PutString(out, name);
            PutString(out, value);
        }
    }
    return out;
}

bool ReadMbdb(const std::string& bytes, std::vector<MbdbRecord>& records, std::string& error) {
    if (bytes.size() < 6 || bytes.compare(0, 4, "mbdb") != 0) {
        error = "not a Manifest.mbdb";
        return false;
    }
    Reader r(bytes);
    while (!r.AtEnd()) {
        MbdbRecord m;
        uint64_t v[9] = {};
        bool ok = r.GetString(m.domain) && r.GetString(m.path) && r.GetString(m.linkTarget) &&
                  r.GetString(m.digest) && r.GetString(m.encryptionKey) && r.Get(v[0], 2) &&
                  r.Get(v[1], 8) && r.Get(v[2], 4) && r.Get(v[3], 4) && r.Get(v[4], 4) &&
                  r.Get(v[5], 4) && r.Get(v[6], 4) && r.Get(v[7], 8) && r.Get(v[8], 1);
        uint64_t count = 0;
        ok = ok && r.Get(count, 1);
        for (uint64_t i = 0; ok && i < count; ++i) {
            std::pair<std::string, std::string> p;
            ok = r.GetString(p.first) && r.GetString(p.second);
            m.properties.push_back(std::move(p));
        }
        if (!ok) {
            error =
                "Manifest.mbdb is cut short after " + std::to_string(records.size()) + " records";
            return false;
        }
        m.mode = static_cast<uint16_t>(v[0]);
        m.inode = v[1];
        m.uid = static_cast<uint32_t>(v[2]);
        m.gid = static_cast<uint32_t>(v[3]);
        m.modified = static_cast<uint32_t>(v[4]);
        m.accessed = static_cast<uint32_t>(v[5]);
        m.created = static_cast<uint32_t>(v[6]);
        m.size = v[7];
        m.protectionClass = static_cast<uint8_t>(v[8]);
        records.push_back(std::move(m));
    }
    return true;
}

}  // namespace devsim
