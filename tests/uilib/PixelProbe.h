// Reading pixels of a rendered image in tests.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace uilibtest {

// The colour at x,y as AARRGGBB (unpremultiplied for opaque pixels, which is what tests probe).
inline uint32_t PixelAt(cairo_surface_t* s, int x, int y) {
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    return *reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride + x * 4);
}

}  // namespace uilibtest
