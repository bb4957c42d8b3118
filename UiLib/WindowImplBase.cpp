#include "UiLib/WindowImplBase.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "UiLib/CVerticalLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/UiLock.h"
#include "platform/Strings.h"

namespace UiLib {

struct WindowImplBase::ModalState {
    std::atomic<bool> closed{false};
    std::atomic<UINT> result{0};
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<WindowHandle, WindowImplBase*> windows;
    WindowHandle next = 1;
    bool quit = false;
    int exitCode = 0;
};

Registry& Windows() {
    static Registry registry;
    return registry;
}

WindowImplBase* Lookup(WindowHandle handle) {
    std::lock_guard lock(Windows().mutex);
    auto it = Windows().windows.find(handle);
    return it == Windows().windows.end() ? nullptr : it->second;
}

}  // namespace

WindowImplBase::WindowImplBase()
    : state_(std::make_shared<ModalState>()),
      captionExempt_{"ButtonUI", "OptionUI", "TextUI", "EditUI", "CheckBoxUI"} {}

WindowImplBase::~WindowImplBase() {
    {
        std::lock_guard lock(Windows().mutex);
        Windows().windows.erase(handle_);
    }
    pm_.SetNativeWindow(nullptr);
    native_.reset();
}

WindowHandle WindowImplBase::Create(WindowImplBase* owner, const std::string& title, int x, int y,
                                    int cx, int cy, bool toolWindow) {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr) {
        ReportFault("no window host for " + GetWindowClassName());
        return 0;
    }
    owner_ = owner;
    CDialogBuilder builder(this);
    CControlUI* root = builder.Create(GetSkinFile(), &pm_);
    if (root == nullptr) {
        // The window still comes up, empty, so that its caller's modal run can end.
        root = new CVerticalLayoutUI();
    }
    pm_.AttachDialog(root);
    pm_.AddNotifier(this);
    pm_.AddMessageFilter(this);
    const Size init = pm_.GetInitSize();
    const int w = cx > 0 ? cx : (init.cx > 0 ? init.cx : 400);
    const int h = cy > 0 ? cy : (init.cy > 0 ? init.cy : 300);
    {
        std::lock_guard lock(Windows().mutex);
        handle_ = Windows().next++;
        Windows().windows[handle_] = this;
    }
    NativeWindowParams params;
    params.owner = owner != nullptr ? owner->GetNativeWindow() : nullptr;
    params.bounds = {x, y, x + w, y + h};
    params.title = title.empty() ? GetWindowClassName() : title;
    params.toolWindow = toolWindow;
    params.transparent = pm_.IsBkTrans();
    native_ = host->CreateNativeWindow(*this, params);
    pm_.SetNativeWindow(native_.get());
    pm_.SetClientSize({w, h});
    InitWindow();
    // "windowinit" comes from the event loop, before any other notification of the window.
    const WindowHandle handle = handle_;
    host->Post([handle] {
        if (WindowImplBase* wnd = Lookup(handle)) {
            if (CControlUI* r = wnd->pm_.GetRoot()) {
                r->SendNotify("windowinit");
            }
        }
    });
    return handle_;
}

WindowHandle WindowImplBase::CreatePopup(WindowImplBase* owner, int cx, int cy) {
    const WindowHandle h = Create(owner, "", 0, 0, cx, cy, true);
    SetCaptionExemptClasses({"ButtonUI", "OptionUI", "TextUI", "FadeButtonUI"});
    CenterWindow();
    return h;
}

int WindowImplBase::ApplyTexts(const std::map<std::wstring, std::wstring>& texts) {
    int applied = 0;
    for (const auto& [key, text] : texts) {
        if (CControlUI* c = pm_.FindControl(platform::WideToUtf8(key))) {
            c->SetText(text);
            ++applied;
        }
    }
    return applied;
}

void WindowImplBase::CenterWindow() {
    IUiHost* host = IUiHost::Current();
    if (!native_ || host == nullptr) {
        return;
    }
    const Rect mine = native_->GetBounds();
    Rect area = host->ScreenRect();
    if (owner_ != nullptr && owner_->GetNativeWindow() != nullptr) {
        area = owner_->GetNativeWindow()->GetBounds();
    }
    const int x = area.left + (area.Width() - mine.Width()) / 2;
    const int y = area.top + (area.Height() - mine.Height()) / 2;
    native_->SetBounds({x, y, x + mine.Width(), y + mine.Height()});
}

void WindowImplBase::ShowWindow(bool show) {
    if (native_) {
        native_->Show(show);
    }
}

UINT WindowImplBase::ShowModal() {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr || !native_) {
        return static_cast<UINT>(-1);
    }
    INativeWindow* ownerNative = owner_ != nullptr ? owner_->GetNativeWindow() : nullptr;
    if (ownerNative != nullptr) {
        ownerNative->SetInputEnabled(false);
    }
    native_->Show(true);
    // The state outlives the window: OnFinalMessage may delete it during the loop.
    std::shared_ptr<ModalState> state = state_;
    host->RunUntil([state] { return state->closed.load(); });
    if (ownerNative != nullptr && owner_ != nullptr && IsWindow(owner_->GetHWND())) {
        ownerNative->SetInputEnabled(true);
    }
    return state->closed ? state->result.load() : static_cast<UINT>(-1);
}

void WindowImplBase::Close(UINT ret) {
    PostMessage(handle_, WM_CLOSE, ret, 0);
}

Rect WindowImplBase::GetWindowRect() const {
    return native_ ? native_->GetBounds() : Rect{};
}

