// A window of the skin as a real GTK window under Xvfb: what the screen shows matches what the
// offscreen host paints (same size, same controls visible), and real input reaches the controls.
// Xvfb is started for the test when there is no display; without Xvfb the tests are skipped.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>

#include "UiLib/OffscreenHost.h"
#include "tests/uilib/GtkFixture.h"
#include "tests/uilib/PixelProbe.h"

namespace UiLib {
namespace {

using namespace std::chrono_literals;
using uilibtest::Gui;
using uilibtest::SkinWindow;

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
