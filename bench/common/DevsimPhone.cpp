#include "bench/common/DevsimPhone.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/Process.h"

namespace devsimclient {
namespace {

bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

}  // namespace

DevsimPhone::DevsimPhone(const std::string& dir, const std::string& storage,
                         const std::vector<std::string>& makeArgs,
                         const std::vector<std::string>& faults) {
    std::vector<std::string> argv = {TOLVANE_DEVSIM_PATH, "make-device", storage};
    argv.insert(argv.end(), makeArgs.begin(), makeArgs.end());
    auto maker = platform::ChildProcess::Start(argv);
    int code = -1;
    if (!maker || !maker->Wait(1800000, &code) || code != 0) {
        std::fprintf(stderr, "make-device failed\n");
        return;
    }
    socket_ = dir + "/mux.sock";
    argv = {TOLVANE_DEVSIM_PATH, "serve", "--socket", socket_, "--device", storage};
    for (const std::string& f : faults) {
        argv.push_back("--fault");
        argv.push_back(f);
    }
    server_ = platform::ChildProcess::Start(argv);
    for (int i = 0; i < 2000 && server_ && !Answers(socket_); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket_).c_str(), 1);
}

DevsimPhone::~DevsimPhone() {
    if (server_) {
        kill(server_->Pid(), SIGTERM);
        server_->Wait(30000);
    }
}

double DevsimPhone::CpuSeconds() const {
    if (!server_) {
        return 0;
    }
    FILE* f = std::fopen(("/proc/" + std::to_string(server_->Pid()) + "/stat").c_str(), "r");
    if (f == nullptr) {
        return 0;
    }
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // After the command name (which ends with ')'), utime and stime are fields 12 and 13.
    const char* p = std::strrchr(buf, ')');
    unsigned long long utime = 0, stime = 0;
    if (p == nullptr || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                                    &utime, &stime) != 2) {
        return 0;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace devsimclient
