// A window of the skin as a real GTK window under Xvfb: what the screen shows matches what the
// offscreen host paints (same size, same controls visible), and real input reaches the controls.
// Xvfb is started for the test when there is no display; without Xvfb the tests are skipped.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "UiLib/GtkHost.h"
#include "UiLib/OffscreenHost.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/WindowImplBase.h"
#include "skin/Skin.h"
#include "tests/uilib/PixelProbe.h"

extern char** environ;

namespace UiLib {
namespace {

using namespace std::chrono_literals;

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
                                  "1280x1024x24",  "-nolisten",     "tcp",     nullptr};
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

class SkinWindow : public WindowImplBase {
  public:
    explicit SkinWindow(std::string layout) : layout_(std::move(layout)) {}
    std::string GetSkinFile() override { return layout_; }
    std::string GetWindowClassName() const override { return "UIGuiTest"; }

  private:
    std::string layout_;
};

VirtualDisplay& Display() {
    static VirtualDisplay display;
    return display;
}

class Gui : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!Display().Start()) {
            return;
        }
        host_ = GtkHost::Create().release();
        tolvane::skin::RegisterSkin();
        CResourceArchive::UseResource(101, "ZIPRES");
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
            while (g_main_context_pending(nullptr)) {
                g_main_context_iteration(nullptr, FALSE);
            }
            std::this_thread::sleep_for(10ms);
        }
        return done();
    }
    static GtkHost* host_;
};

GtkHost* Gui::host_ = nullptr;

// Mean colour distance of a rectangle between two images (0..255).
double Difference(cairo_surface_t* a, cairo_surface_t* b, const Rect& rc) {
    double sum = 0;
    int n = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x) {
            const uint32_t pa = uilibtest::PixelAt(a, x, y);
            const uint32_t pb = uilibtest::PixelAt(b, x, y);
            for (int shift : {0, 8, 16}) {
                sum += std::abs(static_cast<int>((pa >> shift) & 0xFF) -
                                static_cast<int>((pb >> shift) & 0xFF));
            }
            n += 3;
        }
    }
    return n == 0 ? 0 : sum / n;
}

TEST_F(Gui, ScreenShowsWhatTheOffscreenHostPaints) {
    SkinWindow window("xml\\skin.xml");
    ASSERT_NE(window.Create(nullptr, "Tolvane", 40, 40, 0, 0), 0u);
    window.GetPaintManager().FindControl("BtnBackupPhone")->SetEnabled(true);  // vary the states
    window.ShowWindow(true);
    ASSERT_TRUE(Spin([&] { return GtkHost::HasBeenDrawn(window.GetNativeWindow()); }));
    Spin([] { return false; }, 300ms);  // let the first frames settle
    cairo_surface_t* screen = GtkHost::Screenshot(window.GetNativeWindow());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(screen), 900);
    EXPECT_EQ(cairo_image_surface_get_height(screen), 600);
    cairo_surface_t* painted = window.GetPaintManager().RenderToSurface();

    CPaintManagerUI& pm = window.GetPaintManager();
    int compared = 0;
    for (const char* name : {"LblProductName", "BtnMenu", "BtnBackupPhone", "BtnImport",
                             "BtnRestoreFromiTunes", "TabMain", "closebtn", "BtnBackHome"}) {
        CControlUI* c = pm.FindControl(name);
        ASSERT_NE(c, nullptr) << name;
        const Rect rc = c->GetPos();
        if (!c->IsVisible() || rc.IsEmpty()) {
            // A hidden control: its place on screen shows the caption, as painted offscreen.
            continue;
        }
        EXPECT_LT(Difference(screen, painted, rc), 3.0) << name;
        ++compared;
    }
    EXPECT_GE(compared, 6);
    EXPECT_LT(Difference(screen, painted, {0, 0, 900, 600}), 2.0);
    cairo_surface_destroy(painted);
    cairo_surface_destroy(screen);
}

TEST_F(Gui, GtkInputEventsReachTheControls) {
    SkinWindow popup("xml\\DecryptionWnd.xml");
    ASSERT_NE(popup.Create(nullptr, "", 100, 100, 500, 240), 0u);
    popup.ShowWindow(true);
    ASSERT_TRUE(Spin([&] { return GtkHost::HasBeenDrawn(popup.GetNativeWindow()); }));
    CPaintManagerUI& pm = popup.GetPaintManager();
    pm.UpdateLayout();
    auto centre = [&](const char* name) {
        const Rect rc = pm.FindControl(name)->GetPos();
        return Point{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    };
    // A click in the edit focuses it; typed keys go through the input method into it.
    GtkHost::SendClick(popup.GetNativeWindow(), centre("EditPassword"));
    for (guint key : {GDK_KEY_a, GDK_KEY_b, GDK_KEY_c, GDK_KEY_BackSpace}) {
        GtkHost::SendKey(popup.GetNativeWindow(), key);
    }
    Spin([] { return false; }, 100ms);
    EXPECT_EQ(pm.FindControl("EditPassword")->GetText(), L"ab");
    // A click on OK ends the modal run through the window's own handler.
    pm.FindControl("BtnOK")->Bind("click", CDelegate([&](TNotifyUI&) { popup.Close(IDOK); }));
    host_->Post([&] { GtkHost::SendClick(popup.GetNativeWindow(), centre("BtnOK")); });
    EXPECT_EQ(popup.ShowModal(), static_cast<UINT>(IDOK));
}

TEST_F(Gui, EscapeFromTheKeyboardClosesAPopupWithCancel) {
    SkinWindow popup("xml\\MessageBox_Question.xml");
    ASSERT_NE(popup.Create(nullptr, "", 100, 100, 500, 220), 0u);
    popup.SetCloseOnKey(VK_ESCAPE, IDCANCEL);  // as the message box asks
    popup.ShowWindow(true);
    ASSERT_TRUE(Spin([&] { return GtkHost::HasBeenDrawn(popup.GetNativeWindow()); }));
    host_->Post([&] { GtkHost::SendKey(popup.GetNativeWindow(), GDK_KEY_Return); });
    host_->Post([&] { GtkHost::SendKey(popup.GetNativeWindow(), GDK_KEY_Escape); });
    EXPECT_EQ(popup.ShowModal(), static_cast<UINT>(IDCANCEL));
}

}  // namespace
}  // namespace UiLib

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// The toolkit's own caches are suppressed by name (UiLib/Painter.cpp); matching them needs whole
// stacks, which the fast unwinder cuts short inside the toolkit's libraries.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
#endif
#endif
