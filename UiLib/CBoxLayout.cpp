#include "UiLib/CBoxLayout.h"

#include <algorithm>

#include "UiLib/CControlUI.h"

namespace UiLib {
namespace {

bool InFlow(const CControlUI* c) {
    return c->IsVisible() && !c->IsFloat();
}

}  // namespace

int CBoxLayout::ArrangeVertical(const Rect& inner, const std::vector<CControlUI*>& items,
                                int childPadding, int scrollOffset) {
    const int availWidth = inner.Width();
    const int availHeight = inner.Height();

    // Pass 1: sum what the fixed-height children take (their height and vertical padding) and
    // count the children that share the rest. Paddings and the gaps between children are
    // always taken, fixed or not.
    int fixedTotal = 0;
    int autoCount = 0;
    int flowCount = 0;
    for (const CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        ++flowCount;
        const Rect pad = c->GetPadding();
        const Size want = c->EstimateSize({availWidth, availHeight});
        fixedTotal += pad.top + pad.bottom;
        if (want.cy > 0) {
            fixedTotal += want.cy;
        } else {
            ++autoCount;
        }
    }
    if (flowCount > 1) {
        fixedTotal += childPadding * (flowCount - 1);
    }

    // Pass 2: the height left over is shared evenly by the children without a height; the
    // last of them also gets the pixels the division leaves, so the stack ends flush.
    const int rest = std::max(availHeight - fixedTotal, 0);
    const int share = autoCount > 0 ? rest / autoCount : 0;
    const int remainder = autoCount > 0 ? rest - share * autoCount : 0;

    // Pass 3: place the children top-down. A child without a width spans the inner width less
    // its left and right padding; a fixed width is kept but never wider than the container.
    int y = inner.top - scrollOffset;
    int autoSeen = 0;
    for (CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        const Rect pad = c->GetPadding();
        const Size want = c->EstimateSize({availWidth, availHeight});
        int height = want.cy;
        if (height <= 0) {
            ++autoSeen;
            height = share + (autoSeen == autoCount ? remainder : 0);
        }
        int width = want.cx > 0 ? std::min(want.cx, availWidth - pad.left - pad.right)
                                : availWidth - pad.left - pad.right;
        width = std::max(width, 0);
        y += pad.top;
        const int x = inner.left + pad.left;
        c->SetPos({x, y, x + width, y + height});
        y += height + pad.bottom + childPadding;
    }
    int used = y - (inner.top - scrollOffset);
    if (flowCount > 0) {
        used -= childPadding;
    }
    return used;
}

int CBoxLayout::ArrangeHorizontal(const Rect& inner, const std::vector<CControlUI*>& items,
                                  int childPadding) {
    const int availWidth = inner.Width();
    const int availHeight = inner.Height();

    // Pass 1: fixed widths and horizontal paddings; count the children that share the rest.
    int fixedTotal = 0;
    int autoCount = 0;
    int flowCount = 0;
    for (const CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        ++flowCount;
        const Rect pad = c->GetPadding();
        const Size want = c->EstimateSize({availWidth, availHeight});
        fixedTotal += pad.left + pad.right;
        if (want.cx > 0) {
            fixedTotal += want.cx;
        } else {
            ++autoCount;
        }
    }
    if (flowCount > 1) {
        fixedTotal += childPadding * (flowCount - 1);
    }

    // Pass 2: share the width left over among the children without a width.
    const int rest = std::max(availWidth - fixedTotal, 0);
    const int share = autoCount > 0 ? rest / autoCount : 0;
    const int remainder = autoCount > 0 ? rest - share * autoCount : 0;

    // Pass 3: place left to right. A child without a height spans the inner height less its
    // top and bottom padding; a fixed height is kept (never taller than the container) and
    // starts at the top plus its padding.
    int x = inner.left;
    int autoSeen = 0;
    for (CControlUI* c : items) {
        if (!InFlow(c)) {
            continue;
        }
        const Rect pad = c->GetPadding();
        const Size want = c->EstimateSize({availWidth, availHeight});
        int width = want.cx;
        if (width <= 0) {
            ++autoSeen;
            width = share + (autoSeen == autoCount ? remainder : 0);
        }
        int height = want.cy > 0 ? std::min(want.cy, availHeight - pad.top - pad.bottom)
                                 : availHeight - pad.top - pad.bottom;
        height = std::max(height, 0);
        x += pad.left;
        const int y = inner.top + pad.top;
        c->SetPos({x, y, x + width, y + height});
        x += width + pad.right + childPadding;
    }
    int used = x - inner.left;
    if (flowCount > 0) {
        used -= childPadding;
    }
    return used;
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
