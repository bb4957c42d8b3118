#include "UiLib/CPaintManagerUI.h"

#include <algorithm>
#include <cmath>

#include "UiLib/CContainerUI.h"
#include "UiLib/Host.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"

namespace UiLib {

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
    // The tree goes under the lock, so that a thread holding it (a weak reference checked under
    // the lock) never sees a control half destroyed.
    UiGuard guard;
    for (const auto& t : timers_) {
        if (IUiHost* host = IUiHost::Current()) {
            host->RemoveTimer(t.hostId);
        }
    }
    timers_.clear();
    CControlUI* root = root_;
    root_ = nullptr;
    hot_ = pushed_ = focus_ = nullptr;
    if (root != nullptr) {
        root->SetManager(nullptr, nullptr);
    }
    delete root;
}

Size CPaintManagerUI::GetInitSize() const {
    UiGuard guard;
    return initSize_;
}
void CPaintManagerUI::SetInitSize(Size size) {
    UiGuard guard;
    initSize_ = size;
}
Rect CPaintManagerUI::GetCaptionRect() const {
    UiGuard guard;
    return caption_;
}
void CPaintManagerUI::SetCaptionRect(const Rect& rc) {
    UiGuard guard;
    caption_ = rc;
}
Size CPaintManagerUI::GetMinInfo() const {
    UiGuard guard;
    return minInfo_;
}
void CPaintManagerUI::SetMinInfo(Size size) {
    UiGuard guard;
    minInfo_ = size;
}
Size CPaintManagerUI::GetRoundCorner() const {
    UiGuard guard;
    return roundCorner_;
}
void CPaintManagerUI::SetRoundCorner(Size size) {
    UiGuard guard;
    roundCorner_ = size;
}
Rect CPaintManagerUI::GetSizeBox() const {
    UiGuard guard;
    return sizeBox_;
}
void CPaintManagerUI::SetSizeBox(const Rect& rc) {
    UiGuard guard;
    sizeBox_ = rc;
}
bool CPaintManagerUI::IsBkTrans() const {
    UiGuard guard;
    return bkTrans_;
}
void CPaintManagerUI::SetBkTrans(bool trans) {
    UiGuard guard;
    bkTrans_ = trans;
}

bool CPaintManagerUI::InCaption(Point pt) const {
    UiGuard guard;
    // The caption rectangle counts from the window's edges: left and top from the left and
    // top, right and bottom ("0,0,0,40") as distances from the right edge and the top.
    const Rect rc{caption_.left, caption_.top, clientSize_.cx - caption_.right, caption_.bottom};
    return rc.Contains(pt);
}

int CPaintManagerUI::AddFont(const FontInfo& font, bool isDefault) {
    UiGuard guard;
    fonts_.push_back(font);
    if (isDefault || !hasDefaultFont_) {
        defaultFont_ = font;
        hasDefaultFont_ = hasDefaultFont_ || isDefault;
    }
    return static_cast<int>(fonts_.size()) - 1;
}

FontInfo CPaintManagerUI::GetFont(int index) const {
    UiGuard guard;
    if (index >= 0 && index < static_cast<int>(fonts_.size())) {
        return fonts_[index];
    }
    return defaultFont_;
}

int CPaintManagerUI::GetFontCount() const {
    UiGuard guard;
    return static_cast<int>(fonts_.size());
}

void CPaintManagerUI::AddDefaultAttributeList(const std::string& controlClass,
                                              std::shared_ptr<const AttributeList> list) {
    UiGuard guard;
    defaults_[controlClass] = std::move(list);
}

const AttributeList* CPaintManagerUI::GetDefaultAttributeList(
    const std::string& controlClass) const {
    UiGuard guard;
    auto it = defaults_.find(controlClass);
    return it == defaults_.end() ? nullptr : it->second.get();
}

void CPaintManagerUI::AddStyle(const std::string& name, std::shared_ptr<const AttributeList> list) {
    UiGuard guard;
    (*styles_)[name] = std::move(list);
}

const AttributeList* CPaintManagerUI::GetStyle(const std::string& name) const {
    UiGuard guard;
    auto it = styles_->find(name);
    return it == styles_->end() ? nullptr : it->second.get();
}

void CPaintManagerUI::AttachDialog(CControlUI* root) {
    {
        UiGuard guard;
        CControlUI* old = root_;
        hot_ = pushed_ = focus_ = nullptr;
        root_ = root;
        if (root_ != nullptr) {
            root_->SetManager(this, nullptr);
        }
        needLayout_ = true;
        delete old;
    }
    Invalidate();
}

CControlUI* CPaintManagerUI::GetRoot() const {
    UiGuard guard;
    return root_;
}

CControlUI* CPaintManagerUI::FindControl(const std::string& name) const {
    UiGuard guard;
    return root_ != nullptr && !name.empty() ? root_->FindControl(name) : nullptr;
}

CControlUI* CPaintManagerUI::FindControl(Point pt) const {
    UiGuard guard;
    return root_ != nullptr ? root_->FindControlAt(pt) : nullptr;
}

