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
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/DevsimPhone.h"
#include "bench/common/RawClient.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Strings.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using devsimclient::RawClient;
using devsimclient::WithBackupClient;

// A transfer with the CPU time both sides spent on it.
struct Figures : devsimclient::Transfer {
    Figures() = default;
    Figures(const devsimclient::Transfer& t) : devsimclient::Transfer(t) {}
    double phoneCpu = 0;   // CPU seconds the phone spent
    double clientCpu = 0;  // CPU seconds this process spent (the engine or the raw client)
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
    engine.SetCategories(tolvane::Full);
    const auto start = Clock::now();
    f.ok = engine.RunBackup(base, nullptr) == 0;
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
    engine.SetCategories(tolvane::Full);
    ResetPeakMemory();
    const auto start = Clock::now();
    const int32_t result = engine.RunRestore(nullptr, backup, nullptr, false);
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
    std::printf("restore of a %d MiB phone against tolvane-devsim (%d run%s; phone in %s)\n",
                mediaMb, runs, runs == 1 ? "" : "s", phoneDir.c_str());
    bool ok = false;
    {
        devsimclient::DevsimPhone phone(
            dir, phoneDir, {"--media-mb", std::to_string(mediaMb), "--apps", std::to_string(apps)});
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
