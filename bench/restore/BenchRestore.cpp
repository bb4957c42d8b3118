// Restore throughput of the engine against tolvane-devsim, as a share of what the simulated phone
// itself can carry, all measured in one run on one phone:
//
//   raw send     the phone streams its whole backup to a client that discards it (the phone's
//                sending speed, as bench_devsim measures it);
//   raw restore  a minimal client answers the phone's restore requests straight from the backup
//                folder (the phone's receiving speed, with its staging, SHA-1 checks and apply);
//   engine       BackupEngine::RunRestore of the same backup, a whole restore.
//
// It prints MB/s (10^6 bytes) and files/s for each, the engine's share of both raw figures, and
// the engine's peak memory during its restore.
//
//   bench_restore [--media-mb N] [--apps N] [--runs N] [--phone-in DIR]
//
// --phone-in puts the simulated phone's storage under DIR. On an ext4 volume without a journal,
// creating thousands of files right after deleting thousands (the phone swaps its old files for
// the restored ones) spends a quarter of the phone's time in the inode allocator; a phone kept on
// a memory file system (/dev/shm) shows what the engine itself reaches.
#include <arpa/inet.h>
#include <fcntl.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Strings.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Figures {
    bool ok = false;
    uint64_t bytes = 0;
    uint64_t files = 0;
    double seconds = 0;
    double phoneCpu = 0;   // CPU seconds the phone spent
    double clientCpu = 0;  // CPU seconds this process spent (the engine or the raw client)
    double MBps() const { return static_cast<double>(bytes) / 1e6 / seconds; }
    double FilesPerSecond() const { return static_cast<double>(files) / seconds; }
};

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds this process has used so far (user + system).
double OwnCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// --- the phone ----------------------------------------------------------------------------------

