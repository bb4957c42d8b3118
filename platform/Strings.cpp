#include "platform/Strings.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// A byte that is not UTF-8, in a path: U+DC00 + the byte (0x80..0xFF give U+DC80..U+DCFF).
constexpr char32_t kEscapedByte = 0xDC00;

// Decodes one UTF-8 sequence at text[pos]. Returns the number of bytes used (0 when the bytes at
// pos do not start a valid sequence) and the code point in `out`. Overlong forms, surrogates and
// values above U+10FFFF are invalid.
size_t DecodeOne(std::string_view text, size_t pos, char32_t& out) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t b0 = byte(pos);
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    size_t len;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < len; ++i) {
        const uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    out = cp;
    return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string WideToAnsi(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        const auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back('?');
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    return WideToAnsi(text);
}

std::wstring AnsiToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp;
        const size_t used = DecodeOne(text, pos, cp);
        if (used == 0) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++pos;
        } else {
            out.push_back(static_cast<wchar_t>(cp));
            pos += used;
        }
    }
    return out;
}

std::wstring PathToWide(std::string_view path) {
    std::wstring out;
    out.reserve(path.size());
    size_t pos = 0;
    while (pos < path.size()) {
        char32_t cp;
        const size_t used = DecodeOne(path, pos, cp);
        if (used == 0) {
            out.push_back(static_cast<wchar_t>(kEscapedByte + static_cast<uint8_t>(path[pos])));
            ++pos;
        } else {
            out.push_back(static_cast<wchar_t>(cp));
            pos += used;
        }
    }
    return out;
}

std::string PathToBytes(std::wstring_view path) {
    std::string out;
    out.reserve(path.size());
    for (wchar_t wc : path) {
        const auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
        // Only bytes of 0x80 and above are ever escaped: U+DC00..U+DC7F stay unencodable.
        if (cp >= kEscapedByte + 0x80 && cp <= kEscapedByte + 0xFF) {
            out.push_back(static_cast<char>(cp - kEscapedByte));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back('?');
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp;
        const size_t used = DecodeOne(text, pos, cp);
        if (used == 0) {
            return {};
        }
        out.push_back(static_cast<wchar_t>(cp));
        pos += used;
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

}  // namespace platform
