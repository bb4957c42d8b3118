// Streams whole backups from tolvane-devsim to a client on the libimobiledevice API that discards
// what it receives, and prints MB/s (10^6 bytes) and files/s: big files, many small files, and a
// link capped at 25 MB/s (which should hold within 10 %).
//
//   bench_devsim [--media-mb N] [--apps N] [--cap-mb N]
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/common/DevsimPhone.h"
#include "bench/common/RawClient.h"

namespace {

using devsimclient::Transfer;

// A phone made and served in a temporary folder for one scenario.
class Phone {
  public:
    Phone(const std::vector<std::string>& makeArgs, const std::vector<std::string>& faults)
        : phone_(dir_.path, dir_.path + "/device", makeArgs, faults) {}

    // CPU seconds the serving phone has used so far (user + system).
    double CpuSeconds() const { return phone_.CpuSeconds(); }

  private:
    struct Folder {
        Folder() {
            char pattern[] = "/tmp/bench-devsim-XXXXXX";
            path = mkdtemp(pattern);
        }
        ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
        std::string path;
    };
    Folder dir_;  // declared first: removed once the phone has stopped
    devsimclient::DevsimPhone phone_;
};

void Report(const char* what, const Transfer& f, double phoneCpu) {
    if (!f.ok) {
        std::printf("%-44s FAILED\n", what);
        return;
    }
    std::printf(
        "%-44s %8.1f MB/s %9.0f files/s  (%llu files, %.1f MB in %.2f s; phone busy %.0f %%)\n",
        what, f.MBps(), f.FilesPerSecond(), static_cast<unsigned long long>(f.files),
        static_cast<double>(f.bytes) / 1e6, f.seconds, 100.0 * phoneCpu / f.seconds);
}

Transfer Measure(const Phone& phone, double& cpu) {
    const double before = phone.CpuSeconds();
    Transfer f;
    devsimclient::WithBackupClient([&](mobilebackup2_client_t c, const std::string& udid) {
        f = devsimclient::RawClient(c).Backup(udid);
    });
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
        const Transfer f = Measure(phone, cpu);
        Report(("big files (" + std::to_string(mediaMb) + " MiB camera roll)").c_str(), f, cpu);
        ok = ok && f.ok;
    }
    {
        Phone phone({"--media-mb", "0", "--apps", std::to_string(apps)}, {});
        double cpu = 0;
        const Transfer f = Measure(phone, cpu);
        Report(("small files (" + std::to_string(apps) + " applications)").c_str(), f, cpu);
        ok = ok && f.ok;
    }
    {
        const int capMedia = static_cast<int>(capMb * 8);  // about eight seconds of transfer
        char fault[32];
        std::snprintf(fault, sizeof fault, "rate=%g", capMb);
        Phone phone({"--media-mb", std::to_string(capMedia), "--apps", "1"}, {fault});
        double cpu = 0;
        const Transfer f = Measure(phone, cpu);
        char label[80];
        std::snprintf(label, sizeof label, "capped at %g MB/s (%d MiB)", capMb, capMedia);
        Report(label, f, cpu);
        if (f.ok) {
            const double rate = f.MBps();
            const double off = (rate - capMb) / capMb * 100;
            std::printf("%-44s %+8.1f %% from the cap (limit: within 10 %%)\n", "", off);
            ok = ok && off > -10 && off < 10;
        }
        ok = ok && f.ok;
    }
    return ok ? 0 : 1;
}
