#include "data/AttributedBody.h"

#include <cstdint>
#include <vector>

namespace tolvane {
namespace {

// Tags of the typed stream. Everything else in an integer position is the integer itself (a
// signed byte); a value from kReferenceBase on in an object or string position is a reference.
constexpr uint8_t kTagInt16 = 0x81;
constexpr uint8_t kTagInt32 = 0x82;
constexpr uint8_t kTagReal = 0x83;
constexpr uint8_t kTagNew = 0x84;
constexpr uint8_t kTagNil = 0x85;
constexpr uint8_t kTagEnd = 0x86;
constexpr int64_t kReferenceBase = -110;  // the byte 0x92

constexpr std::string_view kSignature = "streamtyped";
constexpr int kStreamerVersion = 4;
constexpr int kMaxClassDepth = 16;

class StreamReader {
  public:
    explicit StreamReader(std::string_view bytes) : bytes_(bytes) {}

    bool Byte(uint8_t& out) {
        if (pos_ >= bytes_.size()) {
            return false;
        }
        out = static_cast<uint8_t>(bytes_[pos_++]);
        return true;
    }

    bool Peek(uint8_t& out) const {
        if (pos_ >= bytes_.size()) {
            return false;
        }
        out = static_cast<uint8_t>(bytes_[pos_]);
        return true;
    }

    // An integer whose first byte `first` was read already.
    bool IntAfter(uint8_t first, int64_t& out) {
        if (first == kTagInt16 || first == kTagInt32) {
            const size_t width = first == kTagInt16 ? 2 : 4;
            if (bytes_.size() - pos_ < width) {
                return false;
            }
            uint32_t v = 0;
            for (size_t i = 0; i < width; ++i) {
                v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
            }
            pos_ += width;
            out = width == 2 ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
            return true;
        }
        if (first == kTagReal || first == kTagNew || first == kTagNil || first == kTagEnd) {
            return false;  // a tag where a number belongs
        }
        out = static_cast<int8_t>(first);
        return true;
    }

    bool Int(int64_t& out) {
        uint8_t first = 0;
        return Byte(first) && IntAfter(first, out);
    }

    // A length or count: unsigned, so its two- and four-byte forms reach 0xFFFF and 0xFFFFFFFF
    // (a phone writes a text of 32 to 64 KiB with the two-byte form). A single byte counts only
    // below 0x80; from there on it is a tag or, as a signed byte, no length at all.
    bool Length(uint64_t& out) {
        uint8_t first = 0;
        if (!Byte(first)) {
            return false;
        }
        if (first == kTagInt16 || first == kTagInt32) {
            const size_t width = first == kTagInt16 ? 2 : 4;
            if (bytes_.size() - pos_ < width) {
                return false;
            }
            uint64_t v = 0;
            for (size_t i = 0; i < width; ++i) {
                v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
            }
            pos_ += width;
            out = v;
            return true;
        }
        if (first >= 0x80) {
            return false;
        }
        out = first;
        return true;
    }

    bool Bytes(uint64_t length, std::string_view& out) {
        if (length > bytes_.size() - pos_) {
            return false;
        }
        out = bytes_.substr(pos_, static_cast<size_t>(length));
        pos_ += static_cast<size_t>(length);
        return true;
    }

  private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

// The shared strings (type encodings, class names) and the objects and classes read so far, each
// numbered in the order the stream brought them, as its references count them.
class Decoder {
  public:
    explicit Decoder(std::string_view body) : in_(body) {}

    bool Header() {
        int64_t version = 0;
        uint64_t length = 0;
        std::string_view signature;
        int64_t system = 0;
        return in_.Int(version) && version == kStreamerVersion && in_.Length(length) &&
               in_.Bytes(length, signature) && signature == kSignature && in_.Int(system);
    }

    // A shared string: new (its length and bytes) or a reference to one read before.
    bool SharedString(std::string_view& out) {
        uint8_t first = 0;
        if (!in_.Byte(first)) {
            return false;
        }
        if (first == kTagNew) {
            uint64_t length = 0;
            if (!in_.Length(length) || !in_.Bytes(length, out)) {
                return false;
            }
            strings_.push_back(out);
            return true;
        }
        int64_t value = 0;
        if (!in_.IntAfter(first, value)) {
            return false;
        }
        const int64_t index = value - kReferenceBase;
        if (index < 0 || static_cast<uint64_t>(index) >= strings_.size()) {
            return false;
        }
        out = strings_[static_cast<size_t>(index)];
        return true;
    }

    // The class of a new object: a new class (name, version, then its superclass, down to nil)
    // or a reference to a class read before. `name` is the object's own class.
    bool Class(std::string_view& name) {
        bool named = false;
        for (int depth = 0; depth < kMaxClassDepth; ++depth) {
            uint8_t first = 0;
            if (!in_.Byte(first)) {
                return false;
            }
            if (first == kTagNil) {
                return named;
            }
            if (first == kTagNew) {
                std::string_view className;
                int64_t version = 0;
                if (!SharedString(className) || !in_.Int(version)) {
                    return false;
                }
                objects_.push_back(Entry{true, className});
                if (!named) {
                    name = className;
                    named = true;
                }
                continue;  // its superclass follows
            }
            int64_t value = 0;
            if (!in_.IntAfter(first, value)) {
                return false;
            }
            const int64_t index = value - kReferenceBase;
            if (index < 0 || static_cast<uint64_t>(index) >= objects_.size() ||
                !objects_[static_cast<size_t>(index)].isClass) {
                return false;
            }
            if (!named) {
                name = objects_[static_cast<size_t>(index)].name;
            }
            return true;  // a known class ends the chain
        }
        return false;
    }

