#include "UiLib/CBoxLayout.h"

#include <algorithm>

#include "UiLib/CControlUI.h"

namespace UiLib {
namespace {

bool InFlow(const CControlUI* c) {
    return c->IsVisible() && !c->IsFloat();
}

// The direction a box stacks along ("main") and the one across it.
struct Axis {
    bool vertical;

    int Main(const Size& s) const { return vertical ? s.cy : s.cx; }
    int Cross(const Size& s) const { return vertical ? s.cx : s.cy; }
    int MainStart(const Rect& r) const { return vertical ? r.top : r.left; }
    int CrossStart(const Rect& r) const { return vertical ? r.left : r.top; }
    int MainLength(const Rect& r) const { return vertical ? r.Height() : r.Width(); }
    int CrossLength(const Rect& r) const { return vertical ? r.Width() : r.Height(); }
    // Padding before and after a child along the main axis, and both sides across it.
    int PadBefore(const Rect& pad) const { return vertical ? pad.top : pad.left; }
    int PadAfter(const Rect& pad) const { return vertical ? pad.bottom : pad.right; }
    int PadCrossBefore(const Rect& pad) const { return vertical ? pad.left : pad.top; }
    int PadCrossAfter(const Rect& pad) const { return vertical ? pad.right : pad.bottom; }
    Rect Place(int main, int cross, int mainLength, int crossLength) const {
        return vertical ? Rect{cross, main, cross + crossLength, main + mainLength}
                        : Rect{main, cross, main + mainLength, cross + crossLength};
    }
};

// Stacks the in-flow children along `axis`, starting `offset` before the inner edge; returns
// the length the stack needs.
int ArrangeAlong(const Axis& axis, const Rect& inner, const std::vector<CControlUI*>& items,
                 int childPadding, int offset) {
    const Size avail{inner.Width(), inner.Height()};
    const int availMain = axis.MainLength(inner);
    const int availCross = axis.CrossLength(inner);

    // Pass 1: sum what the children with a fixed length take (their length and padding along
    // the axis) and count the children that share the rest. Paddings and the gaps between
    // children are always taken, fixed or not.
    int fixedTotal = 0;
    int autoCount = 0;
    int flowCount = 0;
    for (const CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        ++flowCount;
        const Rect pad = c->GetPadding();
        const int want = axis.Main(c->EstimateSize(avail));
        fixedTotal += axis.PadBefore(pad) + axis.PadAfter(pad);
        if (want > 0) {
            fixedTotal += want;
        } else {
            ++autoCount;
        }
    }
    if (flowCount > 1) {
        fixedTotal += childPadding * (flowCount - 1);
    }

    // Pass 2: the length left over is shared evenly by the children without one; the last of
    // them also gets the pixels the division leaves, so the stack ends flush.
    const int rest = std::max(availMain - fixedTotal, 0);
    const int share = autoCount > 0 ? rest / autoCount : 0;
    const int remainder = autoCount > 0 ? rest - share * autoCount : 0;

    // Pass 3: place the children in order. Across the axis a child without a size spans the
    // inner rectangle less its padding on both sides; a fixed size is kept but never larger
    // than that room, and starts after the padding before it.
    const int origin = axis.MainStart(inner) - offset;
    int pos = origin;
    int autoSeen = 0;
    for (CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        const Rect pad = c->GetPadding();
        const Size want = c->EstimateSize(avail);
        int length = axis.Main(want);
        if (length <= 0) {
            ++autoSeen;
            length = share + (autoSeen == autoCount ? remainder : 0);
        }
        const int room = availCross - axis.PadCrossBefore(pad) - axis.PadCrossAfter(pad);
        const int across =
            std::max(axis.Cross(want) > 0 ? std::min(axis.Cross(want), room) : room, 0);
        pos += axis.PadBefore(pad);
        c->SetPos(
            axis.Place(pos, axis.CrossStart(inner) + axis.PadCrossBefore(pad), length, across));
        pos += length + axis.PadAfter(pad) + childPadding;
    }
    int used = pos - origin;
    if (flowCount > 0) {
        used -= childPadding;
    }
    return used;
}

}  // namespace

int CBoxLayout::ArrangeVertical(const Rect& inner, const std::vector<CControlUI*>& items,
                                int childPadding, int scrollOffset) {
    return ArrangeAlong(Axis{true}, inner, items, childPadding, scrollOffset);
}

int CBoxLayout::ArrangeHorizontal(const Rect& inner, const std::vector<CControlUI*>& items,
                                  int childPadding) {
    return ArrangeAlong(Axis{false}, inner, items, childPadding, 0);
}

void CBoxLayout::ArrangeStacked(const Rect& inner, const std::vector<CControlUI*>& items) {
    for (CControlUI* c : items) {
        if (c->IsFloat()) {
            continue;
        }
        // Hidden pages are placed too (their own children are laid out once shown).
        c->SetPos(inner.Deflate(c->GetPadding()));
    }
}

void CBoxLayout::PlaceFloats(const Rect& parent, const std::vector<CControlUI*>& items) {
    for (CControlUI* c : items) {
        if (!c->IsFloat()) {
            continue;
        }
        const Rect pos = c->GetFloatPos();
        Rect rc{parent.left + pos.left, parent.top + pos.top, parent.left + pos.right,
                parent.top + pos.bottom};
        // "pos" may give only the corner; the size then comes from width and height.
        const Size fixed = c->EstimateSize({parent.Width(), parent.Height()});
        if (pos.right <= pos.left && fixed.cx > 0) {
            rc.right = rc.left + fixed.cx;
        }
        if (pos.bottom <= pos.top && fixed.cy > 0) {
            rc.bottom = rc.top + fixed.cy;
        }
        c->SetPos(rc);
    }
}

}  // namespace UiLib
