// tolvane-devsim: the simulated iPhone. See devsim/README.md.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "devsim/DeviceState.h"
#include "devsim/Faults.h"
#include "devsim/FileChanges.h"
#include "devsim/Generation.h"
#include "devsim/MakeDevice.h"
#include "devsim/Phone.h"
#include "devsim/UsbmuxServer.h"
#include "devsim/WriteBackup.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  tolvane-devsim serve --socket PATH --device DIR [--fault FLAG]... [--change-share P]\n"
    "  tolvane-devsim change-files DIR --share P [--round N]\n"
    "  tolvane-devsim make-device DIR [--name N] [--messages N] [--contacts N] [--media-mb N]\n"
    "                 [--apps N] [--backup-password P] [--seed N] [--product-version V]\n"
    "                 [--product-type T] [--no-cellular] [--backup-rounds N]\n"
    "                 (V: 7.1.x for the iOS 7 generation, 10 to 18 for a modern phone)\n"
    "  tolvane-devsim write-backup DEVICE_DIR OUT_PARENT [--encrypt PASSWORD]\n"
    "                 [--date 2015-03-07T18:05:09Z] [--name N]\n"
    "Point any libimobiledevice program at a served phone with\n"
    "  USBMUXD_SOCKET_ADDRESS=UNIX:PATH\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", problem.c_str());
    }
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseInt(const std::string& text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 1000000) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

int Serve(const std::vector<std::string>& args) {
    std::string socketPath;
    std::string deviceDir;
    devsim::Faults faults;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) {
            return Usage("missing value after " + a);
        }
        const std::string& v = args[++i];
        if (a == "--socket") {
            socketPath = v;
        } else if (a == "--device") {
            deviceDir = v;
        } else if (a == "--fault") {
            std::string error;
            if (!devsim::ParseFault(v, faults, error)) {
                return Usage(error);
            }
        } else if (a == "--change-share") {
            if (!devsim::ParseShare(v, faults.changeShare)) {
                return Usage("bad value for --change-share: " + v);
            }
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (socketPath.empty() || deviceDir.empty()) {
        return Usage("serve needs --socket and --device");
    }
    std::string error;
    std::unique_ptr<devsim::DeviceState> state = devsim::DeviceState::Load(deviceDir, error);
    if (!state) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }

    // The signals are taken through a descriptor, so that no thread is interrupted by them and
    // the server can stop in an orderly way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    const std::string udid = state->Udid();
    devsim::Phone phone(std::move(state), faults);
    devsim::UsbmuxServer server(phone, socketPath);
    if (!server.Start(error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    phone.Events().Append("serve " + udid);
    std::printf("tolvane-devsim: serving %s on %s\n", udid.c_str(), socketPath.c_str());
    std::fflush(stdout);
    server.Run(signalFd);
    phone.Events().Append("stopped");
    close(signalFd);
    return 0;
}

int MakeDeviceCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) {
        return Usage("make-device needs a folder");
    }
    devsim::MakeDeviceOptions o;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--no-cellular") {
            o.cellular = false;
            continue;
        }
        if (i + 1 >= args.size()) {
            return Usage("missing value after " + a);
        }
        const std::string& v = args[++i];
        bool ok = true;
        if (a == "--name") {
            o.name = v;
        } else if (a == "--messages") {
            ok = ParseInt(v, o.messages);
        } else if (a == "--contacts") {
            ok = ParseInt(v, o.contacts);
        } else if (a == "--media-mb") {
            ok = ParseInt(v, o.mediaMb);
        } else if (a == "--apps") {
            ok = ParseInt(v, o.apps);
        } else if (a == "--backup-password") {
            ok = !v.empty();
            o.backupPassword = v;
        } else if (a == "--seed") {
            char* end = nullptr;
            o.seed = std::strtoull(v.c_str(), &end, 10);
            ok = !v.empty() && *end == '\0';
        } else if (a == "--product-version") {
            ok = devsim::IsSupportedPhoneVersion(v);
            o.productVersion = v;
        } else if (a == "--backup-rounds") {
            char* end = nullptr;
            const unsigned long rounds = std::strtoul(v.c_str(), &end, 10);
            ok = !v.empty() && *end == '\0' && rounds > 0 && rounds <= 10000000;
            o.backupRounds = static_cast<uint32_t>(rounds);
        } else if (a == "--product-type") {
            o.productType = v;
        } else {
            return Usage("unknown option " + a);
        }
        if (!ok) {
            return Usage("bad value for " + a + ": " + v);
        }
    }
    std::string error;
    if (!devsim::MakeDevice(args[0], o, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Changes a share of a phone's files, as a week of use would, while it is served or not.
int ChangeFilesCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) {
        return Usage("change-files needs a device folder");
    }
    double share = -1;
    uint64_t round = 1;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) {
            return Usage("missing value after " + a);
        }
        const std::string& v = args[++i];
        if (a == "--share") {
            if (!devsim::ParseShare(v, share)) {
                return Usage("bad value for --share: " + v);
            }
        } else if (a == "--round") {
            char* end = nullptr;
            round = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0') {
                return Usage("bad value for --round: " + v);
            }
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (share < 0) {
        return Usage("change-files needs --share");
    }
    std::string error;
    std::unique_ptr<devsim::DeviceState> state = devsim::DeviceState::Load(args[0], error);
    devsim::FileChangeCounts counts;
    if (!state || !devsim::ChangeFiles(state->FilesRoot(), share, round, counts, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("changed %llu, added %llu, removed %llu\n",
                static_cast<unsigned long long>(counts.changed),
                static_cast<unsigned long long>(counts.added),
                static_cast<unsigned long long>(counts.removed));
    return 0;
}

int WriteBackupCommand(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[0].rfind("--", 0) == 0 || args[1].rfind("--", 0) == 0) {
        return Usage("write-backup needs a device folder and an output folder");
    }
    devsim::WriteBackupOptions o;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) {
            return Usage("missing value after " + a);
        }
        const std::string& v = args[++i];
        if (a == "--encrypt") {
            if (v.empty()) {
                return Usage("--encrypt needs a password");
            }
            o.encryptPassword = v;
        } else if (a == "--date") {
            int64_t seconds = 0;
            if (!devsim::ParseIsoDate(v, seconds)) {
                return Usage("bad date " + v + " (expected e.g. 2015-03-07T18:05:09Z)");
            }
            o.date = seconds;
        } else if (a == "--name") {
            o.name = v;
        } else {
            return Usage("unknown option " + a);
        }
    }
    std::string error;
    if (!devsim::WriteBackup(args[0], args[1], o, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage("");
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "serve") {
        return Serve(args);
    }
    if (command == "make-device") {
        return MakeDeviceCommand(args);
    }
    if (command == "change-files") {
        return ChangeFilesCommand(args);
    }
    if (command == "write-backup") {
        return WriteBackupCommand(args);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage("unknown command " + command);
}
