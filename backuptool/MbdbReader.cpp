#include "backuptool/MbdbReader.h"

namespace backuptool {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}
    bool AtEnd() const { return pos_ >= data_.size(); }

    bool Integer(int bytes, uint64_t& value) {
        if (data_.size() - pos_ < static_cast<size_t>(bytes)) {
            return false;
        }
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            value = value << 8 | static_cast<uint8_t>(data_[pos_++]);
        }
        return true;
    }

    // A 16-bit length and that many bytes; 0xFFFF stands for an absent string without bytes.
    bool String(std::string_view& value) {
        uint64_t length = 0;
        if (!Integer(2, length)) {
            return false;
        }
        if (length == 0xFFFF) {
            value = {};
            return true;
        }
        if (data_.size() - pos_ < length) {
            return false;
        }
        value = data_.substr(pos_, length);
        pos_ += length;
        return true;
    }

    bool Skip(size_t bytes) {
        if (data_.size() - pos_ < bytes) {
            return false;
        }
        pos_ += bytes;
        return true;
    }

  private:
    std::string_view data_;
    size_t pos_ = 0;
};

}  // namespace

bool ReadMbdbRecords(std::string_view data, const std::function<void(const MbdbFileRecord&)>& visit,
                     std::string& error) {
    if (data.size() < 6 || data.substr(0, 4) != "mbdb") {
        error = "Manifest.mbdb does not begin with its header";
        return false;
    }
    Reader reader(data.substr(6));
    size_t index = 0;
    while (!reader.AtEnd()) {
        MbdbFileRecord record;
        std::string_view linkTarget;
        std::string_view digest;
        uint64_t mode = 0;
        uint64_t size = 0;
        uint64_t propertyCount = 0;
        const bool ok = reader.String(record.domain) && reader.String(record.path) &&
                        reader.String(linkTarget) && reader.String(digest) &&
                        reader.String(record.encryptionKey) && reader.Integer(2, mode) &&
                        reader.Skip(8 + 4 + 4 + 4 + 4 + 4) &&  // inode, user, group, three times
                        reader.Integer(8, size) && reader.Skip(1) &&
                        reader.Integer(1, propertyCount);
        bool propertiesOk = ok;
        for (uint64_t i = 0; propertiesOk && i < propertyCount; ++i) {
            std::string_view name;
            std::string_view value;
            propertiesOk = reader.String(name) && reader.String(value);
        }
        if (!propertiesOk) {
            error =
                "Manifest.mbdb is damaged: record " + std::to_string(index) + " runs past the end";
            return false;
        }
        record.mode = static_cast<uint16_t>(mode);
        record.size = size;
        visit(record);
        ++index;
    }
    return true;
}

}  // namespace backuptool
