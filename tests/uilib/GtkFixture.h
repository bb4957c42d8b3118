// What the GTK tests share: an Xvfb of their own (when there is no display), the GTK host over
// it, a window of any layout of the skin, and a loop runner.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "UiLib/GtkHost.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"
#include "tests/support/TestEnv.h"

extern char** environ;

namespace uilibtest {

using namespace std::chrono_literals;

class SkinWindow : public UiLib::WindowImplBase {
  public:
    explicit SkinWindow(std::string layout) : layout_(std::move(layout)) {}
    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "UIGuiTest"; }

  private:
    std::string layout_;
};

// Xvfb on a free display number for the life of the test program.
class VirtualDisplay {
  public:
    bool Start() {
        if (const char* d = std::getenv("DISPLAY"); d != nullptr && d[0] != '\0') {
            return true;
        }
        if (!std::filesystem::exists("/usr/bin/Xvfb")) {
            return false;
        }
        for (int n = 90 + getpid() % 50; n < 200; ++n) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                continue;
            }
            const std::string display = ":" + std::to_string(n);
            const char* argv[] = {"/usr/bin/Xvfb", display.c_str(), "-screen", "0",
                                  "1280x1024x24",  "-nolisten",     "tcp",     "-noreset",
                                  nullptr};
            if (posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) !=
                0) {
                return false;
            }
            for (int i = 0; i < 100; ++i) {
                if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) {
                    setenv("DISPLAY", display.c_str(), 1);
                    std::this_thread::sleep_for(100ms);
                    return true;
                }
                std::this_thread::sleep_for(50ms);
            }
            Stop();
        }
        return false;
    }
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    ~VirtualDisplay() { Stop(); }

  private:
    pid_t pid_ = -1;
};

inline VirtualDisplay& Display() {
    static VirtualDisplay display;
    return display;
}

class Gui : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!Display().Start()) {
            return;
        }
        // The toolkit keeps settings and recently used files in the home folder: the tests'
        // go to a temporary one, and settings stay in memory.
        static testenv::IsolatedHome home;
        setenv("GSETTINGS_BACKEND", "memory", 1);
        host_ = UiLib::GtkHost::Create().release();
        tolvane::skin::RegisterSkin();
        UiLib::CResourceArchive::UseResource(101, "ZIPRES");
    }
    void SetUp() override {
        if (host_ == nullptr) {
            GTEST_SKIP() << "no X display and no Xvfb";
        }
    }
    // Runs the GTK loop until `done` or the time is up.
    static bool Spin(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done() && std::chrono::steady_clock::now() < end) {
            host_->Post([] {});
            host_->RunUntil([] { return true; });
            // Bounded as well: a window that keeps asking to be drawn (slow painting under the
            // sanitizers, an animation) keeps the context pending.
            while (g_main_context_pending(nullptr) && std::chrono::steady_clock::now() < end) {
                g_main_context_iteration(nullptr, FALSE);
            }
            std::this_thread::sleep_for(10ms);
        }
        return done();
    }
    static inline UiLib::GtkHost* host_ = nullptr;
};

// Where the GUI tests leave their screenshots: $TOLVANE_TEST_ARTIFACTS, else a folder under the
// temporary folder. Never committed.
inline std::filesystem::path ArtifactDir() {
    const char* env = std::getenv("TOLVANE_TEST_ARTIFACTS");
    std::filesystem::path dir =
        env != nullptr && env[0] != '\0'
            ? std::filesystem::path(env)
            : std::filesystem::temp_directory_path() / "tolvane-gui-artifacts";
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace uilibtest
