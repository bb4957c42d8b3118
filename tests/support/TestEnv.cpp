#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace testenv {

TempDir::TempDir(std::string_view prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/" +
                          std::string(prefix) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

std::string TempDir::operator/(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        old_ = old;
    }
    if (value) {
        setenv(name_.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

IsolatedHome::IsolatedHome()
    : dir_("tolvane-home"),
      home_("HOME", dir_.Path()),
      data_("XDG_DATA_HOME", dir_.Path() + "/.local/share"),
      config_("XDG_CONFIG_HOME", dir_.Path() + "/.config"),
      state_("XDG_STATE_HOME", dir_.Path() + "/.local/state"),
      cache_("XDG_CACHE_HOME", dir_.Path() + "/.cache"),
      runtime_("XDG_RUNTIME_DIR", dir_.Path() + "/run") {
    fs::create_directories(dir_.Path() + "/run");
}

void WriteFile(const std::string& path, std::string_view contents) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void RemoveTree(const std::string& path) {
    if (path.empty() || path == "/") {
        return;
    }
    std::error_code ec;
    // Make everything writable first, so a test that took permissions away cannot leave a tree.
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) {
        return names;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), folder).generic_string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testenv
