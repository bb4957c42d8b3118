#include "UiLib/CControlUI.h"

#include <algorithm>
#include <string_view>

#include "UiLib/CContainerUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"
#include "platform/Strings.h"

namespace UiLib {

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
    UiGuard guard;
    alive_.reset();
    if (manager_ != nullptr) {
        manager_->ReapObjects(this);
    }
}

std::string CControlUI::GetName() const {
    UiGuard guard;
    return name_;
}

void CControlUI::SetName(const std::string& name) {
    UiGuard guard;
    name_ = name;
}

std::wstring CControlUI::GetText() const {
    UiGuard guard;
    return text_;
}

void CControlUI::SetText(const std::wstring& text) {
    UiGuard guard;
    if (text_ == text) {
        return;
    }
    text_ = text;
    Invalidate();
}

std::wstring CControlUI::GetToolTip() const {
    UiGuard guard;
    return toolTip_;
}

Rect CControlUI::GetPos() const {
    UiGuard guard;
    return rcItem_;
}

void CControlUI::SetPos(const Rect& rc) {
    UiGuard guard;
    rcItem_ = rc;
    if (rcItem_.right < rcItem_.left) {
        rcItem_.right = rcItem_.left;
    }
    if (rcItem_.bottom < rcItem_.top) {
        rcItem_.bottom = rcItem_.top;
    }
}

int CControlUI::GetFixedWidth() const {
    UiGuard guard;
    return fixed_.cx;
}

int CControlUI::GetFixedHeight() const {
    UiGuard guard;
    return fixed_.cy;
}

void CControlUI::SetFixedWidth(int cx) {
    UiGuard guard;
    fixed_.cx = std::max(cx, 0);
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy) {
    UiGuard guard;
    fixed_.cy = std::max(cy, 0);
    NeedParentUpdate();
}

Rect CControlUI::GetPadding() const {
    UiGuard guard;
    return rcPadding_;
}

void CControlUI::SetPadding(const Rect& rc) {
    UiGuard guard;
    rcPadding_ = rc;
    NeedParentUpdate();
}

bool CControlUI::IsFloat() const {
    UiGuard guard;
    return float_;
}

void CControlUI::SetFloat(bool f) {
    UiGuard guard;
    float_ = f;
    NeedParentUpdate();
}

Rect CControlUI::GetFloatPos() const {
    UiGuard guard;
    return rcFloatPos_;
}

void CControlUI::SetFloatPos(const Rect& rc) {
    UiGuard guard;
    rcFloatPos_ = rc;
    NeedParentUpdate();
}

Size CControlUI::EstimateSize(Size /*available*/) const {
    UiGuard guard;
    return fixed_;
}

bool CControlUI::IsVisible() const {
    UiGuard guard;
    return visible_ && internVisible_;
}

void CControlUI::SetVisible(bool visible) {
    UiGuard guard;
    if (visible_ == visible) {
        return;
    }
    visible_ = visible;
    if (!visible && manager_ != nullptr) {
        manager_->ReapObjects(this);
    }
    NeedParentUpdate();
}

void CControlUI::SetInternVisible(bool visible) {
    UiGuard guard;
    internVisible_ = visible;
    if (CContainerUI* c = AsContainer()) {
        for (int i = 0; i < c->GetCount(); ++i) {
            c->GetItemAt(i)->SetInternVisible(visible);
        }
    }
}

bool CControlUI::IsEnabled() const {
    UiGuard guard;
    return enabled_;
}

void CControlUI::SetEnabled(bool enabled) {
    UiGuard guard;
    if (enabled_ == enabled) {
        return;
    }
    enabled_ = enabled;
    if (!enabled) {
        buttonState_ = 0;
    }
    Invalidate();
}

bool CControlUI::IsMouseEnabled() const {
    UiGuard guard;
    return mouseEnabled_;
}

void CControlUI::SetMouseEnabled(bool enabled) {
    UiGuard guard;
    mouseEnabled_ = enabled;
}

uint32_t CControlUI::GetState() const {
    UiGuard guard;
    uint32_t state = buttonState_;
    if (!enabled_) {
        state |= UISTATE_DISABLED;
    }
    if (focused_) {
        state |= UISTATE_FOCUSED;
    }
    return state;
}

bool CControlUI::IsFocused() const {
    UiGuard guard;
    return focused_;
}

Color CControlUI::GetBkColor() const {
    UiGuard guard;
    return bkColor_;
}

void CControlUI::SetBkColor(Color c) {
    UiGuard guard;
    bkColor_ = c;
    Invalidate();
}