bool Answers(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

class Phone {
  public:
    // The phone's storage is `storage` (made there), its socket in `dir`.
    Phone(const std::string& dir, const std::string& storage,
          const std::vector<std::string>& makeArgs)
        : dir_(dir) {
        std::vector<std::string> argv = {TOLVANE_DEVSIM_PATH, "make-device", storage};
        argv.insert(argv.end(), makeArgs.begin(), makeArgs.end());
        auto maker = platform::ChildProcess::Start(argv);
        int code = -1;
        if (!maker || !maker->Wait(1800000, &code) || code != 0) {
            std::fprintf(stderr, "make-device failed\n");
            return;
        }
        socket_ = dir_ + "/mux.sock";
        server_ = platform::ChildProcess::Start(
            {TOLVANE_DEVSIM_PATH, "serve", "--socket", socket_, "--device", storage});
        for (int i = 0; i < 2000 && server_ && !Answers(socket_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket_).c_str(), 1);
    }
    ~Phone() {
        if (server_) {
            kill(server_->Pid(), SIGTERM);
            server_->Wait(30000);
        }
    }
    bool Ok() const { return server_ != nullptr; }

    // CPU seconds the serving phone has used so far (user + system).
    double CpuSeconds() const {
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

// --- a bare client on the library --------------------------------------------------------------

// Opens a mobilebackup2 connection, runs `body` on it with the phone's UDID, and closes it.
bool WithBackupClient(const std::function<void(mobilebackup2_client_t, const std::string&)>& body) {
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    mobilebackup2_client_t client = nullptr;
    char* udid = nullptr;
    bool ok = false;
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
            body(client, udid);
            ok = true;
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
    return ok;
}

class RawClient {
  public:
    explicit RawClient(mobilebackup2_client_t c) : c_(c), buf_(1 << 20) {}

    // The phone's backup, read off the connection and dropped.
    Figures Backup(const std::string& udid) {
        Figures f;
        const auto start = Clock::now();
        if (mobilebackup2_send_request(c_, "Backup", udid.c_str(), udid.c_str(), nullptr) !=
            MOBILEBACKUP2_E_SUCCESS) {
            return f;
        }
        f.ok = Converse([&](const std::string& name, plist_t) {
            if (name == "DLMessageUploadFiles") {
                if (!Upload(f)) {
                    return false;
                }
                mobilebackup2_send_status_response(c_, 0, nullptr, nullptr);
            } else if (name == "DLMessageGetFreeDiskSpace") {
                plist_t free = plist_new_uint(1ull << 42);
                mobilebackup2_send_status_response(c_, 0, nullptr, free);
                plist_free(free);
            } else {
                EmptyReply();
            }
            return true;
        });
        f.seconds = Seconds(start);
        return f;
    }

    // A whole restore of folder/source, every requested file read from disk and sent.
    Figures Restore(const std::string& udid, const std::string& folder, const std::string& source) {
        Figures f;
        const auto start = Clock::now();
        plist_t options = plist_new_dict();
        plist_dict_set_item(options, "RestoreSystemFiles", plist_new_bool(0));
        const bool sent = mobilebackup2_send_request(c_, "Restore", udid.c_str(), source.c_str(),
                                                     options) == MOBILEBACKUP2_E_SUCCESS;
        plist_free(options);
        if (!sent) {
            return f;
        }
        f.ok = Converse([&](const std::string& name, plist_t message) {
            if (name == "DLMessageDownloadFiles") {
                return Download(folder, plist_array_get_item(message, 1), f);
            }
            EmptyReply();
            return true;
        });
        f.seconds = Seconds(start);
        return f;
    }

  private:
    // Receives messages until the phone ends; true when it ended without an error.
    bool Converse(const std::function<bool(const std::string&, plist_t)>& handle) {
        for (;;) {
            plist_t msg = nullptr;
            char* raw = nullptr;
            if (mobilebackup2_receive_message(c_, &msg, &raw) != MOBILEBACKUP2_E_SUCCESS ||
                raw == nullptr) {
                plist_free(msg);
                return false;
            }
            const std::string name = raw;
            free(raw);
            if (name == "DLMessageDisconnect") {
                plist_free(msg);
                return true;
            }
            if (name == "DLMessageProcessMessage") {
                plist_t code = plist_dict_get_item(plist_array_get_item(msg, 1), "ErrorCode");
                uint64_t v = 1;
                plist_get_uint_val(code, &v);
                plist_free(msg);
                return v == 0;
            }
            const bool ok = handle(name, msg);
            plist_free(msg);
            if (!ok) {
                return false;
            }
        }
    }
    void EmptyReply() {
        plist_t empty = plist_new_dict();
        mobilebackup2_send_status_response(c_, 0, nullptr, empty);
        plist_free(empty);
    }
    bool Send(const void* data, uint32_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            uint32_t n = 0;
            if (mobilebackup2_send_raw(c_, p, size, &n) != MOBILEBACKUP2_E_SUCCESS || n == 0) {
                return false;
            }
            p += n;
            size -= n;
        }
        return true;
    }
    bool SendLength(uint32_t v) {
        v = htonl(v);
        return Send(&v, 4);
    }
    bool Download(const std::string& folder, plist_t names, Figures& f) {
        const uint32_t count = plist_array_get_size(names);
        for (uint32_t i = 0; i < count; ++i) {
            char* raw = nullptr;
            plist_get_string_val(plist_array_get_item(names, i), &raw);
            const std::string name = raw != nullptr ? raw : "";
            free(raw);
            if (!SendLength(static_cast<uint32_t>(name.size())) ||
                !Send(name.data(), static_cast<uint32_t>(name.size()))) {
                return false;
            }
            const int fd = open((folder + "/" + name).c_str(), O_RDONLY);
            if (fd < 0) {
                return false;
            }
            for (;;) {
                const ssize_t n = read(fd, buf_.data() + 5, 32768);
                if (n <= 0) {
                    break;
                }
                const uint32_t len = htonl(static_cast<uint32_t>(n) + 1);
                std::memcpy(buf_.data(), &len, 4);
                buf_[4] = 0x0C;
                if (!Send(buf_.data(), static_cast<uint32_t>(n) + 5)) {
                    close(fd);
                    return false;
                }
                f.bytes += static_cast<uint64_t>(n);
            }
            close(fd);
            const char success[5] = {0, 0, 0, 1, 0};
            if (!Send(success, 5)) {
                return false;
            }
            ++f.files;
        }
        if (!SendLength(0)) {
            return false;
        }
        EmptyReply();
        return true;
    }
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
                if (code != 0x0C) {
                    break;
                }
                f.bytes += len - 1;
            }
            ++f.files;
        }
    }

    mobilebackup2_client_t c_;
    std::vector<char> buf_;
};

