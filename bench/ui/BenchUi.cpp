// The application's user interface, measured:
//
//   first paint    from process start to the first painted main window: the window classes in
//                  the offscreen host (this program started again as a child), and the real
//                  program under Xvfb (the caption's colour read back from the X server);
//   responsiveness while a 1 GiB full backup runs from the backup tab (offscreen, in this
//                  process): the longest gap between two turns of the user interface loop, and
//                  how long the progress label takes to show a figure the engine reported;
//   memory         resident memory before and after that backup (this process), and of the
//                  real program once its window is up;
//   the viewer     on an own backup of 100,000 messages (offscreen, in this process): the
//                  restore tab's list with the counts computed on the user interface thread,
//                  the viewer's listing, its first page painted after the listing's end, the
//                  slowest scroll step (position set and window painted), and memory.
//
//   bench_ui [--media-mb N] [--runs N] [--viewer-messages N] [--viewer-only]
//
// Targets: first paint < 200 ms, gap < 50 ms, label < 100 ms, memory < 64 MiB; the viewer:
// counts < 300 ms, first page < 1000 ms, scroll step < 50 ms, memory < 200 MiB. A missed target
// makes the exit status 1.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UiLib/CLabelUI.h"
#include "UiLib/CListUI.h"
#include "UiLib/CTabLayoutUI.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/TDuiTimer.h"
#include "bench/common/DevsimPhone.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "tests/tools/RealSchemaDb.h"
#include "ui/CMainWnd.h"
#include "ui/CProWndBackup.h"
#include "ui/CViewWnd.h"
#include "ui/Startup.h"

// Last: Xlib's macros clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int64_t RealtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double MiB(const char* key, pid_t pid = 0) {
    const std::string path =
        pid > 0 ? "/proc/" + std::to_string(pid) + "/status" : "/proc/self/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return 0;
    }
    char line[256];
    long kib = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, key, n) == 0) {
            kib = std::atol(line + n + 1);
            break;
        }
    }
    std::fclose(f);
    return static_cast<double>(kib) / 1024.0;
}

pid_t Spawn(const std::vector<std::string>& argv, const char* output = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

void PrintRuns(const std::vector<double>& v) {
    std::printf("  runs:");
    for (double x : v) {
        std::printf(" %.1f", x);
    }
    std::printf(" ms\n");
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool failed = false;

void Figure(const char* what, double value, const char* unit, double limit) {
    const bool ok = value < limit;
    failed = failed || !ok;
    std::printf("  %-52s %8.1f %-4s (target < %.0f) %s\n", what, value, unit, limit,
                ok ? "ok" : "MISSED");
}

// A usbmux socket nobody answers on: the service check passes, no phone connects.
std::string DeadSocket(const std::string& dir) {
    const std::string path = dir + "/dead.sock";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("bind");
    }
    return path;  // the descriptor stays open for the life of the process
}

// --- first paint, offscreen: this program as a child ---------------------------------------

int ChildOffscreen() {
    UiLib::OffscreenHost host;
    tolvane::UseProgramSkin();
    auto* main = new tolvane::CMainWnd();
    main->SetQuitOnClose(false);
    main->Create(nullptr, "Tolvane", 0, 0, 0, 0);
    main->CenterWindow();
    main->ShowWindow(true);
    cairo_surface_t* image = host.Render(*main);
    const int64_t painted = RealtimeNs();
    cairo_surface_destroy(image);
    std::printf("%lld\n", static_cast<long long>(painted));
    std::fflush(stdout);
    std::_Exit(0);  // the figure is out; no shut-down to wait for
}

double FirstPaintOffscreen(const std::string& self, const std::string& dir) {
    const std::string out = dir + "/child.out";
    const int64_t start = RealtimeNs();
    const pid_t pid = Spawn({self, "--child-offscreen"}, out.c_str());
    int status = 0;
    waitpid(pid, &status, 0);
    FILE* f = std::fopen(out.c_str(), "r");
    long long painted = 0;
    if (f == nullptr || std::fscanf(f, "%lld", &painted) != 1) {
        std::fprintf(stderr, "the offscreen child printed nothing\n");
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    return static_cast<double>(painted - start) / 1e6;
}

// --- first paint, the real program under Xvfb -------------------------------------------------

Window FindTolvane(Display* d, Window w) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) != 0 && name != nullptr) {
        const bool match = std::strcmp(name, "Tolvane") == 0;
        XFree(name);
        if (match) {
            return w;
        }
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count && found == 0; ++i) {
            found = FindTolvane(d, children[i]);
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    return found;
}

