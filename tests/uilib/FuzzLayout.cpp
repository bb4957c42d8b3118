// libFuzzer target: the layout loader on arbitrary text, then a layout pass and a paint of the
// window built (its top left corner). Nothing may crash, hang or leak whatever the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ResourceArchive.h"
#include "skin/Skin.h"

namespace {
// The window is laid out at the size it asks for, as on screen, so that its pictures are drawn at
// their own size; only its top left corner is painted, as a window's redraw paints only what
// changed. The pixels filled are the drawing library's work, not the framework's.
constexpr int kCanvas = 160;
// Beyond this a size attribute is treated as absent.
constexpr int kLargestWindow = 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        // The skin's archive lets Include, style and picture references resolve.
        tolvane::skin::RegisterSkin();
        // The faults of a hostile layout go to standard output; libFuzzer reports on standard
        // error.
        std::freopen("/dev/null", "w", stdout);
        return UiLib::CResourceArchive::UseResource(101, "ZIPRES");
    }();
    (void)ready;
    UiLib::CPaintManagerUI pm;
    pm.AttachDialog(UiLib::CDialogBuilder().CreateFromText(
        std::string_view(reinterpret_cast<const char*>(data), size), &pm, "fuzz"));
    const UiLib::Size init = pm.GetInitSize();
    const UiLib::Size client{init.cx > 0 && init.cx <= kLargestWindow ? init.cx : 400,
                             init.cy > 0 && init.cy <= kLargestWindow ? init.cy : 300};
    pm.SetClientSize(client);
    // One canvas for the process, cleared before each paint as a window's is: a new surface per
    // input would cost more in fresh pages than the paint itself.
    static cairo_surface_t* const canvas =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kCanvas, kCanvas);
    cairo_t* cr = cairo_create(canvas);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    pm.Paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(canvas);
    // The log keeps every distinct fault for the life of the process; over a campaign of
    // millions of inputs that is memory without end, and every input that adds to it looks like
    // a leak to libFuzzer, which then scans the heap.
    UiLib::ClearReportedFaults();
    return 0;
}
