// tolvanectl against simulated phones when things go wrong around a run: the phone's backup
// encryption after every outcome, passwords kept out of the process list, Ctrl-C at several
// points, and two runs at once.
#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/OperationLock.h"
#include "platform/Process.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

namespace {

using namespace std::chrono_literals;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::SimulatedPhone;

constexpr char kSmsKey[] = "HomeDomain/Library/SMS/sms.db";

std::string Tolvanectl() {
    return std::string(TOLVANE_BIN_DIR) + "/tolvanectl";
}

// A tolvanectl running in the background, its output gathered as it comes.
class CtlRun {
  public:
    // `socket`: the phone to talk to when it is not the one of the test's environment.
    CtlRun(const std::vector<std::string>& args, const std::string& input,
           const std::string& socket = {}) {
        std::vector<std::string> argv;
        if (!socket.empty()) {
            argv = {"/usr/bin/env", "USBMUXD_SOCKET_ADDRESS=UNIX:" + socket};
        }
        argv.push_back(Tolvanectl());
        argv.insert(argv.end(), args.begin(), args.end());
        child_ = platform::ChildProcess::Start(argv);
        EXPECT_NE(child_, nullptr);
        if (child_) {
            child_->WriteInput(input);
            child_->CloseInput();
        }
    }

    pid_t Pid() const { return child_ ? child_->Pid() : -1; }
    const std::string& Output() const { return output_; }

    // Gathers output until `text` shows up (true) or the program ends or the time is up.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (output_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !Pump(100)) {
                return output_.find(text) != std::string::npos;
            }
        }
        return true;
    }

    // Gathers the rest of the output and the exit status (-1 when the program had to be killed
    // after `limit`).
    int Finish(std::chrono::milliseconds limit = 180s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Pump(100)) {
            if (std::chrono::steady_clock::now() > end) {
                child_->Kill();
                child_->Wait(-1);
                return -1;
            }
        }
        int code = -1;
        child_->Wait(-1, &code);
        return code;
    }

    void Signal(int sig) { kill(child_->Pid(), sig); }
    bool Running() { return child_ && !child_->HasExited(); }

  private:
    // False at the end of the output.
    bool Pump(int ms) {
        const int waiting = child_->Peek(ms);
        if (waiting < 0) {
            return false;
        }
        if (waiting > 0) {
            char buf[4096];
            const long n = child_->Read(buf, sizeof buf);
            if (n <= 0) {
                return false;
            }
            output_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    std::unique_ptr<platform::ChildProcess> child_;
    std::string output_;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file of /proc: a process may end between the listing and the read, which the stream library
// reports by throwing; such a file reads as empty.
std::string ReadProcFile(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            bytes.append(chunk, n);
        }
        std::fclose(f);
    }
    return bytes;
}

std::string PhoneFile(const SimulatedPhone& phone, const std::string& key) {
    return ReadBytes(phone.DeviceDir() + "/files/" + key);
}

void Scribble(const SimulatedPhone& phone, const std::string& key) {
    std::ofstream out(phone.DeviceDir() + "/files/" + key, std::ios::binary | std::ios::app);
    out << "changed after the backup";
    ASSERT_TRUE(out.good());
}

