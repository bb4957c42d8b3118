// Figures of the backup store: strip and patch of a 200,000-record Manifest.mbdb, SHA-1 of a 1 GiB
// file, and the decryption tool on a 200 MB encrypted message database.
//   bench_store [temporary folder]      (default: $TMPDIR or /tmp)
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "store/Manifest.h"
#include "tests/support/EncryptedBackupWriter.h"
#include "tests/support/MbdbWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The high-water mark of a running process's resident memory (VmHWM), in KiB; 0 once it is gone.
long ProcessPeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

std::string MakeWorkFolder(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "";
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    }
    std::string pattern = base + "/tolvane-bench-store-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}

// A manifest shaped like a phone's: one in five records belongs to an application, the message
// database lies near the end.
void BenchManifest(const std::string& dir) {
    constexpr int kRecords = 200000;
    std::vector<testenv::MbdbEntry> entries;
    entries.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) {
        testenv::MbdbEntry e = testenv::HomeFile("Library/Files/file" + std::to_string(i) + ".dat");
        if (i % 5 == 0) {
            e.domain = "AppDomain-com.example.app" + std::to_string(i % 97);
            e.path = "Documents/data" + std::to_string(i);
        }
        if (i % 7 == 0) {
            e.properties = {{"com.apple.metadata", "value"}};
        }
        e.size = 4096 + i;
        entries.push_back(std::move(e));
    }
    entries[kRecords - 10] = testenv::HomeFile("Library/SMS/sms.db");
    const std::string bytes = testenv::BuildMbdb(entries);
    const std::string source = dir + "/Manifest.mbdb_bak";
    const std::string target = dir + "/Manifest.mbdb";
    std::ofstream(source, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));

    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        const int32_t strip = tolvane::StripAppDomainRecords(source, target);
        const int32_t patch = tolvane::PatchManifestDigest(
            "00112233445566778899AABBCCDDEEFF00112233", target, "sms.db");
        times.push_back(Seconds(start));
        if (strip != 0 || patch != 0) {
            std::printf("manifest: strip %d, patch %d: FAILED\n", strip, patch);
            return;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "manifest strip+patch, %d records (%.1f MB): median %.3f s, best %.3f s "
        "(target < 0.3 s)\n",
        kRecords, bytes.size() / 1e6, times[times.size() / 2], times.front());
}

void BenchSha1(const std::string& dir) {
    constexpr size_t kBlock = 1 << 20;
    constexpr size_t kBlocks = 1024;  // 1 GiB
    const std::string path = dir + "/big.db";
    {
        std::string block = testenv::RandomBytes(kBlock);
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < kBlocks; ++i) {
            block[i % kBlock] ^= 1;
            out.write(block.data(), static_cast<long>(block.size()));
        }
    }
    const long rssBefore = PeakRssKiB();
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        char digest[41] = {};
        const auto start = Clock::now();
        const int32_t rc = tolvane::Sha1FileHex(path, digest);
        times.push_back(Seconds(start));
        if (rc != 0) {
            std::printf("sha1: error %d: FAILED\n", rc);
            return;
        }
    }
    const long rssAfter = PeakRssKiB();
    std::sort(times.begin(), times.end());
    const double mb = kBlock * kBlocks / 1e6;
    std::printf(
        "SHA-1 of a 1 GiB file (page cache warm): median %.0f MB/s, best %.0f MB/s "
        "(target > 400 MB/s); process peak memory %ld KiB before hashing, %ld KiB after\n",
        mb / times[times.size() / 2], mb / times.front(), rssBefore, rssAfter);
    std::filesystem::remove(path);
}

void BenchTool(const std::string& dir) {
    constexpr size_t kSize = 200 * 1000 * 1000;
    const std::string backup = dir + "/backup";
    {
        std::string sms = testenv::RandomBytes(1 << 20);
        while (sms.size() < kSize) {
            sms += sms.substr(0, std::min(sms.size(), kSize - sms.size()));
        }
        testenv::BackupOptions options;
        options.password = "bench password";
        testenv::WriteBackupFolder(backup,
                                   {testenv::SmsDatabase(std::move(sms)),
                                    testenv::ContactsDatabase(testenv::RandomBytes(65536))},
                                   options);
    }
    std::vector<double> times;
    long toolPeak = 0;
    for (int run = 0; run < 3; ++run) {
        const std::string out = dir + "/out" + std::to_string(run);
        const auto start = Clock::now();
        auto child = platform::ChildProcess::Start(
            {std::string(TOLVANE_BIN_DIR) + "/tool", backup, out, "-"});
        if (!child) {
            std::printf("tool: cannot be started: FAILED\n");
            return;
        }
        child->WriteInput("bench password\n");
        child->CloseInput();
        // Sampled while it runs: the tool's memory must not grow with the database.
        char buf[4096];
        for (;;) {
            toolPeak = std::max(toolPeak, ProcessPeakKiB(child->Pid()));
            const int waiting = child->Peek(20);
            if (waiting < 0 || (waiting > 0 && child->Read(buf, sizeof buf) <= 0)) {
                break;
            }
        }
        int exitCode = -1;
        child->Wait(-1, &exitCode);
        times.push_back(Seconds(start));
        if (exitCode != 0) {
            std::printf("tool: exit code %d: FAILED\n", exitCode);
            return;
        }
        std::filesystem::remove_all(out);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "tool decrypting a 200 MB database (process start and key derivation included): "
        "median %.0f MB/s, best %.0f MB/s (target > 150 MB/s); tool's memory at most %ld KiB "
        "as sampled\n",
        kSize / 1e6 / times[times.size() / 2], kSize / 1e6 / times.front(), toolPeak);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = MakeWorkFolder(argc, argv);
    BenchSha1(dir);  // first, while the process's peak memory is still small
    BenchManifest(dir);
    BenchTool(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
