// Plain geometry and colour types of the window framework.
#pragma once

#include <algorithm>
#include <cstdint>

namespace UiLib {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int cx = 0;
    int cy = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle with exclusive right and bottom edges; also used for margins (left, top, right,
// bottom widths), as the layout files write both the same way.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    // The rectangle shrunk by margins (never turned inside out).
    Rect Deflate(const Rect& m) const {
        Rect r{left + m.left, top + m.top, right - m.right, bottom - m.bottom};
        r.right = std::max(r.right, r.left);
        r.bottom = std::max(r.bottom, r.top);
        return r;
    }
    Rect Intersect(const Rect& o) const {
        Rect r{std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
               std::min(bottom, o.bottom)};
        if (r.right < r.left) {
            r.right = r.left;
        }
        if (r.bottom < r.top) {
            r.bottom = r.top;
        }
        return r;
    }
    bool operator==(const Rect&) const = default;
};

// AARRGGBB, as the layout files write colours. 0 means "not set" (fully transparent black).
using Color = uint32_t;

inline double ColorA(Color c) {
    return ((c >> 24) & 0xFF) / 255.0;
}
inline double ColorR(Color c) {
    return ((c >> 16) & 0xFF) / 255.0;
}
inline double ColorG(Color c) {
    return ((c >> 8) & 0xFF) / 255.0;
}
inline double ColorB(Color c) {
    return (c & 0xFF) / 255.0;
}

}  // namespace UiLib
