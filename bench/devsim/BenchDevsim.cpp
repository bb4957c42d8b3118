// Streams whole backups from tolvane-devsim to a client on the libimobiledevice API that discards
// what it receives, and prints MB/s (10^6 bytes) and files/s: big files, many small files, and a
// link capped at 25 MB/s (which should hold within 10 %).
//
//   bench_devsim [--media-mb N] [--apps N] [--cap-mb N]
#include <arpa/inet.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Process.h"

namespace {

struct Figures {
    bool ok = false;
    uint64_t bytes = 0;
    uint64_t files = 0;
    double seconds = 0;
};

class Client {
  public:
    explicit Client(mobilebackup2_client_t c) : c_(c), buf_(1 << 20) {}

    bool Recv(void* data, uint32_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            uint32_t got = 0;
            if (mobilebackup2_receive_raw(c_, p, size, &got) != MOBILEBACKUP2_E_SUCCESS ||
                got == 0) {
                return false;
            }
            p += got;
            size -= got;
        }
        return true;
    }
    bool Length(uint32_t& v) {
        if (!Recv(&v, 4)) {
            return false;
        }
        v = ntohl(v);
        return true;
    }
    bool Skip(uint32_t n) {
        while (n > 0) {
            const uint32_t piece = std::min<uint32_t>(n, static_cast<uint32_t>(buf_.size()));
            if (!Recv(buf_.data(), piece)) {
                return false;
            }
            n -= piece;
        }
        return true;
    }
    // Reads one upload and drops it: names, blocks, the end of the list.
    bool Upload(Figures& f) {
        for (;;) {
            uint32_t n = 0;
            if (!Length(n)) {
                return false;
            }
            if (n == 0) {
                return true;
            }
            if (!Skip(n) || !Length(n) || !Skip(n)) {
                return false;
            }
            for (;;) {
                uint32_t len = 0;
                uint8_t code = 0;
                if (!Length(len) || len == 0 || !Recv(&code, 1) || !Skip(len - 1)) {
                    return false;
                }
                if (code == 0x0C) {
                    f.bytes += len - 1;
                } else {
                    break;
                }
            }
            ++f.files;
        }
    }
    Figures Backup(const std::string& udid) {
        Figures f;
        const auto start = std::chrono::steady_clock::now();
        if (mobilebackup2_send_request(c_, "Backup", udid.c_str(), udid.c_str(), nullptr) !=
            MOBILEBACKUP2_E_SUCCESS) {
            return f;
        }
        for (;;) {
            plist_t msg = nullptr;
            char* name = nullptr;
            if (mobilebackup2_receive_message(c_, &msg, &name) != MOBILEBACKUP2_E_SUCCESS ||
                name == nullptr) {
                return f;
            }
            const std::string n = name;
            free(name);
            if (n == "DLMessageProcessMessage") {
                plist_t code = plist_dict_get_item(plist_array_get_item(msg, 1), "ErrorCode");
                uint64_t v = 1;
                plist_get_uint_val(code, &v);
                plist_free(msg);
                f.ok = v == 0;
                break;
            }
            plist_free(msg);
            if (n == "DLMessageUploadFiles") {
                if (!Upload(f)) {
                    return f;
                }
                mobilebackup2_send_status_response(c_, 0, nullptr, nullptr);
            } else if (n == "DLMessageGetFreeDiskSpace") {
                plist_t free = plist_new_uint(1ull << 42);
                mobilebackup2_send_status_response(c_, 0, nullptr, free);
                plist_free(free);
            } else {
                // Listing, folders, moves, removes, copies: nothing is kept, so all went well.
                plist_t empty = plist_new_dict();
                mobilebackup2_send_status_response(c_, 0, nullptr, empty);
                plist_free(empty);
            }
        }
        f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return f;
    }

  private:
    mobilebackup2_client_t c_;
    std::vector<char> buf_;
};

bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A phone made and served in a temporary folder for one scenario.
class Phone {
  public:
    Phone(const std::vector<std::string>& makeArgs, const std::vector<std::string>& faults) {
        char pattern[] = "/tmp/bench-devsim-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::vector<std::string> argv = {TOLVANE_DEVSIM_PATH, "make-device", dir_ + "/device"};
        argv.insert(argv.end(), makeArgs.begin(), makeArgs.end());
        auto maker = platform::ChildProcess::Start(argv);
        int code = -1;
        if (!maker || !maker->Wait(600000, &code) || code != 0) {
            std::fprintf(stderr, "make-device failed\n");
            return;
        }
        socket_ = dir_ + "/mux.sock";
        argv = {TOLVANE_DEVSIM_PATH, "serve", "--socket", socket_, "--device", dir_ + "/device"};
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
    ~Phone() {
        if (server_) {
            kill(server_->Pid(), SIGTERM);
            server_->Wait(10000);
        }
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    // CPU seconds the serving phone has used so far (user + system).
    double CpuSeconds() const {
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
        // Fields after the command name (which ends with ')'): utime and stime are 12th and 13th.
        const char* p = std::strrchr(buf, ')');
        unsigned long long utime = 0, stime = 0;
        if (p == nullptr ||
            std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                        &stime) != 2) {
            return 0;
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

  private:
    std::string dir_;
    std::string socket_;
    std::unique_ptr<platform::ChildProcess> server_;
};

Figures RunBackup() {
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    mobilebackup2_client_t client = nullptr;
    Figures f;
    char* udid = nullptr;
    if (idevice_new(&device, nullptr) == IDEVICE_E_SUCCESS &&
        idevice_get_udid(device, &udid) == IDEVICE_E_SUCCESS &&
        lockdownd_client_new_with_handshake(device, &lockdown, "bench") == LOCKDOWN_E_SUCCESS &&
        lockdownd_start_service(lockdown, "com.apple.mobilebackup2", &service) ==
            LOCKDOWN_E_SUCCESS &&
        mobilebackup2_client_new(device, service, &client) == MOBILEBACKUP2_E_SUCCESS) {
        double versions[] = {2.0, 2.1};
        double remote = 0;
        if (mobilebackup2_version_exchange(client, versions, 2, &remote) ==
            MOBILEBACKUP2_E_SUCCESS) {
            f = Client(client).Backup(udid);
        }
    }
    free(udid);
    if (client != nullptr) {
        mobilebackup2_client_free(client);
    }
    lockdownd_service_descriptor_free(service);
    if (lockdown != nullptr) {
        lockdownd_client_free(lockdown);
    }
    if (device != nullptr) {
        idevice_free(device);
    }
    return f;
}

void Report(const char* what, const Figures& f, double phoneCpu) {
    if (!f.ok) {
        std::printf("%-44s FAILED\n", what);
        return;
    }
    std::printf(
        "%-44s %8.1f MB/s %9.0f files/s  (%llu files, %.1f MB in %.2f s; phone busy %.0f %%)\n",
        what, static_cast<double>(f.bytes) / 1e6 / f.seconds,
        static_cast<double>(f.files) / f.seconds, static_cast<unsigned long long>(f.files),
        static_cast<double>(f.bytes) / 1e6, f.seconds, 100.0 * phoneCpu / f.seconds);
}

Figures Measure(const Phone& phone, double& cpu) {
    const double before = phone.CpuSeconds();
    Figures f = RunBackup();
    cpu = phone.CpuSeconds() - before;
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    int mediaMb = 1024;
    int apps = 3000;
    double capMb = 25;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--media-mb") {
            mediaMb = std::atoi(argv[i + 1]);
        } else if (a == "--apps") {
            apps = std::atoi(argv[i + 1]);
        } else if (a == "--cap-mb") {
            capMb = std::atof(argv[i + 1]);
        }
    }
    std::printf("tolvane-devsim backup streaming to a discarding client\n");
    bool ok = true;
    {
        Phone phone({"--media-mb", std::to_string(mediaMb), "--apps", "1"}, {});
        double cpu = 0;
        const Figures f = Measure(phone, cpu);
        Report(("big files (" + std::to_string(mediaMb) + " MiB camera roll)").c_str(), f, cpu);
        ok = ok && f.ok;
    }
    {
        Phone phone({"--media-mb", "0", "--apps", std::to_string(apps)}, {});
        double cpu = 0;
        const Figures f = Measure(phone, cpu);
        Report(("small files (" + std::to_string(apps) + " applications)").c_str(), f, cpu);
        ok = ok && f.ok;
    }
    {
        const int capMedia = static_cast<int>(capMb * 8);  // about eight seconds of transfer
        char fault[32];
        std::snprintf(fault, sizeof fault, "rate=%g", capMb);
        Phone phone({"--media-mb", std::to_string(capMedia), "--apps", "1"}, {fault});
        double cpu = 0;
        const Figures f = Measure(phone, cpu);
        char label[80];
        std::snprintf(label, sizeof label, "capped at %g MB/s (%d MiB)", capMb, capMedia);
        Report(label, f, cpu);
        if (f.ok) {
            const double rate = static_cast<double>(f.bytes) / 1e6 / f.seconds;
            const double off = (rate - capMb) / capMb * 100;
            std::printf("%-44s %+8.1f %% from the cap (limit: within 10 %%)\n", "", off);
            ok = ok && off > -10 && off < 10;
        }
        ok = ok && f.ok;
    }
    return ok ? 0 : 1;
}
