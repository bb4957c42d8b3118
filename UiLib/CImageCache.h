// Pictures of the skin, decoded once and shared by every window: PNG files as cairo surfaces
// (with a mask colour made transparent on request) and GIF files as frames with their delays.
// A missing or damaged picture is reported once and then drawn as nothing.
#pragma once

#include <cairo.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "UiLib/UiTypes.h"

namespace UiLib {

struct GifFrame {
    cairo_surface_t* surface = nullptr;  // owned by the cache
    int delayMs = 100;
};

class CImageCache {
  public:
    // The picture `file` of the current skin archive; null when it cannot be had. The surface is
    // owned by the cache and lives until the archive changes or Clear.
    // A `quiet` look-up does not report a missing picture (optional pictures such as "@2x").
    static cairo_surface_t* GetImage(const std::string& file, std::optional<Color> mask,
                                     bool quiet = false);
    // The frames of a GIF; empty when it cannot be had.
    static const std::vector<GifFrame>& GetGif(const std::string& file);
    static void Clear();

    // Decoders, exposed for tests: null / empty for bytes that are not a picture.
    static cairo_surface_t* DecodePng(const std::vector<uint8_t>& bytes);
    static std::vector<GifFrame> DecodeGif(const std::vector<uint8_t>& bytes);
};

}  // namespace UiLib
