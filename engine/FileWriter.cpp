#include "engine/FileWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace tolvane {
namespace {
// The hidden file a received file is written to before it is complete.
constexpr char kPartialName[] = ".tolvane-receiving";
}  // namespace

FileWriter::FileWriter(size_t bufferCount, size_t bufferSize) {
    assert(bufferCount >= 1 && bufferSize > 0);
    for (size_t i = 0; i < bufferCount; ++i) {
        // Every byte is written before it is read: the buffers need no zeroing.
        storage_.push_back(std::make_unique_for_overwrite<char[]>(bufferSize));
        free_.push_back(storage_.back().get());
    }
    pieces_.reserve(bufferCount * 2);
}

FileWriter::~FileWriter() {
    Abandon();
}

char* FileWriter::TakeBuffer() {
    if (free_.empty()) {
        Flush();
    }
    assert(!free_.empty());  // the receiver holds at most one buffer at a time
    char* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

void FileWriter::GiveBack(char* buffer) {
    givenBack_.push_back(buffer);
    // Never more buffers than were made: the receiver gives back only what it took.
    assert(free_.size() + givenBack_.size() <= storage_.size());
}

void FileWriter::Begin(const std::string& name, const std::string& target) {
    assert(name_.empty() && fd_.get() < 0);
    name_ = name;
    target_ = target;
    error_ = 0;
    const std::string parent = platform::ParentPath(target);
    partial_ = platform::JoinPath(parent.empty() ? "." : parent, kPartialName);
    fd_.Reset(open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd_.get() < 0) {
        error_ = errno;
        partial_.clear();
        std::printf("Error opening '%s' for writing: %s\n", target_.c_str(),
                    platform::ErrnoMessage(error_).c_str());
    }
}

void FileWriter::Write(const char* data, size_t size) {
    if (fd_.get() >= 0 && size > 0) {
        pieces_.push_back(iovec{const_cast<char*>(data), size});
    }
}

// Writes the gathered pieces; a failure deletes the partial file and keeps the error. Either way
// the buffers given back are free again.
void FileWriter::Flush() {
    size_t first = 0;
    while (fd_.get() >= 0 && first < pieces_.size()) {
        const int count = static_cast<int>(std::min<size_t>(pieces_.size() - first, IOV_MAX));
        const ssize_t n = writev(fd_.get(), pieces_.data() + first, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = n < 0 ? errno : ENOSPC;
            std::printf("Error writing '%s': %s\n", target_.c_str(),
                        platform::ErrnoMessage(error_).c_str());
            Abandon();
            break;
        }
        // Skip what went out; a short write leaves the rest of a piece for the next round.
        size_t done = static_cast<size_t>(n);
        while (first < pieces_.size() && done >= pieces_[first].iov_len) {
            done -= pieces_[first].iov_len;
            ++first;
        }
        if (first < pieces_.size()) {
            pieces_[first].iov_base = static_cast<char*>(pieces_[first].iov_base) + done;
            pieces_[first].iov_len -= done;
        }
    }
    pieces_.clear();
    free_.insert(free_.end(), givenBack_.begin(), givenBack_.end());
    givenBack_.clear();
}

void FileWriter::End(bool complete) {
    if (complete) {
        Flush();
    }
    Outcome outcome{name_, 0, false};
    if (complete && fd_.get() >= 0) {
        // A failed close can carry a deferred write failure: the file is then not whole.
        if (fd_.Close() != 0 || rename(partial_.c_str(), target_.c_str()) != 0) {
            error_ = errno;
            std::printf("Error storing '%s': %s\n", target_.c_str(),
                        platform::ErrnoMessage(error_).c_str());
            unlink(partial_.c_str());
        } else {
            outcome.stored = true;
        }
        partial_.clear();
    }
    Abandon();
    outcome.error = error_;
    outcomes_.push_back(std::move(outcome));
    name_.clear();
    error_ = 0;
}

void FileWriter::Abandon() {
    pieces_.clear();  // what was gathered for a file that is dropped is not written
    fd_.Reset();
    if (!partial_.empty()) {
        unlink(partial_.c_str());
        partial_.clear();
    }
}

std::vector<FileWriter::Outcome> FileWriter::Finish() {
    Flush();
    std::vector<Outcome> outcomes;
    outcomes.swap(outcomes_);
    return outcomes;
}

}  // namespace tolvane
