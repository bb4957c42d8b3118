#include "app/LinkTable.h"

#include <cctype>
#include <cstdio>

#include "app/AppSettings.h"
#include "platform/Files.h"
#include "platform/Strings.h"

namespace tolvane {
namespace {

constexpr size_t kLinkMax = 2048;

// The shipped guide's section for each page that has a default.
const char* DefaultLink(const std::string& page) {
    if (page == "1") {
        return "Help/index.html";
    }
    if (page == "2") {
        return "Help/index.html#questions";
    }
    if (page == "5") {
        return "Help/index.html#about";
    }
    if (page == "6") {
        return "Help/index.html#support";
    }
    if (page == "usbmuxd") {
        return "Help/index.html#usbmuxd";
    }
    return nullptr;
}

bool HasScheme(const std::string& value) {
    // scheme ":" as URIs write it ("https:", "file:", "mailto:"); a single letter is no scheme.
    const size_t colon = value.find(':');
    if (colon == std::string::npos || colon < 2) {
        return false;
    }
    if (std::isalpha(static_cast<unsigned char>(value[0])) == 0) {
        return false;
    }
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (std::isalnum(c) == 0 && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

std::string EncodePath(const std::string& path) {
    std::string out;
    for (const unsigned char c : path) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::wstring ResolveLink(const std::string& value, const std::string& programFolder) {
    if (value.empty()) {
        return {};
    }
    if (HasScheme(value)) {
        return platform::AnsiToWide(value);
    }
    std::string path = value;
    std::string fragment;
    if (const size_t hash = path.find('#'); hash != std::string::npos) {
        fragment = path.substr(hash);
        path.resize(hash);
    }
    if (path.front() != '/') {
        path = programFolder + path;
    }
    return platform::AnsiToWide("file://" + EncodePath(path) + fragment);
}

std::wstring LinkAddress(const ConfigStore& config, const std::string& programFolder,
                         const std::string& page) {
    const char* fallback = DefaultLink(page);
    // A marker no real value has, to tell a missing key from an empty one.
    static const std::string kAbsent = "\x01";
    std::string value = config.ReadString("Links", page, kAbsent, kLinkMax);
    if (value == kAbsent) {
        if (fallback == nullptr) {
            return {};
        }
        value = fallback;
    }
    return ResolveLink(value, programFolder);
}

std::wstring LinkAddress(const AppSettings& settings, const std::string& page) {
    return LinkAddress(settings.Config(), platform::ParentPath(settings.ConfigPath()) + "/", page);
}

std::wstring LinkAddress(const AppSettings& settings, int pageNumber) {
    switch (pageNumber) {
        case 1:
        case 2:
        case 5:
        case 6:
            return LinkAddress(settings, std::to_string(pageNumber));
        default:
            return {};
    }
}

}  // namespace tolvane
