// What the walks of the real program under Xvfb share: a child process with its output in a
// file, waiting with a limit, and a fixture with an Xvfb of its own, screenshots kept as PNGs in
// $TOLVANE_TEST_ARTIFACTS/<folder> (default $TMPDIR/tolvane-gui-artifacts/<folder>) and xdotool
// to click into the main window. Only the walks (Gtk*Test.cpp, linked with X11) include it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

// Last: Xlib defines macros (None, Status) that gtest's own headers use as names.
#include <X11/Xlib.h>
#include <cairo-xlib.h>

extern char** environ;

namespace uitest {

namespace walk_fs = std::filesystem;
using namespace std::chrono_literals;

// A child process with its output in a file.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::string& logPath) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !exit_) {
            kill(pid_, SIGTERM);  // lets Xvfb remove its lock file
            if (!WaitExit(3s)) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
    }
    bool Started() const { return pid_ > 0; }
    void Signal(int sig) { kill(pid_, sig); }
    // The exit code once it has ended within `timeout`; nothing while it runs.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!exit_ && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        return exit_;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> exit_;
};

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

inline std::string ReadText(const std::string& path) {
    return walk_fs::exists(path) ? testenv::ReadFile(path) : std::string();
}

// Xvfb of its own, the program's screen in PNGs, xdotool to click and type.
class GtkWalkFixture : public ::testing::Test {
  protected:
    // The folder under the artifacts that keeps this walk's screens.
    virtual std::string ArtifactFolder() const = 0;

    void SetUp() override {
        if (access("/usr/bin/Xvfb", X_OK) != 0 || access("/usr/bin/xdotool", X_OK) != 0) {
            GTEST_SKIP() << "needs Xvfb and xdotool";
        }
        for (int n = 120 + getpid() % 60; n < 250 && !display_; ++n) {
            if (walk_fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                walk_fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                continue;
            }
            const std::string name = ":" + std::to_string(n);
            // -noreset: a server that resets when its last client leaves refuses the clients that
            // connect during the reset, and the walk's xdotool calls come and go all the time.
            xvfb_ = std::make_unique<Child>(
                std::vector<std::string>{"/usr/bin/Xvfb", name, "-screen", "0", "1280x1024x24",
                                         "-nolisten", "tcp", "-noreset"},
                dir_ / "xvfb.log");
            // The socket appears before the server answers: wait for a connection to succeed.
            if (WaitFor(
                    [&] {
                        Display* d = walk_fs::exists("/tmp/.X11-unix/X" + std::to_string(n))
                                         ? XOpenDisplay(name.c_str())
                                         : nullptr;
                        if (d != nullptr) {
                            XCloseDisplay(d);
                        }
                        return d != nullptr;
                    },
                    5s)) {
                display_ = name;
            }
        }
        ASSERT_TRUE(display_) << "no Xvfb";
        displayEnv_ = std::make_unique<testenv::ScopedEnv>("DISPLAY", *display_);
        // The bare Xvfb has no accessibility bus; the toolkit's bridge to it would only add a
        // D-Bus connection whose buffers the leak checker reports at exit.
        noBridgeEnv_ = std::make_unique<testenv::ScopedEnv>("NO_AT_BRIDGE", "1");
        const char* artifacts = std::getenv("TOLVANE_TEST_ARTIFACTS");
        const char* tmp = std::getenv("TMPDIR");
        artifacts_ = artifacts != nullptr ? std::string(artifacts) + "/" + ArtifactFolder()
                                          : std::string(tmp != nullptr ? tmp : "/tmp") +
                                                "/tolvane-gui-artifacts/" + ArtifactFolder();
        walk_fs::create_directories(artifacts_);
    }

    // The whole screen into artifacts/<name>.png.
    void Shot(const std::string& name) {
        Display* d = XOpenDisplay(display_->c_str());
        ASSERT_NE(d, nullptr);
        const int s = DefaultScreen(d);
        const Window root = RootWindow(d, s);
        XWindowAttributes a;
        XGetWindowAttributes(d, root, &a);
        cairo_surface_t* src =
            cairo_xlib_surface_create(d, root, DefaultVisual(d, s), a.width, a.height);
        cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, a.width, a.height);
        cairo_t* cr = cairo_create(img);
        cairo_set_source_surface(cr, src, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        const std::string path = artifacts_ + "/" + name + ".png";
        EXPECT_EQ(cairo_surface_write_to_png(img, path.c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(img);
        cairo_surface_destroy(src);
        XCloseDisplay(d);
    }

    static std::string Xdo(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        return testenv::RunProgram(argv, {}, 5000).output;
    }

    // The top-left corner of the main window on the screen.
    bool FindMainWindow(int& x, int& y) {
        const std::string ids = Xdo({"search", "--onlyvisible", "--name", "^Tolvane$"});
        const std::string id = ids.substr(0, ids.find('\n'));
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const std::string geo = Xdo({"getwindowgeometry", "--shell", id});
        const auto value = [&](const std::string& key) {
            const size_t at = geo.find(key + "=");
            return at == std::string::npos ? -1 : std::atoi(geo.c_str() + at + key.size() + 1);
        };
        x = value("X");
        y = value("Y");
        return x >= 0 && y >= 0;
    }

    // The id of the first visible window whose name matches `pattern`; empty when none.
    static std::string VisibleWindow(const std::string& pattern) {
        const std::string ids = Xdo({"search", "--onlyvisible", "--name", pattern});
        const std::string id = ids.substr(0, ids.find('\n'));
        return id.empty() || id.find_first_not_of("0123456789") != std::string::npos ? std::string()
                                                                                     : id;
    }

    // Answers the open-file dialog "Open" with `path`: its location field (Ctrl+L), the path,
    // Enter. False when no dialog came up or it did not close.
    bool PickInOpenDialog(const std::string& path) {
        std::string id;
        if (!WaitFor([&] { return !(id = VisibleWindow("^Open$")).empty(); }, 10s)) {
            return false;
        }
        std::this_thread::sleep_for(300ms);
        Xdo({"windowfocus", "--sync", id});
        Xdo({"key", "ctrl+l"});
        std::this_thread::sleep_for(200ms);
        Xdo({"type", "--delay", "15", path});
        std::this_thread::sleep_for(300ms);
        Xdo({"key", "Return"});
        return WaitFor([] { return VisibleWindow("^Open$").empty(); }, 10s);
    }

    // A click at a point of the main window (layout coordinates).
    void ClickAt(int wx, int wy) {
        Xdo({"mousemove", std::to_string(x_ + wx), std::to_string(y_ + wy)});
        std::this_thread::sleep_for(150ms);
        Xdo({"click", "1"});
        std::this_thread::sleep_for(300ms);
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"tolvane-walk"};
    std::unique_ptr<Child> xvfb_;
    std::optional<std::string> display_;
    std::unique_ptr<testenv::ScopedEnv> displayEnv_;
    std::unique_ptr<testenv::ScopedEnv> noBridgeEnv_;
    std::string artifacts_;
    int x_ = 0, y_ = 0;
};

}  // namespace uitest