size_t CountEvents(const SimulatedPhone& phone, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : phone.Events()) {
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

// Every file and folder under `folder` (relative), sorted; folders end with "/".
std::vector<std::string> EntriesUnder(const std::string& folder) {
    std::vector<std::string> out;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        const std::string rel = pending.back();
        pending.pop_back();
        DIR* dir = opendir((folder + "/" + rel).c_str());
        if (dir == nullptr) {
            continue;
        }
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = rel + name;
            if (e->d_type == DT_DIR) {
                out.push_back(path + "/");
                pending.push_back(path + "/");
            } else {
                out.push_back(path);
            }
        }
        closedir(dir);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string WriteOtherProgramsBackup(const SimulatedPhone& phone, const std::string& parent,
                                     const std::string& password) {
    const testenv::CommandRun run =
        testenv::RunProgram({SimulatedPhone::ProgramPath(), "write-backup", phone.DeviceDir(),
                             parent, "--encrypt", password, "--date", "2015-03-07T18:05:09Z"},
                            {}, 60000);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return parent + "/" + phone.Udid();
}

class CliFaults : public ::testing::Test {
  protected:
    CliFaults() { tolvane::BackupEngine::ResetTempBackupFolderForTesting(); }
    ~CliFaults() override { tolvane::BackupEngine::ResetTempBackupFolderForTesting(); }

    std::string WorkDeviceFolder(const SimulatedPhone& phone) const {
        return tolvane::BackupEngine::TempBackupFolder() + "/" + phone.Udid();
    }

    IsolatedHome home_;
    const std::string base_ = home_.Home() + "/Backups";
};

// --- the phone's backup encryption ---------------------------------------------------------

// Every run that removed the phone's backup password gives it back, whether it ended well or the
// phone refused its restore.
TEST_F(CliFaults, ThePhoneEncryptsAgainAfterEveryOutcome) {
    PhoneOptions options;
    options.backupPassword = "pw";
    auto phone = std::make_unique<SimulatedPhone>(options);

    CtlRun backup({"backup", "--folder", base_, "--password", "-"}, "pw\n");
    ASSERT_EQ(backup.Finish(), 0) << backup.Output();
    EXPECT_TRUE(phone->WillEncrypt()) << backup.Output();
    EXPECT_EQ(CountEvents(*phone, "password removed"), 1u);
    EXPECT_EQ(CountEvents(*phone, "password set"), 1u);
    EXPECT_NE(backup.Output().find("The phone encrypts its backups again"), std::string::npos);
    std::vector<std::string> made = EntriesUnder(base_);
    ASSERT_FALSE(made.empty());
    const std::string folder = base_ + "/" + made.front();  // "<timestamp>/"

    phone->Restart({"refuse-restore=204:The backup is incomplete"});
    CtlRun whole({"restore", folder, "--device-password", "-"}, "pw\n");
    EXPECT_EQ(whole.Finish(), 1) << whole.Output();  // -204 clamped
    EXPECT_NE(whole.Output().find("The backup is incomplete"), std::string::npos);
    EXPECT_TRUE(phone->WillEncrypt()) << whole.Output();

    CtlRun category({"restore", folder, "--sms", "--device-password", "-"}, "pw\n");
    EXPECT_NE(category.Finish(), 0) << category.Output();
    EXPECT_TRUE(phone->WillEncrypt()) << category.Output();

    // A database taken from the phone passes the checks; the phone then refuses the restore.
    const std::string sms = home_.Home() + "/sms.db";
    testenv::WriteFile(sms, PhoneFile(*phone, kSmsKey));
    CtlRun import({"import", "--sms", sms, "--password", "-"}, "pw\n");
    EXPECT_NE(import.Finish(), 0) << import.Output();
    EXPECT_TRUE(phone->WillEncrypt()) << import.Output();
    EXPECT_EQ(CountEvents(*phone, "password removed"), 4u);
    EXPECT_EQ(CountEvents(*phone, "password set"), 4u);
    // Nothing was warned about, since nothing is owed.
    for (const CtlRun* r : {&backup, &whole, &category, &import}) {
        EXPECT_EQ(r->Output().find("no longer encrypts"), std::string::npos) << r->Output();
    }
}

// A phone of iOS 16.1 or later asks for its passcode before it encrypts again: the user is
// told, and the password goes back once it is typed.
TEST_F(CliFaults, AModernPhoneAsksForItsPasscodeToEncryptAgainAndTheUserIsTold) {
    PhoneOptions options;
    options.backupPassword = "pw";
    options.productVersion = "17.5";
    options.backupRounds = 1000;
    options.mediaMb = 0;
    SimulatedPhone phone(options, {"passcode-after=2"});
    CtlRun backup({"backup", "--folder", base_, "--password", "-"}, "pw\n");
    ASSERT_EQ(backup.Finish(), 0) << backup.Output();
    EXPECT_NE(backup.Output().find("asks for its passcode: unlock it and type the passcode"),
              std::string::npos)
        << backup.Output();
    EXPECT_TRUE(phone.WillEncrypt());
    EXPECT_EQ(CountEvents(phone, "passcode asked"), 2u);  // the backup, then the password
    EXPECT_EQ(CountEvents(phone, "password set"), 1u);
}

// A phone that cannot be given its password back is named in a warning, not left silently
// without encryption.
TEST_F(CliFaults, APhoneThatCannotTakeItsPasswordBackIsWarnedAbout) {
    PhoneOptions options;
    options.backupPassword = "pw";
    options.productVersion = "17.5";
    options.backupRounds = 1000;
    options.mediaMb = 0;
    // The passcode is typed for the backup (the first request), never for the password.
    SimulatedPhone phone(options, {"passcode-never", "passcode-limit=3"});
    CtlRun backup({"backup", "--folder", base_, "--password", "-"}, "pw\n");
    EXPECT_NE(backup.Finish(), 0) << backup.Output();
    EXPECT_FALSE(phone.WillEncrypt());
    EXPECT_NE(backup.Output().find("warning: the phone's backup password could not be given "
                                   "back"),
              std::string::npos)
        << backup.Output();
}

// --- passwords and the process list ----------------------------------------------------------

// Whether any process's command line holds `secret`, and whether `pid` was seen.
bool ProcessListHolds(const std::string& secret, pid_t pid, bool& sawPid) {
    bool found = false;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    while (const dirent* e = readdir(proc)) {
        const std::string name = e->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string cmdline = ReadProcFile("/proc/" + name + "/cmdline");
        if (name == std::to_string(pid) && cmdline.find("tolvanectl") != std::string::npos) {
            sawPid = true;
        }
        found = found || cmdline.find(secret) != std::string::npos;
    }
    closedir(proc);
    return found;
}

// Watches the process list while `run` lasts; returns how often `secret` was in it, and sets
// `looks` to the number of looks that saw the program running.
int WatchProcessList(CtlRun& run, const std::string& secret, int& looks) {
    int seen = 0;
    looks = 0;
    while (run.Running()) {
        bool sawPid = false;
        seen += ProcessListHolds(secret, run.Pid(), sawPid) ? 1 : 0;
        looks += sawPid ? 1 : 0;
        std::this_thread::sleep_for(20ms);
    }
    return seen;
}

TEST_F(CliFaults, TheSafePasswordFormsNeverReachTheProcessList) {
    // The list is the whole machine's: the secret is this process's own, so that the same test
    // run elsewhere at the same time (its visible form, say) is not taken for a leak here.
    const std::string secret = "Zq7-private-pass-" + std::to_string(getpid());
    PhoneOptions options;
    options.backupPassword = secret;
    options.mediaMb = 3;
    SimulatedPhone phone(options, {"rate=2"});

    // Standard input: the backup, and a restore of an encrypted backup of the other program by
    // category, which also runs the decryption tool.
    CtlRun backup({"backup", "--folder", base_, "--password", "-"}, secret + "\n");
    int looks = 0;
    EXPECT_EQ(WatchProcessList(backup, secret, looks), 0);
    EXPECT_GT(looks, 10);  // the list was looked at during the run
    ASSERT_EQ(backup.Finish(), 0) << backup.Output();

    const std::string other = WriteOtherProgramsBackup(phone, home_.Home() + "/other", secret);
    CtlRun restore(
        {"restore", other, "--itunes", "--sms", "--password", "-", "--device-password", "-"},
        secret + "\n" + secret + "\n");
    EXPECT_EQ(WatchProcessList(restore, secret, looks), 0);
    EXPECT_GT(looks, 10);
    ASSERT_EQ(restore.Finish(), 0) << restore.Output();

    // The old value form is what the watch would catch. A folder of its own, so that the run is a
    // whole backup of a few seconds at the link's rate and not a repeat of the first one, which
    // sends almost nothing and could end between two looks.
    CtlRun visible({"backup", "--folder", home_.Home() + "/Visible", "--password", secret}, "");
    EXPECT_GT(WatchProcessList(visible, secret, looks), 0);
    EXPECT_EQ(visible.Finish(), 0) << visible.Output();
}

// Without a value the password is asked on the terminal, where what is typed is not echoed.
TEST_F(CliFaults, APasswordAskedOnTheTerminalIsNotEchoed) {
    const std::string secret = "Zq7-typed-pass";
    PhoneOptions options;
    options.backupPassword = secret;
    options.mediaMb = 0;
    SimulatedPhone phone(options);

    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string program = Tolvanectl();
        execl(program.c_str(), program.c_str(), "backup", "--folder", base_.c_str(), "--password",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string output;
    bool answered = false;
    char buf[1024];
    const auto end = std::chrono::steady_clock::now() + 120s;
    bool timedOut = true;
    while (std::chrono::steady_clock::now() < end) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 500) == 0) {
            continue;  // nothing yet: the deadline is checked again
        }
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) {
            timedOut = false;
        }
        if (n <= 0) {
            break;  // EIO once the program has closed the terminal
        }
        output.append(buf, static_cast<size_t>(n));
        if (!answered && output.find("Password for --password: ") != std::string::npos) {
            answered = true;
            const std::string line = secret + "\n";
            ASSERT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
    }
    if (timedOut) {
        kill(child, SIGKILL);
    }
    close(master);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_FALSE(timedOut) << output;
    EXPECT_TRUE(answered) << output;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("Backup complete"), std::string::npos) << output;
    EXPECT_EQ(output.find(secret), std::string::npos) << output;
    EXPECT_TRUE(phone.WillEncrypt());
}

