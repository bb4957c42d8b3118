// The stored bytes of one file of a backup, handed out piece by piece (read from the phone's
// file, and encrypted on the way for an encrypted backup).
#pragma once

#include <cstddef>

namespace devsim {

class FileSource {
  public:
    virtual ~FileSource() = default;
    // Fills up to `capacity` bytes (at least 32): the count, 0 at the end, -1 when the file
    // cannot be read.
    virtual long Next(char* buffer, size_t capacity) = 0;
};

}  // namespace devsim
