// What the tests share: temporary folders, environment changes that are undone, and an isolated
// home so that no test touches the real user's files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testenv {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
  public:
    explicit TempDir(std::string_view prefix = "tolvane-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(std::string_view name) const;

  private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable until destruction.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// HOME and the XDG folders pointed into one temporary folder.
class IsolatedHome {
  public:
    IsolatedHome();
    const std::string& Home() const { return dir_.Path(); }

  private:
    TempDir dir_;
    ScopedEnv home_, data_, config_, state_, cache_, runtime_;
};

// Writes `contents` to `path`, creating missing parent folders; fails the test on error.
void WriteFile(const std::string& path, std::string_view contents);
// The whole contents of a file; fails the test when it cannot be read.
std::string ReadFile(const std::string& path);
// Removes a tree (like rm -rf).
void RemoveTree(const std::string& path);
// The regular files under `folder` (relative paths, sorted); none when it does not exist.
std::vector<std::string> FilesUnder(const std::string& folder);

}  // namespace testenv
