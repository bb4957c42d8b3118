#include "devsim/EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace devsim {

EventLog::EventLog(std::string path) : path_(std::move(path)) {}

void EventLog::Append(const std::string& line) {
    std::string text = line;
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    text += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    // One write of the whole line: with O_APPEND a reader never sees half of it.
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n <= 0) {
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace devsim
