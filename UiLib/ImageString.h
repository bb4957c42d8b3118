// Image description strings: a bare file name, or items key='value' separated by blanks
// (file, res, restype, source, dest, corner, mask, fade, hole, xtiled, ytiled).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "UiLib/UiTypes.h"

namespace UiLib {

struct ImageDescription {
    std::string file;            // picture in the skin archive
    std::string res;             // picture resource instead of a file
    std::string restype;         // its resource type
    std::optional<Rect> source;  // part of the picture, in picture pixels
    std::optional<Rect> dest;    // where in the control, relative to its top-left corner
    Rect corner;                 // border widths kept unscaled (nine-slice)
    std::optional<Color> mask;   // colour drawn as transparent
    int fade = 255;              // opacity 0..255
    bool hole = false;           // leave out the middle part
    bool xtiled = false;
    bool ytiled = false;

    // What to look up: the file, else the resource name.
    const std::string& Picture() const { return file.empty() ? res : file; }
};

struct ParsedImage {
    ImageDescription image;
    // The first fault: a malformed item (parsing stopped there; `image` holds what was read
    // before it), or an unknown key or bad value (that item was skipped).
    std::string fault;
};

// Parses one image string. Blanks are skipped; a key runs up to "=", which must be followed by
// "'" and a value ending at the next "'"; a malformed item ends the parsing of the string.
ParsedImage ParseImageString(std::string_view text);

}  // namespace UiLib