std::string CControlUI::GetBkImage() const {
    UiGuard guard;
    return bkImage_;
}

void CControlUI::SetBkImage(const std::string& image) {
    UiGuard guard;
    bkImage_ = image;
    Invalidate();
}

uintptr_t CControlUI::GetTag() const {
    UiGuard guard;
    return tag_;
}

void CControlUI::SetTag(uintptr_t tag) {
    UiGuard guard;
    tag_ = tag;
}

void CControlUI::SetFileStyles(std::shared_ptr<const StyleTable> styles) {
    UiGuard guard;
    fileStyles_ = std::move(styles);
}

bool CControlUI::SetStyle(const std::string& styleName) {
    AttributeList list;
    {
        UiGuard guard;
        const AttributeList* found = nullptr;
        if (manager_ != nullptr) {
            found = manager_->GetStyle(styleName);
        }
        if (found == nullptr && fileStyles_) {
            auto it = fileStyles_->find(styleName);
            if (it != fileStyles_->end()) {
                found = it->second.get();
            }
        }
        if (found == nullptr) {
            ReportFault("no style named " + styleName);
            return false;
        }
        list = *found;
        for (const auto& [name, value] : list) {
            if (name == "style") {
                continue;  // a style does not pull in another
            }
            if (!SetAttribute(name, value)) {
                ReportFault("style " + styleName + ": unknown attribute " + name + " of " +
                            GetClass());
            }
        }
        NeedParentUpdate();
        Invalidate();
    }
    return true;
}

void CControlUI::ReportBadValue(const std::string& attr, const std::string& value) const {
    ReportFault("bad value '" + value + "' of " + attr + " (" + GetClass() +
                (name_.empty() ? std::string() : " " + name_) + ")");
}

bool CControlUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    auto rect = [&](Rect& out) {
        if (auto r = ParseRect(value)) {
            out = *r;
        } else {
            ReportBadValue(name, value);
        }
    };
    auto color = [&](Color& out) {
        if (auto c = ParseColor(value)) {
            out = *c;
        } else {
            ReportBadValue(name, value);
        }
    };
    auto flag = [&](bool& out) {
        if (auto b = ParseBool(value)) {
            out = *b;
        } else {
            ReportBadValue(name, value);
        }
    };
    auto number = [&](int& out) {
        if (auto v = ParseInt(value); v && *v >= 0) {
            out = *v;
        } else {
            ReportBadValue(name, value);
        }
    };
    if (key == "name") {
        name_ = value;
    } else if (key == "text") {
        text_ = platform::AnsiToWide(value);
    } else if (key == "tooltip") {
        toolTip_ = platform::AnsiToWide(value);
    } else if (key == "width") {
        number(fixed_.cx);
    } else if (key == "height") {
        number(fixed_.cy);
    } else if (key == "padding") {
        rect(rcPadding_);
    } else if (key == "pos") {
        rect(rcFloatPos_);
    } else if (key == "float") {
        flag(float_);
    } else if (key == "visible") {
        flag(visible_);
    } else if (key == "enabled") {
        flag(enabled_);
    } else if (key == "mouse") {
        flag(mouseEnabled_);
    } else if (key == "bkcolor") {
        color(bkColor_);
    } else if (key == "bordercolor") {
        color(borderColor_);
    } else if (key == "bordersize") {
        number(borderSize_);
    } else if (key == "bkimage") {
        bkImage_ = value;
    } else if (key == "userdata") {
        // Kept for layouts that carry it; the program does not read it.
    } else if (key == "style") {
        SetStyle(value);
    } else {
        return false;
    }
    return true;
}

void CControlUI::ApplyAttributeList(const std::string& list) {
    std::string fault;
    AttributeList items = ParseAttributeList(list, &fault);
    if (!fault.empty()) {
        ReportFault(fault);
    }
    for (const auto& [n, v] : items) {
        if (!SetAttribute(n, v)) {
            ReportFault("unknown attribute " + n + " of " + GetClass());
        }
    }
}

CControlUI* CControlUI::GetParent() const {
    UiGuard guard;
    return parent_;
}

CPaintManagerUI* CControlUI::GetManager() const {
    UiGuard guard;
    return manager_;
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    UiGuard guard;
    if (manager_ != nullptr && manager_ != manager) {
        manager_->ReapObjects(this);
    }
    manager_ = manager;
    parent_ = parent;
}

CControlUI* CControlUI::FindControl(const std::string& name) {
    UiGuard guard;
    return name_ == name ? this : nullptr;
}

