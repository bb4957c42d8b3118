#include "UiLib/CWndShadow.h"

#include <algorithm>
#include <cmath>

#include "UiLib/Host.h"
#include "UiLib/WindowImplBase.h"

namespace UiLib {

CWndShadow::~CWndShadow() = default;

bool CWndShadow::Create(WindowImplBase* parent, const std::string& className) {
    IUiHost* host = IUiHost::Current();
    parent_ = parent;
    if (host == nullptr || parent == nullptr || parent->GetNativeWindow() == nullptr) {
        return false;
    }
    native_ = host->CreateShadowWindow(
        parent->GetNativeWindow(), className,
        [this](cairo_t* cr, Size size) {
            cairo_surface_t* s = Render({size.cx - 2 * size_, size.cy - 2 * size_});
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_set_source_surface(cr, s, 0, 0);
            cairo_paint(cr);
            cairo_surface_destroy(s);
        },
        [this] { Update(); });
    Update();
    return native_ != nullptr;
}

void CWndShadow::SetSize(int size) {
    size_ = std::clamp(size, 0, 40);
    Update();
}

void CWndShadow::SetPosition(int x, int y) {
    offsetX_ = std::clamp(x, -40, 40);
    offsetY_ = std::clamp(y, -40, 40);
    Update();
}

void CWndShadow::SetDarkness(int darkness) {
    darkness_ = std::clamp(darkness, 0, 255);
    Update();
}

void CWndShadow::SetColor(int r, int g, int b) {
    color_ = 0xFF000000u | (static_cast<Color>(std::clamp(r, 0, 255)) << 16) |
             (static_cast<Color>(std::clamp(g, 0, 255)) << 8) |
             static_cast<Color>(std::clamp(b, 0, 255));
    Update();
}

void CWndShadow::Update() {
    if (!native_ || parent_ == nullptr || parent_->GetNativeWindow() == nullptr) {
        return;
    }
    const Rect rc = parent_->GetWindowRect();
    native_->SetBounds({rc.left - size_ + offsetX_, rc.top - size_ + offsetY_,
                        rc.right + size_ + offsetX_, rc.bottom + size_ + offsetY_});
    native_->Show(parent_->GetNativeWindow()->IsShown());
    native_->Invalidate();
}

cairo_surface_t* CWndShadow::Render(Size window) const {
    const int w = std::max(window.cx, 0) + 2 * size_;
    const int h = std::max(window.cy, 0) + 2 * size_;
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(w, 1), std::max(h, 1));
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    // Opacity falls off with the distance from the window's edge, smoothly over `size_` pixels.
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            const int dx = std::max({size_ - x, x - (w - 1 - size_), 0});
            const int dy = std::max({size_ - y, y - (h - 1 - size_), 0});
            if (dx == 0 && dy == 0) {
                row[x] = 0;  // under the window itself
                continue;
            }
            const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            const double t = std::clamp(1.0 - d / (size_ + 1.0), 0.0, 1.0);
            const uint32_t a = static_cast<uint32_t>(darkness_ * t * t + 0.5);
            const uint32_t r = ((color_ >> 16) & 0xFF) * a / 255;
            const uint32_t g = ((color_ >> 8) & 0xFF) * a / 255;
            const uint32_t b = (color_ & 0xFF) * a / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

}  // namespace UiLib