    // The start of a new object (its tag and class); the object counts before its class.
    bool NewObject(std::string_view& className) {
        uint8_t first = 0;
        if (!in_.Byte(first) || first != kTagNew) {
            return false;
        }
        const size_t slot = objects_.size();
        objects_.push_back(Entry{false, {}});
        if (!Class(className)) {
            return false;
        }
        objects_[slot].name = className;
        return true;
    }

    bool TypeIs(std::string_view expected) {
        std::string_view type;
        return SharedString(type) && type == expected;
    }

    StreamReader& In() { return in_; }

  private:
    struct Entry {
        bool isClass;
        std::string_view name;
    };
    StreamReader in_;
    std::vector<std::string_view> strings_;
    std::vector<Entry> objects_;
};

bool IsAttributedStringClass(std::string_view name) {
    return name == "NSAttributedString" || name == "NSMutableAttributedString" ||
           name == "NSConcreteAttributedString" || name == "NSConcreteMutableAttributedString";
}

bool IsStringClass(std::string_view name) {
    return name == "NSString" || name == "NSMutableString";
}

void PutInt(std::string& out, uint64_t v) {
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v <= 0xFFFF) {
        out += static_cast<char>(kTagInt16);
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>(v >> 8);
    } else {
        out += static_cast<char>(kTagInt32);
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
}

void PutNewString(std::string& out, std::string_view s) {
    out += static_cast<char>(kTagNew);
    PutInt(out, s.size());
    out += s;
}

// UTF-16 units of UTF-8 text: four-byte sequences are surrogate pairs.
uint64_t Utf16Units(std::string_view text) {
    uint64_t n = 0;
    for (const char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if ((c & 0xC0) != 0x80) {
            n += c >= 0xF0 ? 2 : 1;
        }
    }
    return n;
}

}  // namespace

std::optional<std::string> DecodeAttributedBody(std::string_view body) {
    if (body.size() > kMaxAttributedBodyBytes) {
        return std::nullopt;
    }
    Decoder d(body);
    std::string_view className;
    // The root: one value of type "@", an attributed string whose first value is its NSString.
    if (!d.Header() || !d.TypeIs("@") || !d.NewObject(className) ||
        !IsAttributedStringClass(className) || !d.TypeIs("@") || !d.NewObject(className) ||
        !IsStringClass(className) || !d.TypeIs("+")) {
        return std::nullopt;
    }
    uint64_t length = 0;
    std::string_view text;
    uint8_t end = 0;
    if (!d.In().Length(length) || !d.In().Bytes(length, text) || !d.In().Byte(end) ||
        end != kTagEnd) {
        return std::nullopt;
    }
    return std::string(text);
}

std::string EncodeAttributedBody(std::string_view text) {
    std::string b;
    b.reserve(text.size() + 200);
    PutInt(b, kStreamerVersion);
    PutInt(b, kSignature.size());
    b += kSignature;
    PutInt(b, 1000);  // the system version
    // Strings: 0 "@", 1 NSAttributedString, 2 NSObject, 3 NSString, 4 "+", 5 "iI", 6 NSDictionary,
    // 7 "i", 8 NSNumber, 9 NSValue, 10 "*". Objects: 0 the attributed string, 1 its class,
    // 2 NSObject, 3 the string, 4 NSString, 5 the dictionary, 6 NSDictionary, 7 the key, ...
    PutNewString(b, "@");
    b += static_cast<char>(kTagNew);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSAttributedString");
    PutInt(b, 0);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSObject");
    PutInt(b, 0);
    b += static_cast<char>(kTagNil);
    b += '\x92';  // "@"
    b += static_cast<char>(kTagNew);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSString");
    PutInt(b, 1);
    b += '\x94';  // its superclass NSObject
    PutNewString(b, "+");
    PutInt(b, text.size());
    b += text;
    b += static_cast<char>(kTagEnd);
    // One attribute run over the whole text: (index 1, length in UTF-16 units).
    PutNewString(b, "iI");
    PutInt(b, 1);
    PutInt(b, Utf16Units(text));
    b += '\x92';  // "@"
    b += static_cast<char>(kTagNew);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSDictionary");
    PutInt(b, 0);
    b += '\x94';
    PutNewString(b, "i");
    PutInt(b, 1);
    b += '\x92';
    b += static_cast<char>(kTagNew);
    b += '\x96';  // class NSString
    b += '\x96';  // type "+"
    PutInt(b, 29);
    b += "__kIMMessagePartAttributeName";
    b += static_cast<char>(kTagEnd);
    b += '\x92';
    b += static_cast<char>(kTagNew);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSNumber");
    PutInt(b, 0);
    b += static_cast<char>(kTagNew);
    PutNewString(b, "NSValue");
    PutInt(b, 0);
    b += '\x94';
    PutNewString(b, "*");
    b += "\x84\x99\x99";  // the number's value, as a phone writes it
    b += '\0';
    b += static_cast<char>(kTagEnd);
    b += static_cast<char>(kTagEnd);
    b += static_cast<char>(kTagEnd);
    return b;
}

}  // namespace tolvane
