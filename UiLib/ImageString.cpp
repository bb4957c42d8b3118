#include "UiLib/ImageString.h"

#include "UiLib/Values.h"

namespace UiLib {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Applies one key; returns an error text for an unknown key or a bad value.
std::string ApplyItem(ImageDescription& img, std::string_view key, std::string_view value) {
    auto rect = [&](std::optional<Rect>& out) -> std::string {
        auto r = ParseRect(value);
        if (!r) {
            return "bad rectangle '" + std::string(value) + "' for " + std::string(key);
        }
        out = *r;
        return {};
    };
    auto flag = [&](bool& out) -> std::string {
        auto b = ParseBool(value);
        if (!b) {
            return "bad boolean '" + std::string(value) + "' for " + std::string(key);
        }
        out = *b;
        return {};
    };
    if (key == "file") {
        img.file = value;
    } else if (key == "res") {
        img.res = value;
    } else if (key == "restype") {
        img.restype = value;
    } else if (key == "source") {
        return rect(img.source);
    } else if (key == "dest") {
        return rect(img.dest);
    } else if (key == "corner") {
        std::optional<Rect> c;
        std::string err = rect(c);
        if (err.empty()) {
            img.corner = *c;
        }
        return err;
    } else if (key == "mask") {
        auto c = ParseColor(value);
        if (!c) {
            return "bad colour '" + std::string(value) + "' for mask";
        }
        img.mask = *c;
    } else if (key == "fade") {
        auto v = ParseInt(value);
        if (!v || *v < 0 || *v > 255) {
            return "bad fade '" + std::string(value) + "'";
        }
        img.fade = *v;
    } else if (key == "hole") {
        return flag(img.hole);
    } else if (key == "xtiled") {
        return flag(img.xtiled);
    } else if (key == "ytiled") {
        return flag(img.ytiled);
    } else {
        return "unknown image key '" + std::string(key) + "'";
    }
    return {};
}

}  // namespace

ParsedImage ParseImageString(std::string_view text) {
    ParsedImage out;
    // A string without "=" is a bare file name.
    if (text.find('=') == std::string_view::npos) {
        size_t b = 0;
        size_t e = text.size();
        while (b < e && IsBlank(text[b])) {
            ++b;
        }
        while (e > b && IsBlank(text[e - 1])) {
            --e;
        }
        out.image.file = text.substr(b, e - b);
        return out;
    }
    size_t i = 0;
    const size_t n = text.size();
    while (true) {
        while (i < n && IsBlank(text[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        size_t keyStart = i;
        while (i < n && text[i] != '=' && !IsBlank(text[i])) {
            ++i;
        }
        std::string_view key = text.substr(keyStart, i - keyStart);
        if (i >= n || text[i] != '=' || key.empty()) {
            out.fault = "malformed image item at offset " + std::to_string(keyStart);
            break;
        }
        ++i;  // '='
        if (i >= n || text[i] != '\'') {
            out.fault = "missing quote after " + std::string(key) + "=";
            break;
        }
        ++i;  // opening quote
        size_t close = text.find('\'', i);
        if (close == std::string_view::npos) {
            out.fault = "unterminated value of " + std::string(key);
            break;
        }
        std::string err = ApplyItem(out.image, key, text.substr(i, close - i));
        i = close + 1;
        // A well-formed item with an unknown key or a bad value is skipped; parsing goes on.
        if (!err.empty() && out.fault.empty()) {
            out.fault = err;
        }
    }
    return out;
}

}  // namespace UiLib