// --- Ctrl-C ------------------------------------------------------------------------------------

// After an interrupt: status 130, the sync lock given back as often as it was taken, the phone
// encrypting again, and nothing the run made left behind.
void ExpectCleanInterrupt(CtlRun& run, const SimulatedPhone& phone, const std::string& workFolder,
                          const std::string& base) {
    const auto start = std::chrono::steady_clock::now();
    const int code = run.Finish(60s);
    EXPECT_EQ(code, 130) << run.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_NE(run.Output().find("interrupted"), std::string::npos) << run.Output();
    EXPECT_EQ(CountEvents(phone, "lock acquired"), CountEvents(phone, "lock released"));
    // The run had removed the password (it had begun to back up), and it went back as often.
    EXPECT_GE(CountEvents(phone, "password removed"), 1u);
    EXPECT_EQ(CountEvents(phone, "password removed"), CountEvents(phone, "password set"));
    EXPECT_TRUE(phone.WillEncrypt()) << run.Output();
    EXPECT_EQ(EntriesUnder(workFolder), std::vector<std::string>{});
    if (!base.empty()) {
        EXPECT_EQ(EntriesUnder(base), std::vector<std::string>{});
    }
}

TEST_F(CliFaults, CtrlCDuringABackupRemovesItsFolderAndLeavesThePhoneAsItWas) {
    PhoneOptions options;
    options.backupPassword = "pw";
    options.mediaMb = 8;
    SimulatedPhone phone(options, {"rate=1"});
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        // A whole backup in a file transfer, and a category backup (work backup) before it.
        for (const char* kind : {"--full", "--sms"}) {
            SCOPED_TRACE(kind);
            CtlRun run({"backup", kind, "--folder", base_, "--password", "-"}, "pw\n");
            ASSERT_TRUE(run.WaitFor("Backing up: ")) << run.Output();
            std::this_thread::sleep_for(1500ms);
            run.Signal(sig);
            ExpectCleanInterrupt(run, phone, WorkDeviceFolder(phone), base_);
        }
    }
    // The phone is not left locked or half-way: the next backup runs to its end.
    phone.Restart();
    CtlRun again({"backup", "--sms", "--folder", base_, "--password", "-"}, "pw\n");
    EXPECT_EQ(again.Finish(), 0) << again.Output();
}