// --- the engine ----------------------------------------------------------------------------------

// Peak resident memory of this process since the last ResetPeakMemory, in MiB.
double PeakMemoryMiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) {
        return 0;
    }
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) {
            break;
        }
    }
    std::fclose(f);
    return static_cast<double>(kib) / 1024.0;
}

void ResetPeakMemory() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (f != nullptr) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// The files of a backup's device folder: their count and bytes.
void CountFiles(const std::string& folder, uint64_t& files, uint64_t& bytes) {
    files = 0;
    bytes = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.is_regular_file()) {
            ++files;
            bytes += e.file_size();
        }
    }
}

Figures EngineBackup(const std::string& base, std::string& folder) {
    Figures f;
    tolvane::BackupEngine engine;
    uint8_t willEncrypt = 0;
    if (engine.ConnectDevice(&willEncrypt) != 0) {
        return f;
    }
    engine.categories = tolvane::Full;
    const auto start = Clock::now();
    f.ok = engine.RunBackup(platform::AnsiToWide(base), nullptr) == 0;
    f.seconds = Seconds(start);
    folder = engine.LastBackupFolder();
    engine.CloseDevice();
    return f;
}

Figures EngineRestore(const std::string& backup, double& peakMiB) {
    Figures f;
    tolvane::BackupEngine engine;
    uint8_t willEncrypt = 0;
    if (engine.ConnectDevice(&willEncrypt) != 0) {
        return f;
    }
    engine.categories = tolvane::Full;
    ResetPeakMemory();
    const auto start = Clock::now();
    const int32_t result = engine.RunRestore(nullptr, platform::AnsiToWide(backup), nullptr, false);
    f.seconds = Seconds(start);
    peakMiB = PeakMemoryMiB();
    f.ok = result == 0;
    if (!f.ok) {
        std::fprintf(stderr, "RunRestore: %d %s\n", result, engine.GetLastErrorText().c_str());
    }
    engine.CloseDevice();
    return f;
}

