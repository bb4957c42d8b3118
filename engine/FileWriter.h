// Stores received files: the receiving side hands over, in order, Begin (a file and its target
// path), Write (a piece of a buffer it took from the writer), End (complete or not), and buffers it
// has moved on from (GiveBack).
//
// Writes are gathered across buffers and go out in one system call when the buffers run out or
// the file ends, so a stream of 32 KiB blocks costs a fraction of a write call per block.
//
// A file is written into a hidden partial file beside its target and renamed onto the target only
// when it ends complete; any other end deletes the partial file, so a name in the backup folder
// always holds a whole file.
//
// Invariants: a buffer given back is handed out again only after every piece written from it has
// gone to disk; there are never more than `bufferCount` buffers, so memory stays bounded whatever
// the size of a file.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/Handles.h"

namespace tolvane {

class FileWriter {
  public:
    struct Outcome {
        std::string name;  // as the phone named the file
        int error = 0;     // errno value of a failed create, write or rename
        bool stored = false;
    };

    FileWriter(size_t bufferCount, size_t bufferSize);
    ~FileWriter();  // deletes the partial file of a file that was not ended
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // A free buffer (writing out what is gathered when none is left).
    char* TakeBuffer();
    // The receiver is done with `buffer`; it is free again once the pieces from it are written.
    void GiveBack(char* buffer);

    void Begin(const std::string& name, const std::string& target);
    // A piece of a taken buffer for the current file; it must stay untouched until given back.
    void Write(const char* data, size_t size);
    void End(bool complete);

    // The outcomes of the files ended since the last call.
    std::vector<Outcome> Finish();

  private:
    void Flush();
    void Abandon();

    std::vector<std::unique_ptr<char[]>> storage_;
    std::vector<char*> free_;
    std::vector<char*> givenBack_;  // free once the gathered pieces are written
    std::vector<iovec> pieces_;
    std::vector<Outcome> outcomes_;

    // The current file. states: none (name_ empty) | writing (fd_ open) | failed (error_ set)
    platform::UniqueFd fd_;
    int error_ = 0;
    std::string name_;
    std::string target_;
    std::string partial_;
};

}  // namespace tolvane
