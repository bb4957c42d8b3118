// The layout arithmetic of the containers, apart from painting and events so that it can be
// checked without a display: stacking top-down, left-right, one page at a time, and floats.
#pragma once

#include <vector>

#include "UiLib/UiTypes.h"

namespace UiLib {

class CControlUI;

class CBoxLayout {
  public:
    // Stacks the visible, non-floating `items` top-down inside `inner` (already less the inset),
    // shifted up by `scrollOffset`. Returns the height the stack needs.
    static int ArrangeVertical(const Rect& inner, const std::vector<CControlUI*>& items,
                               int childPadding, int scrollOffset);
    // Stacks them left to right. Returns the width the row needs.
    static int ArrangeHorizontal(const Rect& inner, const std::vector<CControlUI*>& items,
                                 int childPadding);
    // Gives every non-floating item the whole inner rectangle less its padding (tab pages and
    // plain containers).
    static void ArrangeStacked(const Rect& inner, const std::vector<CControlUI*>& items);
    // Places every floating item at its pos rectangle relative to `parent`'s top-left corner.
    static void PlaceFloats(const Rect& parent, const std::vector<CControlUI*>& items);
};

}  // namespace UiLib
