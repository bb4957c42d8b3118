// The value forms of the layout files: numbers, sizes, rectangles, colours and booleans.
// Each parser returns nothing for a malformed value; the caller reports it and keeps its default.
#pragma once

#include <optional>
#include <string_view>

#include "UiLib/UiTypes.h"

namespace UiLib {

// A decimal number, optionally signed, with blanks around it allowed.
std::optional<int> ParseInt(std::string_view text);
// "width,height".
std::optional<Size> ParseSize(std::string_view text);
// "left,top,right,bottom".
std::optional<Rect> ParseRect(std::string_view text);
// Eight hexadecimal digits AARRGGBB with or without a leading "#"; six digits RRGGBB read as
// opaque.
std::optional<Color> ParseColor(std::string_view text);
// "true" or "false".
std::optional<bool> ParseBool(std::string_view text);

}  // namespace UiLib