// The caption of the main window (#FF495867) is on the screen.
bool CaptionPainted(Display* d, Window w) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, w, &a) == 0 || a.map_state != IsViewable || a.width < 500) {
        return false;
    }
    XImage* img = XGetImage(d, w, 400, 20, 1, 1, AllPlanes, ZPixmap);
    if (img == nullptr) {
        return false;
    }
    const unsigned long px = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return (px & 0xFFFFFF) == 0x495867;
}

struct GtkFigures {
    double firstPaintMs = -1;
    double rssMiB = 0;      // all resident pages, the shared libraries' too
    double privateMiB = 0;  // the process's own (anonymous and shared-memory) pages
};

GtkFigures FirstPaintGtk(Display* d) {
    GtkFigures f;
    const int64_t start = RealtimeNs();
    const pid_t pid = Spawn({TOLVANE_PROGRAM});
    const auto end = Clock::now() + 10s;
    Window w = 0;
    while (Clock::now() < end) {
        if (w == 0) {
            w = FindTolvane(d, DefaultRootWindow(d));
        }
        if (w != 0 && CaptionPainted(d, w)) {
            f.firstPaintMs = static_cast<double>(RealtimeNs() - start) / 1e6;
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(1500ms);  // settled, a connection check or two done
    f.rssMiB = MiB("VmRSS:", pid);
    f.privateMiB = MiB("RssAnon:", pid) + MiB("RssShmem:", pid);
    Stop(pid);
    return f;
}

// --- a 1 GiB backup from the window ------------------------------------------------------------

struct ProgressLog {
    std::mutex lock;
    std::vector<std::pair<int, Clock::time_point>> reported;  // first report of each figure
    std::vector<std::pair<int, Clock::time_point>> shown;     // first turn showing it
};
ProgressLog progressLog;

// The backup window with the engine's reports time-stamped on their way to the window.
class TimedBackupWnd : public tolvane::CProWndBackup {
  public:
    using CProWndBackup::CProWndBackup;

  protected:
    int32_t RunOperation(tolvane::BackupEngine& engine, bool encrypted) override {
        engine.SetProgressCallback(&Timed);
        return CProWndBackup::RunOperation(engine, encrypted);
    }

  private:
    static int32_t Timed(void* userData, int32_t n, int32_t isBackup) {
        {
            std::lock_guard lock(progressLog.lock);
            if (progressLog.reported.empty() || progressLog.reported.back().first != n) {
                progressLog.reported.emplace_back(n, Clock::now());
            }
        }
        return ProgressCallbackOf(userData, n, isBackup);
    }
};

}  // namespace

// The restore tab and the viewer on an own backup of `messages` messages.
void ViewerFigures(int messages) {
    std::printf("the viewer on an own backup of %d messages (offscreen)\n", messages);
    UiLib::DuiTimerCore::SetManualForTesting(true);
    UiLib::OffscreenHost host;
    host.SetModalTimeout(10min);
    tolvane::UseProgramSkin();
    auto main = std::make_unique<tolvane::CMainWnd>();
    main->SetQuitOnClose(false);
    main->SetDeleteOnClose(false);
    main->Create(nullptr, "Tolvane", 0, 0, 0, 0);
    main->ShowWindow(true);
    host.PumpMessages();
    while (!main->ConnectIdle()) {
        host.PumpFor(5ms);
    }
    const std::string backup =
        platform::PathToBytes(main->GetDefaultBackupRoot()) + "/2024-01-01-00-00-00";
    fs::create_directories(backup);
    bool made = testkit::CreateSmsDb(backup + "/sms");
    if (made) {
        testkit::Database db(backup + "/sms");
        made = testkit::FillSms(db, 200, messages);
    }
    {
        if (!made) {
            std::fprintf(stderr, "the message database could not be made\n");
            failed = true;
            return;
        }
    }
    if (FILE* f = std::fopen((backup + "/fileinfo").c_str(), "wb")) {
        std::fputs("4\r\n2024-01-01-00-00-00\r\nBench iPhone(iPhone 7.1.2)", f);
        std::fclose(f);
    }
    const double before = MiB("VmRSS:");
    auto t0 = Clock::now();
    main->GoRestore(tolvane::RestoreSource::OwnBackups);
    const double countsMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    UiLib::CControlUI* countLabel = main->GetPaintManager().FindControl("TxtSMSNum_Restore");
    std::printf("  counts shown: %s\n", platform::WideToUtf8(countLabel->GetText()).c_str());
    Figure("list built and counted on the user interface thread", countsMs, "ms", 300);

    Clock::time_point opened{}, listed{};
    double firstPageMs = -1;
    std::vector<double> scrollMs;
    double viewerRss = 0;
    size_t lines = 0;
    host.SetIdleHandler([&] {
        UiLib::WindowImplBase* top = UiLib::WindowImplBase::TopModal();
        auto* viewer = dynamic_cast<tolvane::CViewWnd*>(top);
        if (viewer == nullptr) {
            return false;
        }
        if (opened == Clock::time_point{}) {
            opened = Clock::now();
        }
        if (!viewer->WorkerDone()) {
            return false;
        }
        if (listed == Clock::time_point{}) {
            listed = Clock::now();
        }
        auto* tab =
            dynamic_cast<UiLib::CTabLayoutUI*>(viewer->GetPaintManager().FindControl("TabMain"));
        if (tab->GetCurSel() != 1) {
            return false;
        }
        // The first page: the window painted as the user sees it.
        cairo_surface_destroy(host.Render(*viewer));
        firstPageMs = std::chrono::duration<double, std::milli>(Clock::now() - listed).count();
        auto* list =
            dynamic_cast<UiLib::CListUI*>(viewer->GetPaintManager().FindControl("ViewList"));
        lines = viewer->Lines().size();
        // Scrolling: wheel steps at the top, then jumps through the whole list.
        const int range = list->GetScrollRange();
        for (int i = 0; i < 400; ++i) {
            const int pos = i < 200 ? i * 40 : static_cast<int>(int64_t(range) * (i - 200) / 199);
            const auto s0 = Clock::now();
            list->SetScrollPos(pos);
            cairo_surface_destroy(host.Render(*viewer));
            scrollMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - s0).count());
        }
        viewerRss = MiB("VmRSS:");
        host.Click(*viewer, "BtnOK");
        return true;
    });
    main->GetPaintManager().FindControl("BtnViewSMS_Restore")->SetEnabled(true);
    host.Click(*main, "BtnViewSMS_Restore");
    host.SetIdleHandler({});
    std::printf("  lines shown: %zu\n", lines);
    std::printf("  listing (worker, from open to the lines' end): %.1f ms\n",
                std::chrono::duration<double, std::milli>(listed - opened).count());
    Figure("first page painted after the listing's end", firstPageMs < 0 ? 1e9 : firstPageMs, "ms",
           1000);
    std::sort(scrollMs.begin(), scrollMs.end());
    if (scrollMs.empty()) {
        scrollMs.push_back(1e9);
    }
    Figure("scroll step, 95th percentile (position and paint)",
           scrollMs[scrollMs.size() * 95 / 100], "ms", 50);
    std::printf("  scroll steps: %zu, median %.1f ms, slowest %.1f ms\n", scrollMs.size(),
                scrollMs[scrollMs.size() / 2], scrollMs.back());
    Figure("resident memory with the viewer up", viewerRss, "MiB", 200);
    std::printf("  resident memory before the list was built: %.1f MiB\n", before);
    main.reset();
    UiLib::DuiTimerCore::SetManualForTesting(false);
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child-offscreen") == 0) {
        return ChildOffscreen();
    }
    int mediaMb = 1024;
    int runs = 5;
    int viewerMessages = 100000;
    bool viewerOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--viewer-only") == 0) {
            viewerOnly = true;
        }
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--viewer-only") == 0) {
            --i;
            continue;
        }
        if (std::strcmp(argv[i], "--viewer-messages") == 0) {
            viewerMessages = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--media-mb") == 0) {
            mediaMb = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const std::string self = fs::canonical("/proc/self/exe");
    const std::string dir =
        fs::temp_directory_path() / ("tolvane-bench-ui-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // The programs keep their settings and backups inside the bench's folder.
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + DeadSocket(dir)).c_str(), 1);

    std::printf("bench_ui\n");
    ViewerFigures(viewerMessages);
    if (viewerOnly) {
        fs::remove_all(dir);
        return failed ? 1 : 0;
    }
    // First paint, offscreen.
    std::vector<double> offscreen;
    for (int i = 0; i < runs; ++i) {
        offscreen.push_back(FirstPaintOffscreen(self, dir));
    }
    std::printf("first paint, offscreen host (process start to painted main window)\n");
    Figure("cold (first run)", offscreen.front(), "ms", 200);
    Figure("median of the runs", Median(offscreen), "ms", 200);
    PrintRuns(offscreen);

    // First paint, GTK under Xvfb.
    pid_t xvfb = -1;
    if (const char* d = std::getenv("DISPLAY"); d == nullptr || d[0] == '\0') {
        for (int n = 180 + getpid() % 40; n < 260; ++n) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                continue;
            }
            const std::string name = ":" + std::to_string(n);
            xvfb = Spawn({"/usr/bin/Xvfb", name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                          "-noreset"});
            for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i) {
                std::this_thread::sleep_for(50ms);
            }
            setenv("DISPLAY", name.c_str(), 1);
            break;
        }
    }
    if (Display* d = XOpenDisplay(nullptr)) {
        std::vector<double> gtk;
        double rss = 0;
        double own = 0;
        for (int i = 0; i < runs; ++i) {
            const GtkFigures g = FirstPaintGtk(d);
            gtk.push_back(g.firstPaintMs < 0 ? 1e9 : g.firstPaintMs);
            rss = std::max(rss, g.rssMiB);
            own = std::max(own, g.privateMiB);
        }
        XCloseDisplay(d);
        std::printf("first paint, the real program under Xvfb\n");
        Figure("cold (first run)", gtk.front(), "ms", 200);
        Figure("median of the runs", Median(gtk), "ms", 200);
        PrintRuns(gtk);
        // GTK's libraries are file pages shared with every GTK program; the application's own
        // memory is what it allocates.
        Figure("own memory with the window up (anon + shmem)", own, "MiB", 64);
        std::printf("  resident memory with the window up, shared libraries included: %.1f MiB\n",
                    rss);
    } else {
        std::printf("first paint under Xvfb: no display (Xvfb missing?)\n");
        failed = true;
    }
    Stop(xvfb);

    // A 1 GiB backup from the backup tab.
    {
        std::printf("a full backup of a %d MiB phone, started from the backup tab (offscreen)\n",
                    mediaMb);
        devsimclient::DevsimPhone phone(dir, dir + "/phone",
                                        {"--media-mb", std::to_string(mediaMb)});
        if (!phone.Ok()) {
            return 1;
        }
        UiLib::DuiTimerCore::SetManualForTesting(true);
        UiLib::OffscreenHost host;
        host.SetModalTimeout(30min);
        tolvane::UseProgramSkin();
        auto main = std::make_unique<tolvane::CMainWnd>();
        main->SetQuitOnClose(false);
        main->SetDeleteOnClose(false);
        main->Create(nullptr, "Tolvane", 0, 0, 0, 0);
        main->ShowWindow(true);
        host.PumpMessages();
        while (!main->ConnectIdle()) {
            host.PumpFor(5ms);
        }
        main->ConnectTimer().FireForTesting();
        host.PumpMessages();
        if (!main->Connected()) {
            std::fprintf(stderr, "the phone did not connect\n");
            return 1;
        }
        const double before = MiB("VmRSS:");

        Clock::time_point last = Clock::now();
        double longestGapMs = 0;
        bool running = false;
        host.SetIdleHandler([&] {
            const Clock::time_point now = Clock::now();
            UiLib::WindowImplBase* top = UiLib::WindowImplBase::TopModal();
            if (top != nullptr && top->GetWindowClassName() == "UIMessageBox") {
                host.Click(*top, "okbtn");
                return true;
            }
            if (top != nullptr && running) {
                longestGapMs = std::max(
                    longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
                if (UiLib::CControlUI* label = top->GetPaintManager().FindControl("LblPercent")) {
                    const int shown = std::atoi(platform::WideToUtf8(label->GetText()).c_str());
                    std::lock_guard lock(progressLog.lock);
                    if (progressLog.shown.empty() || progressLog.shown.back().first != shown) {
                        progressLog.shown.emplace_back(shown, now);
                    }
                }
            }
            running = top != nullptr;
            last = now;
            return false;
        });
        const auto start = Clock::now();
        uint32_t result = 0;
        {
            TimedBackupWnd window(*main, tolvane::Full, L"");
            result = tolvane::RunProgressWindow(*main, window, 500, 250, {L"done", L"failed"});
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        host.SetIdleHandler({});
        // How long each reported figure took to be shown (figures passed over count from
        // their own report to the first turn showing that or a higher one).
        double worstLagMs = 0;
        {
            std::lock_guard lock(progressLog.lock);
            for (const auto& [n, at] : progressLog.reported) {
                for (const auto& [s, seen] : progressLog.shown) {
                    if (s >= n && seen >= at) {
                        worstLagMs =
                            std::max(worstLagMs,
                                     std::chrono::duration<double, std::milli>(seen - at).count());
                        break;
                    }
                }
            }
        }
        std::printf("  result %u in %.1f s, %zu progress figures reported\n", result, seconds,
                    progressLog.reported.size());
        Figure("longest gap between two turns of the loop", longestGapMs, "ms", 50);
        Figure("progress label behind the engine's figure (worst)", worstLagMs, "ms", 100);
        Figure("resident memory before the backup", before, "MiB", 64);
        Figure("resident memory after the backup", MiB("VmRSS:"), "MiB", 64);
        Figure("peak resident memory", MiB("VmHWM:"), "MiB", 64);
        if (result != tolvane::kProgressDone) {
            failed = true;
        }
        main.reset();
        UiLib::DuiTimerCore::SetManualForTesting(false);
    }
    fs::remove_all(dir);
    return failed ? 1 : 0;
}
