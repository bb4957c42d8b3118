#include "UiLib/CButtonGifUI.h"

#include <string_view>

#include "UiLib/CImageCache.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"

namespace UiLib {

bool CButtonGifUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "normalgiffile") {
        gifFile_ = value;
        frame_ = 0;
        return true;
    }
    return CButtonUI::SetAttribute(name, value);
}

int CButtonGifUI::GetFrameCount() const {
    UiGuard guard;
    return gifFile_.empty() ? 0 : static_cast<int>(CImageCache::GetGif(gifFile_).size());
}

int CButtonGifUI::GetCurrentFrame() const {
    UiGuard guard;
    return frame_;
}

void CButtonGifUI::StartTimer() {
    if (manager_ == nullptr || gifFile_.empty() || !IsVisible()) {
        return;
    }
    const auto& frames = CImageCache::GetGif(gifFile_);
    if (frames.size() < 2) {
        return;
    }
    const int index = frame_ % static_cast<int>(frames.size());
    timerRunning_ =
        manager_->SetTimer(this, kFrameTimerId, static_cast<UINT>(frames[index].delayMs));
}

void CButtonGifUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    if (event.type == UiEvent::Timer && event.wParam == kFrameTimerId) {
        const auto& frames = CImageCache::GetGif(gifFile_);
        if (!frames.empty()) {
            frame_ = (frame_ + 1) % static_cast<int>(frames.size());
        }
        Invalidate();
        // The next frame may have another delay.
        StartTimer();
        return;
    }
    CButtonUI::DoEvent(event);
}

void CButtonGifUI::SetVisible(bool visible) {
    UiGuard guard;
    CButtonUI::SetVisible(visible);
    if (!visible && manager_ != nullptr) {
        manager_->KillTimer(this, kFrameTimerId);
        timerRunning_ = false;
    }
}

void CButtonGifUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    UiGuard guard;
    if (manager != manager_) {
        timerRunning_ = false;  // the old manager dropped the timer
    }
    CButtonUI::SetManager(manager, parent);
}

void CButtonGifUI::PaintStatusImage(Painter& painter) {
    CButtonUI::PaintStatusImage(painter);
    if (gifFile_.empty()) {
        return;
    }
    const auto& frames = CImageCache::GetGif(gifFile_);
    if (frames.empty()) {
        return;
    }
    cairo_surface_t* s = frames[frame_ % static_cast<int>(frames.size())].surface;
    const int w = cairo_image_surface_get_width(s);
    const int h = cairo_image_surface_get_height(s);
    // Centred at its own size; shrunk only when the control is smaller.
    const int dw = std::min(w, rcItem_.Width());
    const int dh = std::min(h, rcItem_.Height());
    const int x = rcItem_.left + (rcItem_.Width() - dw) / 2;
    const int y = rcItem_.top + (rcItem_.Height() - dh) / 2;
    painter.DrawSurface(s, {x, y, x + dw, y + dh});
    // Painting happens on the user interface thread, where timers may be set.
    if (!timerRunning_) {
        StartTimer();
    }
}

}  // namespace UiLib