TEST_F(CliFaults, CtrlCDuringACategoryRestoreLeavesNoWorkFilesAndThePhoneUnchanged) {
    PhoneOptions options;
    options.backupPassword = "pw";
    options.mediaMb = 6;
    SimulatedPhone phone(options);
    CtlRun backup({"backup", "--folder", base_, "--password", "-"}, "pw\n");
    ASSERT_EQ(backup.Finish(), 0) << backup.Output();
    const std::string folder = base_ + "/" + EntriesUnder(base_).front();
    Scribble(phone, kSmsKey);
    const std::string changed = PhoneFile(phone, kSmsKey);

    phone.Restart({"rate=1"});
    // During the fresh backup, and during the restore itself.
    for (const char* phase : {"Backing up: ", "Restoring: "}) {
        SCOPED_TRACE(phase);
        CtlRun run({"restore", folder, "--sms", "--device-password", "-"}, "pw\n");
        ASSERT_TRUE(run.WaitFor(phase, 120s)) << run.Output();
        run.Signal(SIGINT);
        ExpectCleanInterrupt(run, phone, WorkDeviceFolder(phone), {});
        EXPECT_TRUE(PhoneFile(phone, kSmsKey) == changed);
    }
}

TEST_F(CliFaults, CtrlCDuringAnImportGivesThePhoneItsPasswordBack) {
    PhoneOptions options;
    options.backupPassword = "pw";
    options.mediaMb = 6;
    SimulatedPhone phone(options, {"rate=1"});
    const std::string sms = home_.Home() + "/sms.db";
    testenv::WriteFile(sms, PhoneFile(phone, kSmsKey));
    const std::string before = PhoneFile(phone, kSmsKey);
    CtlRun run({"import", "--sms", sms, "--password", "-"}, "pw\n");
    ASSERT_TRUE(run.WaitFor("Backing up: ")) << run.Output();
    run.Signal(SIGINT);
    ExpectCleanInterrupt(run, phone, WorkDeviceFolder(phone), {});
    EXPECT_TRUE(PhoneFile(phone, kSmsKey) == before);
}

