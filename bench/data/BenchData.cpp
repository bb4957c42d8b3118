// Benchmark of the message and contact data operations: merges a 100,000-message sms.csv and a
// 20,000-contact contacts.csv into real-schema databases, the same sms.csv into the database of a
// phone of iOS 17, and lists a 100,000-message backup of each generation (iOS 17: half of the
// messages only in attributedBody).
// Prints records per second, the listing time and the peak memory of each operation.
//
// Each operation runs in a process of its own (this program, started again with the operation's
// name), so its peak resident size is its own and not the preparation's. The memory target is a
// bound on what the operation itself needs, so it is judged on the peak above the resident size
// the process had just before the operation started (libraries, the engine, the allocator's
// arenas); the whole process's peak is printed beside it. Times are the best of three rounds,
// wall clock and CPU.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/ContactMerge.h"
#include "data/Listing.h"
#include "data/MessageMerge.h"
#include "devsim/ModernDatabases.h"
#include "devsim/Random.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "tests/tools/ExportWriter.h"
#include "tests/tools/RealSchemaDb.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMessages = 100000;
constexpr int kHandles = 500;
constexpr int kContacts = 20000;
constexpr double kMessageRateTarget = 50000;
constexpr double kContactRateTarget = 10000;
constexpr double kListingTarget = 0.5;
constexpr double kModernListingTarget = 1.0;
constexpr char kModernVersion[] = "17.5";
constexpr double kMemoryFactorTarget = 3.0;
constexpr char kDevice[] = "0123456789abcdef0123456789abcdef01234567";

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double MiB(double bytes) {
    return bytes / 1048576.0;
}

bool Prepare(const std::string& dir) {
    const std::string smsSource = dir + "/sms-source.db";
    const std::string smsTarget = dir + "/sms-target.db";
    const std::string abSource = dir + "/ab-source.db";
    const std::string abTarget = dir + "/ab-target.db";
    if (!testkit::CreateSmsDb(smsSource) || !testkit::CreateSmsDb(smsTarget) ||
        !testkit::CreateAddressBookDb(abSource) || !testkit::CreateAddressBookDb(abTarget)) {
        return false;
    }
    {
        testkit::Database source(smsSource);
        testkit::Database target(smsTarget);
        if (!testkit::FillSms(source, kHandles, kMessages) ||
            !testkit::FillSms(target, kHandles, 0)) {
            return false;
        }
        testkit::Database contacts(abSource);
        if (!testkit::FillContacts(contacts, kContacts)) {
            return false;
        }
    }
    const std::string backupDb = dir + "/backup/" + kDevice + "/" + tolvane::kSmsDatabaseName;
    fs::create_directories(fs::path(backupDb).parent_path());
    fs::copy_file(smsSource, backupDb);
    // The same messages as a phone of iOS 17 keeps them: newer columns, nanosecond dates, every
    // message's words in attributedBody and about half of them only there; and the empty target
    // migrated likewise.
    const std::string modernDb = dir + "/backup-modern/" + kDevice + "/" +
                                 std::string(tolvane::kSmsDatabaseName, 2) + "/" +
                                 tolvane::kSmsDatabaseName;
    fs::create_directories(fs::path(modernDb).parent_path());
    fs::copy_file(smsSource, modernDb);
    fs::copy_file(smsTarget, dir + "/sms-modern-target.db");
    std::string error;
    devsim::Random random(7);
    if (!devsim::ModerniseMessageDatabase(modernDb, kModernVersion, random, error) ||
        !devsim::ModerniseMessageDatabase(dir + "/sms-modern-target.db", kModernVersion, random,
                                          error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return testkit::WriteSmsExport(smsSource, dir + "/sms.csv") &&
           testkit::WriteContactsExport(abSource, dir + "/contacts.csv");
}

constexpr int kRounds = 3;

// A "Vm...:   123 kB" line of /proc/self/status, in bytes (0 when it cannot be read).
double StatusBytes(const char* key) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    double bytes = 0;
    const size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            bytes = std::strtod(line + keyLength + 1, nullptr) * 1024.0;
            break;
        }
    }
    std::fclose(status);
    return bytes;
}

// The resident size now, and the highest it has been since the process started.
double ResidentBytes() {
    return StatusBytes("VmRSS");
}
double PeakResidentBytes() {
    return StatusBytes("VmHWM");
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = 1e300;  // the best round
    double cpu = 1e300;
};

// Runs `round` kRounds times (after `reset`, which is not timed) and keeps the best times: the
// machine may be shared, and the best round is the one least disturbed by others.
template <typename Reset, typename Round>
Timing Time(Reset reset, Round round) {
    Timing best;
    for (int i = 0; i < kRounds; ++i) {
        reset();
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        round();
        best.wall = std::min(best.wall, Seconds(start));
        best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
    }
    return best;
}

