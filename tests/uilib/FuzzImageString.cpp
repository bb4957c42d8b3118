// libFuzzer target: the image description string parser, and drawing what it read into a small
// canvas (rectangles out of range, negative corners, huge fades must all be harmless).
#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "UiLib/ImageString.h"
#include "UiLib/Painter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    UiLib::ParsedImage parsed = UiLib::ParseImageString(text);
    if (parsed.image.fade < 0 || parsed.image.fade > 255) {
        __builtin_trap();  // the parser must keep fade within 0..255
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32);
    cairo_t* cr = cairo_create(s);
    UiLib::Painter painter(cr, nullptr);
    painter.DrawImage({2, 2, 30, 30}, std::string(text));
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return 0;
}