TEST_F(CliFaults, CtrlCEndsTheWaitForASyncLockAnotherProgramKeeps) {
    SimulatedPhone phone(PhoneOptions{}, {"lock-held=forever"});
    CtlRun run({"backup", "--sms", "--folder", base_}, "");
    // The wait for the lock is 50 attempts 2 s apart; the interrupt must not sit it out.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (CountEvents(phone, "lock busy") == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_GT(CountEvents(phone, "lock busy"), 0u) << run.Output();
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Finish(60s), 130) << run.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(EntriesUnder(base_), std::vector<std::string>{});
    EXPECT_EQ(CountEvents(phone, "lock acquired"), 0u);
}

// --- two runs at once ------------------------------------------------------------------------

struct PhoneWithBackup {
    std::unique_ptr<SimulatedPhone> phone;
    std::string backup;    // an encrypted backup of the other program
    std::string password;  // its password
    std::string atBackup;  // the phone's message database when the backup was written
};

PhoneWithBackup MakePhone(const std::string& parent, uint32_t seed, int messages,
                          const std::string& password, std::vector<std::string> faults = {}) {
    PhoneOptions options;
    options.seed = seed;
    options.messages = messages;
    options.mediaMb = 2;
    PhoneWithBackup p;
    p.phone = std::make_unique<SimulatedPhone>(options, std::move(faults));
    p.password = password;
    p.backup = WriteOtherProgramsBackup(*p.phone, parent, password);
    p.atBackup = PhoneFile(*p.phone, kSmsKey);
    return p;
}

