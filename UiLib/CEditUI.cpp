#include "UiLib/CEditUI.h"

#include <algorithm>
#include <string_view>

#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Host.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"
#include "platform/Strings.h"

namespace UiLib {

namespace {
constexpr wchar_t kPasswordChar = L'\u25CF';
constexpr Color kSelectionColor = 0x553D8BD9;
}  // namespace

CEditUI::CEditUI() {
    textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
}

bool CEditUI::IsFocusable() const {
    UiGuard guard;
    return enabled_ && IsVisible();
}

void CEditUI::SetText(const std::wstring& text) {
    UiGuard guard;
    text_ = text;
    caret_ = selStart_ = static_cast<int>(text_.size());
    Invalidate();
}

std::wstring CEditUI::GetTipValue() const {
    UiGuard guard;
    return tipValue_;
}

void CEditUI::SetTipValue(const std::wstring& tip) {
    UiGuard guard;
    tipValue_ = tip;
    Invalidate();
}

bool CEditUI::IsPasswordMode() const {
    UiGuard guard;
    return password_;
}

void CEditUI::SetPasswordMode(bool password) {
    UiGuard guard;
    password_ = password;
    Invalidate();
}

int CEditUI::GetMaxChar() const {
    UiGuard guard;
    return maxChar_;
}

void CEditUI::SetMaxChar(int maxChar) {
    UiGuard guard;
    maxChar_ = std::max(maxChar, 0);
}

bool CEditUI::IsReadOnly() const {
    UiGuard guard;
    return readOnly_;
}

void CEditUI::SetReadOnly(bool readOnly) {
    UiGuard guard;
    readOnly_ = readOnly;
}

int CEditUI::GetCaret() const {
    UiGuard guard;
    return caret_;
}

void CEditUI::SetSel(int start, int end) {
    UiGuard guard;
    const int n = static_cast<int>(text_.size());
    if (start < 0) {
        start = 0;
        end = n;  // -1 selects everything
    }
    selStart_ = std::clamp(start, 0, n);
    caret_ = std::clamp(end < 0 ? n : end, 0, n);
    Invalidate();
}

std::wstring CEditUI::DisplayText() const {
    return password_ ? std::wstring(text_.size(), kPasswordChar) : text_;
}

void CEditUI::DeleteSelection() {
    const int a = std::min(selStart_, caret_);
    const int b = std::max(selStart_, caret_);
    text_.erase(static_cast<size_t>(a), static_cast<size_t>(b - a));
    caret_ = selStart_ = a;
}

void CEditUI::InsertText(const std::wstring& text) {
    UiGuard guard;
    if (readOnly_) {
        return;
    }
    std::wstring clean;
    for (wchar_t c : text) {
        if (c >= 0x20 && c != 0x7F) {  // one line: control characters and line breaks are dropped
            clean.push_back(c);
        }
    }
    const std::wstring before = text_;
    if (HasSelection()) {
        DeleteSelection();
    }
    const int room = std::max(maxChar_ - static_cast<int>(text_.size()), 0);
    if (static_cast<int>(clean.size()) > room) {
        clean.resize(static_cast<size_t>(room));
    }
    text_.insert(static_cast<size_t>(caret_), clean);
    caret_ += static_cast<int>(clean.size());
    selStart_ = caret_;
    Invalidate();
    if (text_ != before) {
        SendNotify("textchanged");
    }
}

void CEditUI::MoveCaret(int pos, bool extend) {
    caret_ = std::clamp(pos, 0, static_cast<int>(text_.size()));
    if (!extend) {
        selStart_ = caret_;
    }
    Invalidate();
}

int CEditUI::GetScrollOffset() const {
    UiGuard guard;
    return scrollX_;
}

Rect CEditUI::TextRect() const {
    return rcItem_.Deflate(textPadding_);
}

int CEditUI::IndexAtPoint(Point pt) const {
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    Painter painter(cr, manager_);
    const std::wstring shown = DisplayText();
    const int x = pt.x - TextRect().left + scrollX_;
    int best = 0;
    // Widths of prefixes grow with the index: take the boundary nearest to the point.
    int prev = 0;
    for (int i = 1; i <= static_cast<int>(shown.size()); ++i) {
        const int w = painter.MeasureText(shown.substr(0, i), font_, 0, DT_SINGLELINE).cx;
        if (x < (prev + w) / 2) {
            break;
        }
        best = i;
        prev = w;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return best;
}

void CEditUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    if (!enabled_) {
        CControlUI::DoEvent(event);
        return;
    }
    IUiHost* host = IUiHost::Current();
    switch (event.type) {
        case UiEvent::ButtonDown:
            MoveCaret(IndexAtPoint(event.ptMouse), (event.modifiers & kModShift) != 0);
            break;
        case UiEvent::DblClick:
            SetSel(0, -1);
            break;
        case UiEvent::Char:
            InsertText(platform::AnsiToWide(event.text));
            break;
        case UiEvent::KeyDown: {
            const bool shift = (event.modifiers & kModShift) != 0;
            const bool ctrl = (event.modifiers & kModControl) != 0;
            const std::wstring before = text_;
            switch (event.wParam) {
                case VK_LEFT:
                    MoveCaret(!shift && HasSelection() ? std::min(caret_, selStart_) : caret_ - 1,
                              shift);
                    break;
                case VK_RIGHT:
                    MoveCaret(!shift && HasSelection() ? std::max(caret_, selStart_) : caret_ + 1,
                              shift);
                    break;
                case VK_HOME:
                    MoveCaret(0, shift);
                    break;
                case VK_END:
                    MoveCaret(static_cast<int>(text_.size()), shift);
                    break;
                case VK_BACK:
                    if (readOnly_) {
                        break;
                    }
                    if (!HasSelection() && caret_ > 0) {
                        selStart_ = caret_ - 1;
                    }
                    DeleteSelection();
                    break;
                case VK_DELETE:
                    if (readOnly_) {
                        break;
                    }
                    if (!HasSelection() && caret_ < static_cast<int>(text_.size())) {
                        selStart_ = caret_ + 1;
                    }
                    DeleteSelection();
                    break;
                case VK_RETURN:
                    SendNotify("return");
                    break;
                default:
                    if (ctrl && (event.wParam == 'A' || event.wParam == 'a')) {
                        SetSel(0, -1);
                    } else if (ctrl && (event.wParam == 'C' || event.wParam == 'X' ||
                                        event.wParam == 'c' || event.wParam == 'x')) {
                        // A password never leaves the edit.
                        if (!password_ && HasSelection() && host != nullptr) {
                            const int a = std::min(selStart_, caret_);
                            const int b = std::max(selStart_, caret_);
                            host->SetClipboardText(text_.substr(a, b - a));
                            if ((event.wParam == 'X' || event.wParam == 'x') && !readOnly_) {
                                DeleteSelection();
                            }
                        }
                    } else if (ctrl && (event.wParam == 'V' || event.wParam == 'v')) {
                        if (host != nullptr) {
                            InsertText(host->GetClipboardText());
                        }
                    }
                    break;
            }
            Invalidate();
            if (text_ != before) {
                SendNotify("textchanged");
            }
            break;
        }
        case UiEvent::SetFocus:
        case UiEvent::KillFocus:
            CControlUI::DoEvent(event);
            if (manager_ != nullptr && event.type == UiEvent::SetFocus) {
                // Let the input method place its window at the caret.
                if (INativeWindow* w = manager_->GetNativeWindow()) {
                    w->SetTextCursor(TextRect());
                }
            }
            break;
        default:
            CControlUI::DoEvent(event);
            break;
    }
}

bool CEditUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "tipvalue") {
        tipValue_ = platform::AnsiToWide(value);
    } else if (key == "tipvaluecolor") {
        if (auto c = ParseColor(value)) {
            tipValueColor_ = *c;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "password" || key == "readonly") {
        auto b = ParseBool(value);
        if (!b) {
            ReportBadValue(name, value);
        } else if (key == "password") {
            password_ = *b;
        } else {
            readOnly_ = *b;
        }
    } else if (key == "maxchar") {
        auto v = ParseInt(value);
        if (v && *v >= 0) {
            maxChar_ = *v;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "normalimage") {
        normalImage_ = value;
    } else if (key == "hotimage") {
        hotImage_ = value;
    } else if (key == "focusedimage") {
        focusedImage_ = value;
    } else if (key == "disabledimage") {
        disabledImage_ = value;
    } else if (key == "nativebkcolor") {
        if (auto c = ParseColor(value)) {
            nativeBkColor_ = *c;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "trans") {
        // The edit is always drawn by the framework over its parent's background.
        if (!ParseBool(value)) {
            ReportBadValue(name, value);
        }
    } else if (key == "text") {
        CLabelUI::SetAttribute(name, value);
        caret_ = selStart_ = static_cast<int>(text_.size());
    } else {
        return CLabelUI::SetAttribute(name, value);
    }
    return true;
}

void CEditUI::PaintStatusImage(Painter& painter) {
    if (nativeBkColor_ != 0) {
        painter.FillRect(rcItem_, nativeBkColor_);
    }
    const std::string* image = &normalImage_;
    if (!enabled_ && !disabledImage_.empty()) {
        image = &disabledImage_;
    } else if (focused_ && !focusedImage_.empty()) {
        image = &focusedImage_;
    } else if ((buttonState_ & UISTATE_HOT) != 0 && !hotImage_.empty()) {
        image = &hotImage_;
    }
    if (!image->empty()) {
        painter.DrawImage(rcItem_, *image);
    }
}

void CEditUI::PaintText(Painter& painter) {
    const Rect rc = TextRect();
    const std::wstring shown = DisplayText();
    const auto widthOf = [&](int chars) {
        return chars <= 0 ? 0
                          : painter
                                .MeasureText(shown.substr(0, static_cast<size_t>(chars)), font_, 0,
                                             DT_SINGLELINE)
                                .cx;
    };
    const int caretX = widthOf(caret_);
    const int total = widthOf(static_cast<int>(shown.size()));
    // The caret stays in view with the least movement, and a text longer than the edit never
    // leaves empty room after its end. One pixel is kept for the caret itself.
    const int room = std::max(1, rc.Width() - 1);
    if (total <= room) {
        scrollX_ = 0;
    } else {
        scrollX_ = std::clamp(scrollX_, caretX - room, caretX);
        scrollX_ = std::clamp(scrollX_, 0, total - room);
    }
    const int left = rc.left - scrollX_;
    if (text_.empty()) {
        if (!tipValue_.empty()) {
            painter.DrawText(rc, tipValue_, font_, tipValueColor_, DT_SINGLELINE | DT_VCENTER);
        }
    } else {
        painter.PushClip(rc);
        if (focused_ && HasSelection()) {
            const int xa = widthOf(std::min(selStart_, caret_));
            const int xb = widthOf(std::max(selStart_, caret_));
            painter.FillRect({left + xa, rc.top + 4, left + xb, rc.bottom - 4}, kSelectionColor);
        }
        // The whole text on a rectangle as wide as it, moved by the scroll, clipped to the edit.
        painter.DrawText({left, rc.top, std::max(rc.right, left + total + 2), rc.bottom}, shown,
                         font_, CurrentTextColor(), DT_SINGLELINE | DT_VCENTER);
        painter.PopClip();
    }
    if (focused_ && !readOnly_) {
        const int x = left + caretX;
        painter.FillRect({x, rc.top + 5, x + 1, rc.bottom - 5}, CurrentTextColor());
    }
}

}  // namespace UiLib