// `before` is the resident size just before the operation's first round.
void PrintMemory(double before, double inputBytes, const char* inputName) {
    const double peak = PeakResidentBytes();
    const double own = peak - before;
    const double factor = own / inputBytes;
    std::printf(
        "                 memory %.1f MiB above the %.1f MiB held before = %.2f x the %s of "
        "%.1f MiB (target < %.0f x) %s\n"
        "                 (peak of the whole process %.1f MiB = %.2f x)\n",
        MiB(own), MiB(before), factor, inputName, MiB(inputBytes), kMemoryFactorTarget,
        peak > 0 && factor < kMemoryFactorTarget ? "ok" : "MISSED", MiB(peak), peak / inputBytes);
}

void PrintRate(const char* what, int64_t rows, int records, const Timing& t, double target,
               bool succeeded) {
    const double rate = records / t.wall;
    std::printf(
        "%-16s %lld of %d records in %.2f s (%.2f s CPU) = %.0f records/s (target > %.0f) "
        "%s\n",
        what, static_cast<long long>(rows), records, t.wall, t.cpu, rate, target,
        succeeded && rows == records && rate > target ? "ok" : "MISSED");
}

// One merge, run on a fresh copy of its target each round.
int RunMerge(const std::string& dir, const char* name, const std::string& target,
             const std::string& exportFile, const char* countQuery, int records, double target_,
             int32_t (*merge)(tolvane::BackupEngine&, const std::string&, const std::string&,
                              tolvane::MergeTally*)) {
    tolvane::BackupEngine engine;
    const double before = ResidentBytes();
    const std::string work = dir + "/work.db";
    int32_t result = 0;
    const Timing t =
        Time([&] { fs::copy_file(target, work, fs::copy_options::overwrite_existing); },
             [&] { result = merge(engine, work, exportFile, nullptr); });
    const double exportBytes = static_cast<double>(fs::file_size(exportFile));
    int64_t rows = 0;
    {
        testkit::Database db(work, true);
        rows = db.Scalar(countQuery);
    }
    PrintRate(name, rows, records, t, target_, result == 0);
    PrintMemory(before, exportBytes, "export");
    return result;
}

// The operations, each run in its own process.
int RunOperation(const std::string& op, const std::string& dir) {
    if (op == "prepare") {
        return Prepare(dir) ? 0 : 1;
    }
    if (op == "merge-sms") {
        return RunMerge(dir, "message merge:", dir + "/sms-target.db", dir + "/sms.csv",
                        "select count(*) from message;", kMessages, kMessageRateTarget,
                        tolvane::MergeMessages);
    }
    if (op == "merge-contacts") {
        return RunMerge(dir, "contact merge:", dir + "/ab-target.db", dir + "/contacts.csv",
                        "select count(*) from ABPerson;", kContacts, kContactRateTarget,
                        tolvane::MergeContacts);
    }
    if (op == "merge-sms-modern") {
        return RunMerge(dir, "message merge (iOS 17):", dir + "/sms-modern-target.db",
                        dir + "/sms.csv", "select count(*) from message;", kMessages,
                        kMessageRateTarget, tolvane::MergeMessages);
    }
    if (op == "list-messages" || op == "list-modern-messages") {
        const bool modern = op == "list-modern-messages";
        const std::string backup = dir + (modern ? "/backup-modern" : "/backup");
        const double target = modern ? kModernListingTarget : kListingTarget;
        tolvane::BackupEngine engine;
        const double before = ResidentBytes();
        std::vector<std::wstring> lines;
        int32_t result = 0;
        const Timing t =
            Time([&] { lines.clear(); },
                 [&] { result = tolvane::ListMessages(lines, backup, engine, nullptr, false); });
        std::printf("message listing%s: %zu messages in %.3f s (%.3f s CPU) (target < %.1f s) %s\n",
                    modern ? " (iOS 17, half only in attributedBody)" : "", lines.size(), t.wall,
                    t.cpu, target,
                    result == 0 && lines.size() == kMessages && t.wall < target ? "ok" : "MISSED");
        const std::string db =
            backup + "/" + kDevice + "/" +
            (modern ? std::string(tolvane::kSmsDatabaseName, 2) + "/" : std::string()) +
            tolvane::kSmsDatabaseName;
        PrintMemory(before, static_cast<double>(fs::file_size(db)), "database");
        return result;
    }
    return 1;
}

bool RunChild(const char* self, const std::string& op, const std::string& dir) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, op.c_str(), dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        return RunOperation(argv[1], argv[2]);
    }
    char pattern[] = "/tmp/tolvane-bench-data-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    // The merges put their temporary copies into the application-data folder: keep it in here.
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/share").c_str(), 1);
    std::printf("preparing %d messages and %d contacts in %s ...\n", kMessages, kContacts,
                dir.c_str());
    // Even the preparation runs in a child: a child's peak counts the parent's size when it was
    // forked, so the parent stays as small as an idle process.
    const bool ok =
        RunChild(argv[0], "prepare", dir) && RunChild(argv[0], "merge-sms", dir) &&
        RunChild(argv[0], "merge-contacts", dir) && RunChild(argv[0], "merge-sms-modern", dir) &&
        RunChild(argv[0], "list-messages", dir) && RunChild(argv[0], "list-modern-messages", dir);
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