// Two listings of encrypted backups at once, each with its right password: each lists its own
// backup, and neither is told its password is wrong.
TEST_F(CliFaults, TwoEncryptedListingsAtOnceEachListTheirOwnBackup) {
    PhoneWithBackup a = MakePhone(home_.Home() + "/a", 1, 30, "first");
    PhoneWithBackup b = MakePhone(home_.Home() + "/b", 2, 12, "second");
    const std::vector<std::string> listA = {"messages", a.backup, "--itunes", "--password", "-"};
    const std::vector<std::string> listB = {"messages", b.backup, "--itunes", "--password", "-"};
    CtlRun aloneA(listA, "first\n");
    ASSERT_EQ(aloneA.Finish(), 0) << aloneA.Output();
    CtlRun aloneB(listB, "second\n");
    ASSERT_EQ(aloneB.Finish(), 0) << aloneB.Output();
    ASSERT_EQ(aloneA.Output().rfind("30 messages\n", 0), 0u) << aloneA.Output();
    ASSERT_EQ(aloneB.Output().rfind("12 messages\n", 0), 0u) << aloneB.Output();
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        CtlRun first(listA, "first\n");
        CtlRun second(listB, "second\n");
        EXPECT_EQ(first.Finish(), 0) << first.Output();
        EXPECT_EQ(second.Finish(), 0) << second.Output();
        // The wait message aside, each printed exactly what it prints alone.
        for (CtlRun* r : {&first, &second}) {
            std::string out = r->Output();
            const std::string wait = std::string(platform::kOperationWaitText) + "\n";
            if (const size_t at = out.find(wait); at != std::string::npos) {
                out.erase(at, wait.size());
            }
            EXPECT_EQ(out, (r == &first ? aloneA : aloneB).Output());
        }
    }
}

// Two category restores of encrypted backups onto two phones at once: each phone gets its own
// backup's messages, and the second run waits for the first with a message.
TEST_F(CliFaults, TwoCategoryRestoresOntoTwoPhonesAtOnceNeverCrossOver) {
    PhoneWithBackup a = MakePhone(home_.Home() + "/a", 1, 30, "first", {"rate=4"});
    PhoneWithBackup b = MakePhone(home_.Home() + "/b", 2, 12, "second", {"rate=4"});
    ASSERT_NE(a.atBackup, b.atBackup);
    Scribble(*a.phone, kSmsKey);
    Scribble(*b.phone, kSmsKey);

    CtlRun first({"restore", a.backup, "--itunes", "--sms", "--password", "-"}, "first\n",
                 a.phone->SocketPath());
    ASSERT_TRUE(first.WaitFor("Restoring ")) << first.Output();
    CtlRun second({"restore", b.backup, "--itunes", "--sms", "--password", "-"}, "second\n",
                  b.phone->SocketPath());
    EXPECT_EQ(first.Finish(), 0) << first.Output();
    EXPECT_EQ(second.Finish(), 0) << second.Output();
    EXPECT_TRUE(PhoneFile(*a.phone, kSmsKey) == a.atBackup);
    EXPECT_TRUE(PhoneFile(*b.phone, kSmsKey) == b.atBackup);
    EXPECT_NE(second.Output().find(platform::kOperationWaitText), std::string::npos)
        << second.Output();
}

// The window program takes the same lock as tolvanectl (the engine and the listings take it);
// a wait for it ends on Ctrl-C.
TEST_F(CliFaults, AnOperationWaitsForTheLockOfAnotherAndCtrlCEndsTheWait) {
    PhoneWithBackup a = MakePhone(home_.Home() + "/a", 1, 30, "first");
    const std::vector<std::string> list = {"messages", a.backup, "--itunes", "--password", "-"};
    {
        const platform::OperationLock held({}, {});
        ASSERT_TRUE(held.Held());
        CtlRun waiting(list, "first\n");
        ASSERT_TRUE(waiting.WaitFor(platform::kOperationWaitText, 30s)) << waiting.Output();
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(waiting.Running());  // still waiting, not going on regardless
        waiting.Signal(SIGINT);
        EXPECT_EQ(waiting.Finish(30s), 130) << waiting.Output();
        EXPECT_EQ(waiting.Output().find("30 messages"), std::string::npos);
    }
    CtlRun free(list, "first\n");
    EXPECT_EQ(free.Finish(), 0) << free.Output();
    EXPECT_EQ(free.Output().find(platform::kOperationWaitText), std::string::npos);
    EXPECT_EQ(free.Output().rfind("30 messages\n", 0), 0u) << free.Output();
}

}  // namespace
