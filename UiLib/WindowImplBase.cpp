#include "UiLib/WindowImplBase.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "UiLib/CImageCache.h"
#include "UiLib/CVerticalLayoutUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/ImageString.h"
#include "UiLib/Painter.h"
#include "UiLib/ResourceArchive.h"
#include "UiLib/UiLock.h"
#include "platform/Strings.h"

namespace UiLib {

// What outlives the window: a modal loop waiting for it (OnFinalMessage may delete the window
// during the loop) and other threads asking whether it takes input.
struct WindowImplBase::ModalState {
    std::atomic<bool> closed{false};
    std::atomic<UINT> result{0};
    std::atomic<int> inputDisabled{0};  // modal runs that keep this window from input
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<WindowHandle, WindowImplBase*> windows;
    WindowHandle next = 1;
    bool quit = false;
    int exitCode = 0;
    // User interface thread only.
    std::vector<WindowHandle> modals;  // innermost last
    std::vector<WindowHandle> popups;  // open popup menus, topmost last
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

// Keeps every window but `self` from input for its life; works on handles only, so that it can
// end after `self` (or any other window) has been deleted.
class WindowImplBase::ModalScope {
  public:
    explicit ModalScope(WindowHandle self) : self_(self) {
        std::vector<WindowHandle> all;
        {
            std::lock_guard lock(Windows().mutex);
            for (const auto& [h, w] : Windows().windows) {
                if (h != self) {
                    all.push_back(h);
                }
            }
        }
        for (WindowHandle h : all) {
            if (WindowImplBase* w = Lookup(h)) {
                w->DisableInput();
                disabled_.push_back(h);
            }
        }
        Windows().modals.push_back(self);
    }
    ~ModalScope() {
        auto& modals = Windows().modals;
        if (auto it = std::find(modals.rbegin(), modals.rend(), self_); it != modals.rend()) {
            modals.erase(std::next(it).base());
        }
        for (WindowHandle h : disabled_) {
            if (WindowImplBase* w = Lookup(h)) {
                w->EnableInput();
            }
        }
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    WindowHandle self_;
    std::vector<WindowHandle> disabled_;
};

WindowImplBase::WindowImplBase()
    : state_(std::make_shared<ModalState>()),
      captionExempt_{"ButtonUI", "OptionUI", "TextUI", "EditUI", "CheckBoxUI"} {}

WindowImplBase::~WindowImplBase() {
    {
        std::lock_guard lock(Windows().mutex);
        Windows().windows.erase(handle_);
    }
    EndPopupTracking();
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
    params.popupMenu = popupMenu_;
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
    // The state outlives the window: OnFinalMessage may delete it during the loop, so after the
    // loop only locals are used.
    std::shared_ptr<ModalState> state = state_;
    {
        ModalScope scope(handle_);
        native_->SetModal(true);
        native_->Show(true);
        host->RunUntil([state] { return state->closed.load(); });
    }
    return state->closed ? state->result.load() : static_cast<UINT>(-1);
}

void WindowImplBase::Close(UINT ret) {
    PostMessage(handle_, WM_CLOSE, ret, 0);
}

Rect WindowImplBase::GetWindowRect() const {
    return native_ ? native_->GetBounds() : Rect{};
}

Point WindowImplBase::ClientToScreen(Point clientPoint) const {
    const Rect rc = GetWindowRect();
    return {rc.left + clientPoint.x, rc.top + clientPoint.y};
}

bool WindowImplBase::IsClosed() const {
    return state_->closed;
}

bool WindowImplBase::IsInputEnabled() const {
    return state_->inputDisabled.load() == 0;
}

void WindowImplBase::DisableInput() {
    if (state_->inputDisabled.fetch_add(1) == 0 && native_) {
        native_->SetInputEnabled(false);
    }
}

void WindowImplBase::EnableInput() {
    if (state_->inputDisabled.fetch_sub(1) == 1 && native_) {
        native_->SetInputEnabled(true);
    }
}

void WindowImplBase::SetCloseOnKey(WPARAM key, std::optional<UINT> result) {
    if (result) {
        keyCloses_[key] = *result;
    } else {
        keyCloses_.erase(key);
    }
}

cairo_surface_t* WindowImplBase::RenderIcon(const std::string& imageString, int size) {
    ParsedImage parsed = ParseImageString(imageString);
    if (parsed.image.Picture().empty() || size <= 0) {
        return nullptr;
    }
    cairo_surface_t* picture = CImageCache::GetImage(parsed.image.Picture(), parsed.image.mask);
    if (picture == nullptr) {
        return nullptr;
    }
    Rect src = parsed.image.source.value_or(Rect{0, 0, cairo_image_surface_get_width(picture),
                                                 cairo_image_surface_get_height(picture)});
    const int side = std::max(src.Width(), src.Height());
    if (side <= 0) {
        return nullptr;
    }
    // Drawn as a control of the source's size, scaled: the painter takes the "@2x" picture
    // when the scale asks for it.
    parsed.image.dest.reset();
    cairo_surface_t* icon = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(icon);
    const double scale = static_cast<double>(size) / side;
    cairo_scale(cr, scale, scale);
    Painter painter(cr, nullptr);
    const int dx = (side - src.Width()) / 2;
    const int dy = (side - src.Height()) / 2;
    const bool drawn =
        painter.DrawImage({dx, dy, dx + src.Width(), dy + src.Height()}, parsed.image);
    cairo_destroy(cr);
    cairo_surface_flush(icon);
    if (!drawn) {
        cairo_surface_destroy(icon);
        return nullptr;
    }
    return icon;
}

bool WindowImplBase::SetIcon(const std::string& imageString) {
    if (!native_) {
        return false;
    }
    cairo_surface_t* small = RenderIcon(imageString, 16);
    cairo_surface_t* large = RenderIcon(imageString, 64);
    const bool ok = small != nullptr && large != nullptr;
    if (ok) {
        native_->SetIcon(small, large);
    } else {
        ReportFault("no icon picture in \"" + imageString + "\"");
    }
    if (small != nullptr) {
        cairo_surface_destroy(small);
    }
    if (large != nullptr) {
        cairo_surface_destroy(large);
    }
    return ok;
}

void WindowImplBase::BringToFront() {
    if (!IsInputEnabled()) {
        if (WindowImplBase* modal = TopModal(); modal != nullptr && modal != this) {
            modal->BringToFront();
            return;
        }
    }
    if (native_) {
        native_->Present();
    }
}

std::optional<std::wstring> WindowImplBase::Choose(const ChooserRequest& request) {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr) {
        return std::nullopt;
    }
    // The chooser is a modal window of its own: none of ours takes input meanwhile.
    ModalScope scope(0);
    return host->Choose(native_.get(), request);
}

std::optional<std::wstring> WindowImplBase::ChooseFile(const std::wstring& title,
                                                       const std::wstring& filterName,
                                                       const std::wstring& pattern) {
    ChooserRequest request;
    request.kind = ChooserRequest::Kind::OpenFile;
    request.title = title;
    request.filterName = filterName;
    request.pattern = pattern;
    return Choose(request);
}

std::optional<std::wstring> WindowImplBase::ChooseFolder(const std::wstring& title,
                                                         const std::wstring& initial) {
    ChooserRequest request;
    request.kind = ChooserRequest::Kind::Folder;
    request.title = title;
    request.initial = initial;
    return Choose(request);
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

bool WindowImplBase::PostDelayedMessage(WindowHandle window, std::chrono::milliseconds delay,
                                        UINT msg, WPARAM wParam, LPARAM lParam) {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr || !IsWindow(window)) {
        return false;
    }
    // Host timers belong to the user interface thread: the one-shot timer is set up there.
    host->Post([host, window, delay, msg, wParam, lParam] {
        auto id = std::make_shared<uint64_t>(0);
        *id = host->AddTimer(delay, [host, id, window, msg, wParam, lParam] {
            host->RemoveTimer(*id);
            if (WindowImplBase* wnd = Lookup(window)) {
                wnd->HandleMessage(msg, wParam, lParam);
            }
        });
    });
    return true;
}

bool WindowImplBase::PostBringToFront(WindowHandle window) {
    IUiHost* host = IUiHost::Current();
    if (host == nullptr || !IsWindow(window)) {
        return false;
    }
    host->Post([window] {
        if (WindowImplBase* wnd = Lookup(window)) {
            wnd->BringToFront();
        }
    });
    return true;
}

bool WindowImplBase::IsWindow(WindowHandle window) {
    return window != 0 && Lookup(window) != nullptr;
}

WindowImplBase* WindowImplBase::FromHandle(WindowHandle window) {
    return window == 0 ? nullptr : Lookup(window);
}

WindowImplBase* WindowImplBase::TopModal() {
    const auto& modals = Windows().modals;
    for (auto it = modals.rbegin(); it != modals.rend(); ++it) {
        if (WindowImplBase* w = FromHandle(*it)) {
            return w;
        }
    }
    return nullptr;
}

WindowImplBase* WindowImplBase::TopPopup() {
    const auto& popups = Windows().popups;
    return popups.empty() ? nullptr : FromHandle(popups.back());
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
    EndPopupTracking();
    if (!popupMenu_) {
        DismissPopups();  // menus do not outlive a window closing under them
    }
    if (native_) {
        if (popupMenu_) {
            native_->GrabPointer(false);
        }
        native_->Show(false);
    }
    pm_.SetNativeWindow(nullptr);
    native_.reset();
    state_->result = result;
    state_->closed = true;
    OnFinalMessage();
}

bool WindowImplBase::QueryClose(UINT /*result*/, CloseOrigin /*origin*/) {
    return true;
}

LRESULT WindowImplBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (msg == WM_KEYDOWN && pm_.FilterMessage(msg, wParam, lParam, result)) {
        return result;
    }
    switch (msg) {
        case WM_CLOSE:
            if (!QueryClose(static_cast<UINT>(wParam), lParam == CLOSE_FROM_SYSTEM
                                                           ? CloseOrigin::System
                                                           : CloseOrigin::Program)) {
                return 0;
            }
            Destroy(static_cast<UINT>(wParam));
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                PostMessage(handle_, WM_CLOSE, IDCANCEL, CLOSE_FROM_SYSTEM);
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
    if (auto it = keyCloses_.find(key); it != keyCloses_.end()) {
        Close(it->second);
        handled = true;
    } else {
        handled = false;  // the key goes to the focused control
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

// --- popup menus ----------------------------------------------------------------------------

void WindowImplBase::BeginPopupTracking() {
    auto& popups = Windows().popups;
    if (handle_ != 0 && std::find(popups.begin(), popups.end(), handle_) == popups.end()) {
        popups.push_back(handle_);
    }
}

void WindowImplBase::EndPopupTracking() {
    std::erase(Windows().popups, handle_);
}

bool WindowImplBase::DismissPopups() {
    // Topmost first: a sub-menu goes before the menu it belongs to. Dismissing may close (and
    // delete) windows, so each is looked up again.
    bool any = false;
    while (!Windows().popups.empty()) {
        const WindowHandle top = Windows().popups.back();
        Windows().popups.pop_back();
        if (WindowImplBase* w = FromHandle(top)) {
            any = true;
            w->OnPopupDismiss();
        }
    }
    return any;
}

bool WindowImplBase::PressDismissesPopups(Point pt) {
    const auto& popups = Windows().popups;
    if (popups.empty()) {
        return false;
    }
    const bool isPopup = std::find(popups.begin(), popups.end(), handle_) != popups.end();
    const Size client = pm_.GetClientSize();
    if (isPopup && Rect{0, 0, client.cx, client.cy}.Contains(pt)) {
        return false;  // a press inside an open menu is the menu's
    }
    return DismissPopups();
}

// --- input from the host --------------------------------------------------------------------

void WindowImplBase::HostPaint(cairo_t* cr) {
    pm_.Paint(cr);
}

void WindowImplBase::HostResize(Size client) {
    pm_.SetClientSize(client);
    pm_.Invalidate();
}

void WindowImplBase::HostMouseMove(Point pt) {
    if (!IsInputEnabled()) {
        return;
    }
    pm_.OnMouseMove(pt);
}

void WindowImplBase::HostMouseLeave() {
    pm_.OnMouseLeave();
}

bool WindowImplBase::HostButtonDown(Point pt, uint32_t modifiers, bool doubleClick) {
    if (!IsInputEnabled()) {
        if (WindowImplBase* modal = TopModal()) {
            modal->BringToFront();
        }
        return true;  // consumed: no click, and no move either
    }
    if (PressDismissesPopups(pt)) {
        return true;
    }
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
    // A release after the press that opened a modal window still ends the press (the pushed
    // control forgets it; a click needs the press and the release over an enabled window).
    if (!IsInputEnabled()) {
        pm_.OnButtonUp({-1, -1});
        return;
    }
    pm_.OnButtonUp(pt);
}

void WindowImplBase::HostWheel(Point pt, bool up) {
    if (!IsInputEnabled()) {
        return;
    }
    pm_.OnWheel(pt, up);
}

void WindowImplBase::HostKeyDown(WPARAM key, uint32_t modifiers) {
    if (!IsInputEnabled()) {
        return;
    }
    if (!Windows().popups.empty()) {
        if (WindowImplBase* top = FromHandle(Windows().popups.back())) {
            top->OnPopupKey(key);
            return;
        }
    }
    HandleMessage(WM_KEYDOWN, key, static_cast<LPARAM>(modifiers));
}

void WindowImplBase::HostChar(const std::string& utf8) {
    if (!IsInputEnabled() || !Windows().popups.empty()) {
        return;
    }
    pm_.OnChar(utf8);
}

void WindowImplBase::HostCloseRequest() {
    if (!IsInputEnabled()) {
        if (WindowImplBase* modal = TopModal()) {
            modal->BringToFront();
        }
        return;
    }
    DismissPopups();
    HandleMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace UiLib
