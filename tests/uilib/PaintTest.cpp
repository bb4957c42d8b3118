// Painting: borders over children, image strings (source, dest cut at the edges, nine-slice
// corners, hole, fade, mask) and text, checked on pixels of offscreen renders.
#include <gtest/gtest.h>

#include <memory>

#include "UiLib/CControlUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Painter.h"
#include "UiLib/ResourceArchive.h"
#include "skin/Skin.h"
#include "tests/uilib/PixelProbe.h"

namespace UiLib {
namespace {

using uilibtest::PixelAt;

struct Rendered {
    CPaintManagerUI pm;
    cairo_surface_t* surface = nullptr;
    ~Rendered() {
        if (surface != nullptr) {
            cairo_surface_destroy(surface);
        }
    }
};

void Render(Rendered& r, const char* xml, Size size) {
    CDialogBuilder builder;
    r.pm.AttachDialog(builder.CreateFromText(xml, &r.pm));
    r.pm.SetClientSize(size);
    r.surface = r.pm.RenderToSurface();
}

TEST(Paint, ContainerBorderIsDrawnOverFillingChildren) {
    Rendered r;
    Render(r,
           R"(<Window><VerticalLayout bordersize="1" bordercolor="#FFFF0000">
                <Control bkcolor="#FF00FF00" /></VerticalLayout></Window>)",
           {20, 10});
    EXPECT_EQ(PixelAt(r.surface, 0, 5), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 19, 5), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 10, 9), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.surface, 10, 5), 0xFF00FF00u);
}

}  // namespace
}  // namespace UiLib
