// A SQLite file system that forwards to the default one and lets a test step in before each
// write to chosen files: to fail it (a full disk, a broken device) or to do something to the
// files around it at that moment. It is the default file system while it lives.
#pragma once

#include <functional>
#include <string>

namespace testdata {

class FaultyVfs {
  public:
    // Called before each write to a file whose path contains the text given to the
    // constructor, with that path and the count of such writes so far (from 1). Anything but
    // SQLITE_OK fails the write with that code.
    using WriteHook = std::function<int(const std::string& path, int writeCount)>;

    FaultyVfs(std::string pathPart, WriteHook hook);
    ~FaultyVfs();
    FaultyVfs(const FaultyVfs&) = delete;
    FaultyVfs& operator=(const FaultyVfs&) = delete;

    int Writes() const;
};

}  // namespace testdata
