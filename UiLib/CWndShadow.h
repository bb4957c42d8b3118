// A soft drop shadow around a window: a transparent window of its own that follows the window and
// is drawn with the shadow's size, offset, darkness and colour.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

#include "UiLib/UiTypes.h"

namespace UiLib {

class INativeWindow;
class WindowImplBase;

class CWndShadow {
  public:
    CWndShadow() = default;
    ~CWndShadow();
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Attaches the shadow to a created window. False when the host cannot draw transparent
    // windows (the window then simply has no shadow).
    bool Create(WindowImplBase* parent, const std::string& className);
    void SetSize(int size);
    void SetPosition(int x, int y);
    void SetDarkness(int darkness);  // 0..255
    void SetColor(int r, int g, int b);
    // Follows the parent's position and size.
    void Update();

    int GetSize() const { return size_; }
    // The shadow of a window of `window` size: an image larger by the size on every side, the
    // window's own area left clear.
    cairo_surface_t* Render(Size window) const;

  private:
    WindowImplBase* parent_ = nullptr;
    std::unique_ptr<INativeWindow> native_;
    int size_ = 4;
    int offsetX_ = 0;
    int offsetY_ = 0;
    int darkness_ = 120;
    Color color_ = 0xFF2D2D2D;
};

}  // namespace UiLib
