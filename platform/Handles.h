// Owners for the handles of the C libraries the project uses, so that an early return frees
// everything in reverse order. Shared by the program and the simulated phone: these are generic
// wrappers only, with no behaviour of either side in them.
#pragma once

#include <plist/plist.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
// An owned plist node (plist_t is a void pointer, hence the explicit element type).
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct SqliteDeleter {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteDeleter>;

struct SqliteStmtDeleter {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using SqliteStmtPtr = std::unique_ptr<sqlite3_stmt, SqliteStmtDeleter>;

struct FileDeleter {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileDeleter>;

// An owned file descriptor (negative: none), closed when the owner goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    // Closes now and returns what close() returned (0, or -1 with errno set), which can carry a
    // deferred write failure; 0 when there was nothing to close.
    int Close();
    // Closes what it holds (without looking at the result) and takes `fd`.
    void Reset(int fd = -1);
    // Gives up ownership without closing; returns the descriptor.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

// The string value of a plist string node, or `fallback` when the node is not a string.
std::string PlistString(plist_t node, const std::string& fallback = {});

}  // namespace platform