CControlUI* CControlUI::FindControlAt(Point pt) {
    UiGuard guard;
    if (!IsVisible() || !mouseEnabled_ || !rcItem_.Contains(pt)) {
        return nullptr;
    }
    return this;
}

std::string CControlUI::GetVirtualWnd() const {
    UiGuard guard;
    for (const CControlUI* c = this; c != nullptr; c = c->parent_) {
        if (const auto* container = dynamic_cast<const CContainerUI*>(c)) {
            std::string v = container->GetOwnVirtualWnd();
            if (!v.empty()) {
                return v;
            }
        }
    }
    return {};
}

void CControlUI::Bind(const std::string& type, CDelegate delegate) {
    UiGuard guard;
    delegates_.emplace_back(type, std::move(delegate));
}

void CControlUI::Unbind(const void* owner) {
    UiGuard guard;
    std::erase_if(delegates_, [owner](const auto& d) { return d.second.Object() == owner; });
}

void CControlUI::SendNotify(const std::string& type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg;
    std::weak_ptr<int> alive;
    {
        UiGuard guard;
        msg.sType = type;
        msg.pSender = this;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.sVirtualWnd = GetVirtualWnd();
        alive = alive_;
    }
    // Handlers run without the lock, after the outermost framework call on this thread ends.
    UiGuard::RunUnlocked([msg, alive]() mutable {
        std::vector<CDelegate> handlers;
        CPaintManagerUI* manager = nullptr;
        {
            UiGuard guard;
            if (alive.expired()) {
                return;
            }
            for (const auto& [t, d] : msg.pSender->delegates_) {
                if (t == msg.sType) {
                    handlers.push_back(d);
                }
            }
            manager = msg.pSender->manager_;
        }
        // Handlers may delete the sender (emptying a list); stop routing once it is gone, or
        // once a handler has claimed the notification.
        for (auto& d : handlers) {
            if (d(msg) || alive.expired()) {
                return;
            }
        }
        if (manager != nullptr) {
            manager->DeliverNotify(msg);
        }
    });
}

void CControlUI::DoEvent(TEventUI& event) {
    UiGuard guard;
    switch (event.type) {
        case UiEvent::SetFocus:
            focused_ = true;
            Invalidate();
            break;
        case UiEvent::KillFocus:
            focused_ = false;
            Invalidate();
            break;
        case UiEvent::MouseEnter:
            buttonState_ |= UISTATE_HOT;
            Invalidate();
            break;
        case UiEvent::MouseLeave:
            buttonState_ &= ~UISTATE_HOT;
            Invalidate();
            break;
        case UiEvent::Timer:
            SendNotify("timer", event.wParam);
            break;
        default:
            // Unused events go to the parent, so a click on a label inside a list item selects
            // the item and the wheel scrolls the list.
            if (parent_ != nullptr &&
                (event.type == UiEvent::ScrollWheel || event.type == UiEvent::ButtonDown ||
                 event.type == UiEvent::ButtonUp || event.type == UiEvent::DblClick)) {
                parent_->DoEvent(event);
            }
            break;
    }
}

bool CControlUI::Activate() {
    UiGuard guard;
    return IsVisible() && enabled_;
}

void CControlUI::DoPaint(Painter& painter, const Rect& clip) {
    UiGuard guard;
    if (rcItem_.Intersect(clip).IsEmpty()) {
        return;
    }
    PaintBkColor(painter);
    PaintBkImage(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    PaintBorder(painter);
}

void CControlUI::PaintBkColor(Painter& painter) {
    if (bkColor_ != 0) {
        painter.FillRect(rcItem_, bkColor_);
    }
}

void CControlUI::PaintBkImage(Painter& painter) {
    if (!bkImage_.empty()) {
        painter.DrawImage(rcItem_, bkImage_);
    }
}

void CControlUI::PaintStatusImage(Painter& /*painter*/) {}
void CControlUI::PaintText(Painter& /*painter*/) {}

void CControlUI::PaintBorder(Painter& painter) {
    if (borderSize_ > 0 && borderColor_ != 0) {
        painter.DrawBorder(rcItem_, borderSize_, borderColor_);
    }
}

void CControlUI::Invalidate() {
    UiGuard guard;
    if (manager_ != nullptr) {
        manager_->Invalidate();
    }
}

void CControlUI::NeedUpdate() {
    UiGuard guard;
    if (manager_ != nullptr) {
        manager_->NeedUpdate();
    }
}

void CControlUI::NeedParentUpdate() {
    NeedUpdate();
}

}  // namespace UiLib