void Report(const char* what, const Figures& f) {
    if (!f.ok) {
        std::printf("%-34s FAILED\n", what);
        return;
    }
    std::printf(
        "%-34s %7.1f MB/s %6.0f files/s  (%llu files, %.1f MB in %.2f s; busy: phone "
        "%.0f %%, computer %.0f %%)\n",
        what, f.MBps(), f.FilesPerSecond(), static_cast<unsigned long long>(f.files),
        static_cast<double>(f.bytes) / 1e6, f.seconds, 100.0 * f.phoneCpu / f.seconds,
        100.0 * f.clientCpu / f.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    int mediaMb = 1024;
    int apps = 1;
    int runs = 1;
    std::string phoneParent;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--media-mb") {
            mediaMb = std::atoi(argv[i + 1]);
        } else if (a == "--apps") {
            apps = std::atoi(argv[i + 1]);
        } else if (a == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (a == "--phone-in") {
            phoneParent = argv[i + 1];
        }
    }
    char pattern[] = "/tmp/bench-restore-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    // The program's own folders (work backup, settings) go into the temporary folder too.
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);

    // The phone's storage: beside the computer's backups unless --phone-in names another place
    // (a memory file system, say, to keep the file system's own costs of the phone out of it).
    std::string phoneDir = dir + "/device";
    if (!phoneParent.empty()) {
        std::string p = phoneParent + "/bench-restore-phone-XXXXXX";
        if (mkdtemp(p.data()) == nullptr) {
            std::fprintf(stderr, "cannot make a folder in %s\n", phoneParent.c_str());
            return 2;
        }
        phoneDir = p + "/device";
    }
    std::printf("restore of a %d MiB phone against tolvane-devsim (%d run%s; phone in %s)\n", mediaMb,
                runs, runs == 1 ? "" : "s", phoneDir.c_str());
    bool ok = false;
    {
        Phone phone(dir, phoneDir, {"--media-mb", std::to_string(mediaMb), "--apps", std::to_string(apps)});
        std::string backup;
        Figures made;
        if (phone.Ok()) {
            const double cpu = phone.CpuSeconds();
            const double own = OwnCpuSeconds();
            made = EngineBackup(dir + "/backups", backup);
            made.phoneCpu = phone.CpuSeconds() - cpu;
            made.clientCpu = OwnCpuSeconds() - own;
        }
        std::string udid;
        uint64_t files = 0;
        uint64_t bytes = 0;
        if (made.ok) {
            for (const auto& e : fs::directory_iterator(backup)) {
                if (e.is_directory()) {
                    udid = e.path().filename().string();
                }
            }
            CountFiles(backup + "/" + udid, files, bytes);
            made.files = files;
            made.bytes = bytes;
        }
        Report("engine backup (made once)", made);
        if (made.ok) {
            // Best of `runs` for each, taken in turns so that all see the same machine.
            Figures send, raw, engine;
            double peak = 0;
            for (int r = 0; r < runs; ++r) {
                double cpu = phone.CpuSeconds();
                double own = OwnCpuSeconds();
                Figures s;
                WithBackupClient([&](mobilebackup2_client_t c, const std::string& id) {
                    s = RawClient(c).Backup(id);
                });
                s.phoneCpu = phone.CpuSeconds() - cpu;
                s.clientCpu = OwnCpuSeconds() - own;
                cpu = phone.CpuSeconds();
                own = OwnCpuSeconds();
                Figures w;
                WithBackupClient([&](mobilebackup2_client_t c, const std::string& id) {
                    w = RawClient(c).Restore(id, backup, udid);
                });
                w.phoneCpu = phone.CpuSeconds() - cpu;
                w.clientCpu = OwnCpuSeconds() - own;
                cpu = phone.CpuSeconds();
                own = OwnCpuSeconds();
                double p = 0;
                Figures e = EngineRestore(backup, p);
                e.phoneCpu = phone.CpuSeconds() - cpu;
                e.clientCpu = OwnCpuSeconds() - own;
                e.bytes = bytes;
                e.files = files;
                if (s.ok && (!send.ok || s.MBps() > send.MBps())) {
                    send = s;
                }
                if (w.ok && (!raw.ok || w.MBps() > raw.MBps())) {
                    raw = w;
                }
                if (e.ok && (!engine.ok || e.MBps() > engine.MBps())) {
                    engine = e;
                }
                peak = std::max(peak, p);
            }
            Report("raw send (phone -> discarding)", send);
            Report("raw restore (minimal client)", raw);
            Report("engine restore (RunRestore)", engine);
            if (send.ok && raw.ok && engine.ok) {
                const double share = engine.MBps() / send.MBps();
                std::printf("%-34s %8.2f   (target at least 0.80)\n", "engine restore / raw send",
                            share);
                std::printf("%-34s %8.2f\n", "engine restore / raw restore",
                            engine.MBps() / raw.MBps());
                std::printf("%-34s %8.1f MiB\n", "engine peak memory (restore)", peak);
                ok = share >= 0.8;
            }
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    if (!phoneParent.empty()) {
        std::system(("rm -rf '" + platform::ParentPath(phoneDir) + "'").c_str());
    }
    return ok ? 0 : 1;
}
