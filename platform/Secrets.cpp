#include "platform/Secrets.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Errors.h"
#include "platform/Handles.h"

namespace platform {

bool ReadSecretLine(int fd, std::string& secret) {
    secret.clear();
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        secret += c;
    }
    if (!secret.empty() && secret.back() == '\r') {
        secret.pop_back();
    }
    return any;
}

bool ReadSecretFromTerminal(const std::string& prompt, std::string& secret, int32_t& error) {
    error = 0;
    UniqueFd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (tty.get() < 0) {
        error = LastSystemError();
        return false;
    }
    termios saved{};
    if (tcgetattr(tty.get(), &saved) != 0) {
        error = LastSystemError();
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    // The echo goes off before the prompt shows: what is typed once the prompt is there is
    // neither echoed nor dropped by the flush of this change (only what was typed before it).
    if (tcsetattr(tty.get(), TCSAFLUSH, &quiet) != 0) {
        error = LastSystemError();
        return false;
    }
    [[maybe_unused]] ssize_t w = write(tty.get(), prompt.data(), prompt.size());
    const bool read = ReadSecretLine(tty.get(), secret);
    if (!read) {
        error = errno != 0 ? LastSystemError() : 0;
    }
    tcsetattr(tty.get(), TCSAFLUSH, &saved);
    return read;
}

}  // namespace platform