bool WindowImplBase::IsClosed() const {
    return state_->closed;
}

bool WindowImplBase::PostMessage(WindowHandle window, UINT msg, WPARAM wParam, LPARAM lParam) {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr || !IsWindow(window)) {
        return false;
    }
    host->Post([window, msg, wParam, lParam] {
        if (WindowImplBase* wnd = Lookup(window)) {
            wnd->HandleMessage(msg, wParam, lParam);
        }
    });
    return true;
}

bool WindowImplBase::IsWindow(WindowHandle window) {
    return window != 0 && Lookup(window) != nullptr;
}

int WindowImplBase::MessageLoop() {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr) {
        return -1;
    }
    // A quit message posted before the loop started ends it at once, as a queued message would.
    host->RunUntil([] {
        std::lock_guard lock(Windows().mutex);
        return Windows().quit;
    });
    std::lock_guard lock(Windows().mutex);
    Windows().quit = false;  // consumed
    return Windows().exitCode;
}

void WindowImplBase::PostQuitMessage(int exitCode) {
    {
        std::lock_guard lock(Windows().mutex);
        Windows().quit = true;
        Windows().exitCode = exitCode;
    }
    // Wake the loop, which may be waiting for an event (the call may come from another thread).
    if (IUiHost* host = IUiHost::Current()) {
        host->Post([] {});
    }
}

void WindowImplBase::Destroy(UINT result) {
    if (state_->closed) {
        return;
    }
    {
        std::lock_guard lock(Windows().mutex);
        Windows().windows.erase(handle_);
    }
    if (native_) {
        native_->Show(false);
    }
    pm_.SetNativeWindow(nullptr);
    native_.reset();
    state_->result = result;
    state_->closed = true;
    OnFinalMessage();
}

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (msg == WM_KEYDOWN && pm_.FilterMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_CLOSE:
            Destroy(static_cast<UINT>(wParam));
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                PostMessage(handle_, WM_CLOSE, IDCANCEL, 0);
            }
            return 0;
        case WM_KEYDOWN:
            pm_.OnKeyDown(wParam, static_cast<uint32_t>(lParam));
            return 0;
        case WM_NCLBUTTONDBLCLK:
            return 0;  // no maximising: the windows have a fixed size
        default:
            return 0;
    }
}

LRESULT WindowImplBase::MessageHandler(UINT msg, WPARAM wParam, LPARAM /*lParam*/, bool& handled) {
    if (msg == WM_KEYDOWN) {
        return ResponseDefaultKeyEvent(wParam, handled);
    }
    return 0;
}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM key, bool& handled) {
    if (key == VK_ESCAPE) {
        Close(IDCANCEL);
        handled = true;
    } else if (key == VK_RETURN) {
        handled = false;  // Enter goes to the focused control
    }
    return 0;
}

void WindowImplBase::Notify(TNotifyUI& msg) {
    NotifyPump(msg);
}

void WindowImplBase::HandleNotify(TNotifyUI& msg) {
    if (msg.sType == "click") {
        OnClick(msg);
    }
}

void WindowImplBase::OnClick(TNotifyUI& msg) {
    if (msg.pSender == nullptr) {
        return;
    }
    const std::string name = msg.pSender->GetName();
    if (name == "okbtn") {
        Close(IDOK);
    } else if (name == "cancelbtn" || name == "closebtn") {
        Close(IDCANCEL);
    }
}

CControlUI* WindowImplBase::CreateControl(const std::string& /*element*/) {
    return nullptr;
}

LRESULT WindowImplBase::HitTest(Point clientPoint) {
    if (!pm_.InCaption(clientPoint)) {
        return HTCLIENT;
    }
    CControlUI* control = pm_.FindControl(clientPoint);
    if (control != nullptr) {
        const std::string cls = control->GetClass();
        if (std::find(captionExempt_.begin(), captionExempt_.end(), cls) != captionExempt_.end()) {
            return HTCLIENT;
        }
    }
    return HTCAPTION;
}

void WindowImplBase::SetCaptionExemptClasses(std::vector<std::string> classes) {
    captionExempt_ = std::move(classes);
}

void WindowImplBase::HostPaint(cairo_t* cr) {
    pm_.Paint(cr);
}

void WindowImplBase::HostResize(Size client) {
    pm_.SetClientSize(client);
    pm_.Invalidate();
}

void WindowImplBase::HostMouseMove(Point pt) {
    pm_.OnMouseMove(pt);
}

void WindowImplBase::HostMouseLeave() {
    pm_.OnMouseLeave();
}

bool WindowImplBase::HostButtonDown(Point pt, uint32_t modifiers, bool doubleClick) {
    if (HitTest(pt) == HTCAPTION) {
        if (doubleClick) {
            HandleMessage(WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
        }
        return false;
    }
    pm_.OnButtonDown(pt, modifiers, doubleClick);
    return true;
}

void WindowImplBase::HostButtonUp(Point pt) {
    pm_.OnButtonUp(pt);
}

void WindowImplBase::HostWheel(Point pt, bool up) {
    pm_.OnWheel(pt, up);
}

void WindowImplBase::HostKeyDown(WPARAM key, uint32_t modifiers) {
    HandleMessage(WM_KEYDOWN, key, static_cast<LPARAM>(modifiers));
}

void WindowImplBase::HostChar(const std::string& utf8) {
    pm_.OnChar(utf8);
}

void WindowImplBase::HostCloseRequest() {
    HandleMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace UiLib