void CPaintManagerUI::ReapObjects(CControlUI* control) {
    UiGuard guard;
    if (hot_ == control) {
        hot_ = nullptr;
    }
    if (pushed_ == control) {
        pushed_ = nullptr;
    }
    if (focus_ == control) {
        focus_ = nullptr;
    }
    KillTimers(control);
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    UiGuard guard;
    if (std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) {
        notifiers_.push_back(notifier);
    }
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
    UiGuard guard;
    std::erase(notifiers_, notifier);
}

void CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
    UiGuard guard;
    if (std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) {
        filters_.push_back(filter);
    }
}

void CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) {
    UiGuard guard;
    std::erase(filters_, filter);
}

bool CPaintManagerUI::FilterMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    std::vector<IMessageFilterUI*> filters;
    {
        UiGuard guard;
        filters = filters_;
    }
    for (IMessageFilterUI* f : filters) {
        bool handled = false;
        LRESULT r = f->MessageHandler(msg, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::DeliverNotify(TNotifyUI& msg) {
    std::vector<INotifyUI*> notifiers;
    {
        UiGuard guard;
        notifiers = notifiers_;
    }
    for (INotifyUI* n : notifiers) {
        n->Notify(msg);
    }
}

bool CPaintManagerUI::Bind(const std::string& controlName, const std::string& type,
                           CDelegate delegate) {
    CControlUI* control = FindControl(controlName);
    if (control == nullptr) {
        return false;
    }
    control->Bind(type, std::move(delegate));
    return true;
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
    UiGuard guard;
    IUiHost* host = IUiHost::Current();
    if (host == nullptr || control == nullptr) {
        return false;
    }
    KillTimer(control, id);
    std::weak_ptr<int> alive = control->AliveToken();
    const uint64_t hostId = host->AddTimer(std::chrono::milliseconds(std::max<UINT>(elapseMs, 1)),
                                           [control, id, alive] {
                                               UiGuard inner;
                                               if (alive.expired()) {
                                                   return;
                                               }
                                               TEventUI event;
                                               event.type = UiEvent::Timer;
                                               event.wParam = id;
                                               control->DoEvent(event);
                                           });
    timers_.push_back({control, id, hostId});
    return true;
}

void CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
    UiGuard guard;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->control == control && it->id == id) {
            if (IUiHost* host = IUiHost::Current()) {
                host->RemoveTimer(it->hostId);
            }
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::KillTimers(CControlUI* control) {
    UiGuard guard;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->control == control) {
            if (IUiHost* host = IUiHost::Current()) {
                host->RemoveTimer(it->hostId);
            }
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::SetNativeWindow(INativeWindow* window) {
    UiGuard guard;
    native_ = window;
}

INativeWindow* CPaintManagerUI::GetNativeWindow() const {
    UiGuard guard;
    return native_;
}

void CPaintManagerUI::Invalidate() {
    UiGuard guard;
    if (native_ != nullptr) {
        native_->Invalidate();
    }
}

void CPaintManagerUI::NeedUpdate() {
    UiGuard guard;
    needLayout_ = true;
    Invalidate();
}

void CPaintManagerUI::SetClientSize(Size size) {
    UiGuard guard;
    if (size == clientSize_) {
        return;
    }
    clientSize_ = size;
    needLayout_ = true;
}

Size CPaintManagerUI::GetClientSize() const {
    UiGuard guard;
    return clientSize_;
}

void CPaintManagerUI::UpdateLayout() {
    UiGuard guard;
    if (!needLayout_ || root_ == nullptr) {
        return;
    }
    needLayout_ = false;
    root_->SetPos({0, 0, clientSize_.cx, clientSize_.cy});
}

void CPaintManagerUI::Paint(cairo_t* cr) {
    UiGuard guard;
    UpdateLayout();
    // Only the controls that reach the context's clip are painted: a window's redraw clips to
    // what changed (a progress bar, a hovered button), and the rest of the tree is left alone.
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
    // An unbounded surface reports an unbounded clip.
    auto pixel = [](double v) { return static_cast<int>(std::clamp(v, -1e9, 1e9)); };
    const Rect clip = Rect{0, 0, clientSize_.cx, clientSize_.cy}.Intersect(
        {pixel(std::floor(x1)), pixel(std::floor(y1)), pixel(std::ceil(x2)), pixel(std::ceil(y2))});
    Painter painter(cr, this);
    if (root_ != nullptr && !clip.IsEmpty()) {
        root_->DoPaint(painter, clip);
    }
}

cairo_surface_t* CPaintManagerUI::RenderToSurface(double scale) {
    const Size size = GetClientSize();
    const int w = std::max(1, static_cast<int>(size.cx * scale + 0.5));
    const int h = std::max(1, static_cast<int>(size.cy * scale + 0.5));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    Paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return surface;
}

void CPaintManagerUI::SendEvent(CControlUI* control, TEventUI& event) {
    if (control != nullptr) {
        control->DoEvent(event);
    }
}

void CPaintManagerUI::OnMouseMove(Point pt) {
    UiGuard guard;
    UpdateLayout();
    CControlUI* now = FindControl(pt);
    if (now != nullptr && !now->IsEnabled()) {
        now = nullptr;
    }
    if (now != hot_) {
        TEventUI leave;
        leave.type = UiEvent::MouseLeave;
        leave.ptMouse = pt;
        SendEvent(hot_, leave);
        hot_ = now;
        TEventUI enter;
        enter.type = UiEvent::MouseEnter;
        enter.ptMouse = pt;
        SendEvent(hot_, enter);
        Invalidate();
    }
    TEventUI move;
    move.type = UiEvent::MouseMove;
    move.ptMouse = pt;
    SendEvent(pushed_ != nullptr ? pushed_ : hot_, move);
}

void CPaintManagerUI::OnMouseLeave() {
    UiGuard guard;
    if (hot_ != nullptr) {
        TEventUI leave;
        leave.type = UiEvent::MouseLeave;
        SendEvent(hot_, leave);
        hot_ = nullptr;
        Invalidate();
    }
}

void CPaintManagerUI::OnButtonDown(Point pt, uint32_t modifiers, bool doubleClick) {
    UiGuard guard;
    UpdateLayout();
    CControlUI* control = FindControl(pt);
    if (control == nullptr || !control->IsEnabled()) {
        SetFocus(nullptr);
        return;
    }
    SetFocus(control->IsFocusable() ? control : nullptr);
    pushed_ = control;
    TEventUI event;
    event.type = doubleClick ? UiEvent::DblClick : UiEvent::ButtonDown;
    event.ptMouse = pt;
    event.modifiers = modifiers;
    SendEvent(control, event);
}

void CPaintManagerUI::OnButtonUp(Point pt) {
    UiGuard guard;
    CControlUI* control = pushed_;
    pushed_ = nullptr;
    if (control == nullptr) {
        return;
    }
    TEventUI event;
    event.type = UiEvent::ButtonUp;
    event.ptMouse = pt;
    SendEvent(control, event);
}

void CPaintManagerUI::OnWheel(Point pt, bool up) {
    UiGuard guard;
    CControlUI* control = FindControl(pt);
    TEventUI event;
    event.type = UiEvent::ScrollWheel;
    event.ptMouse = pt;
    event.wParam = up ? 1 : 0;
    SendEvent(control, event);
}

bool CPaintManagerUI::OnKeyDown(WPARAM key, uint32_t modifiers) {
    UiGuard guard;
    if (key == VK_TAB) {
        MoveFocus((modifiers & kModShift) == 0);
        return true;
    }
    if (focus_ == nullptr) {
        return false;
    }
    TEventUI event;
    event.type = UiEvent::KeyDown;
    event.wParam = key;
    event.modifiers = modifiers;
    SendEvent(focus_, event);
    return true;
}

void CPaintManagerUI::OnChar(const std::string& utf8) {
    UiGuard guard;
    if (focus_ == nullptr) {
        return;
    }
    TEventUI event;
    event.type = UiEvent::Char;
    event.text = utf8;
    SendEvent(focus_, event);
}

void CPaintManagerUI::SetFocus(CControlUI* control) {
    UiGuard guard;
    if (control == focus_) {
        return;
    }
    if (focus_ != nullptr) {
        TEventUI kill;
        kill.type = UiEvent::KillFocus;
        CControlUI* old = focus_;
        focus_ = nullptr;
        SendEvent(old, kill);
        old->SendNotify("killfocus");
    }
    focus_ = control;
    if (focus_ != nullptr) {
        TEventUI set;
        set.type = UiEvent::SetFocus;
        SendEvent(focus_, set);
        focus_->SendNotify("setfocus");
    }
}

CControlUI* CPaintManagerUI::GetFocus() const {
    UiGuard guard;
    return focus_;
}

CControlUI* CPaintManagerUI::GetHot() const {
    UiGuard guard;
    return hot_;
}

namespace {
void CollectFocusable(CControlUI* c, std::vector<CControlUI*>& out) {
    if (c == nullptr || !c->IsVisible()) {
        return;
    }
    if (c->IsFocusable()) {
        out.push_back(c);
    }
    if (CContainerUI* container = c->AsContainer()) {
        for (int i = 0; i < container->GetCount(); ++i) {
            CollectFocusable(container->GetItemAt(i), out);
        }
    }
}
}  // namespace

void CPaintManagerUI::MoveFocus(bool forward) {
    UiGuard guard;
    std::vector<CControlUI*> order;
    CollectFocusable(root_, order);
    if (order.empty()) {
        return;
    }
    auto it = std::find(order.begin(), order.end(), focus_);
    int index = it == order.end() ? -1 : static_cast<int>(it - order.begin());
    const int n = static_cast<int>(order.size());
    index = forward ? (index + 1) % n : (index <= 0 ? n - 1 : index - 1);
    SetFocus(order[index]);
}

}  // namespace UiLib
