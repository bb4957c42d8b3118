#include "UiLib/OffscreenHost.h"

#include <atomic>

#include "UiLib/CControlUI.h"
#include "UiLib/Diagnostics.h"
#include "UiLib/WindowImplBase.h"

namespace UiLib {
namespace {

class OffscreenWindow : public INativeWindow {
  public:
    explicit OffscreenWindow(const NativeWindowParams& params) {
        state_.bounds = params.bounds;
        state_.title = params.title;
        state_.popupMenu = params.popupMenu;
        state_.toolWindow = params.toolWindow;
    }
    void SetBounds(const Rect& rc) override { state_.bounds = rc; }
    Rect GetBounds() const override { return state_.bounds; }
    void Show(bool show) override { state_.shown = show; }
    bool IsShown() const override { return state_.shown; }
    void SetInputEnabled(bool enabled) override { state_.inputEnabled = enabled; }
    void SetTitle(const std::string& title) override { state_.title = title; }
    void Invalidate() override { dirty_.store(true); }
    void BeginMoveDrag(Point /*screenPoint*/) override {}
    void Present() override {
        state_.shown = true;
        ++state_.presents;
    }
    void SetModal(bool modal) override { state_.modal = modal; }
    void SetIcon(cairo_surface_t* small, cairo_surface_t* large) override {
        state_.iconSmall = small != nullptr ? cairo_image_surface_get_width(small) : 0;
        state_.iconLarge = large != nullptr ? cairo_image_surface_get_width(large) : 0;
    }
    bool GrabPointer(bool grab) override {
        // Only a shown window can hold the grab, as on a real display.
        state_.grabbed = grab && state_.shown;
        return state_.grabbed || !grab;
    }
    const OffscreenHost::NativeState& State() const { return state_; }

  private:
    OffscreenHost::NativeState state_;
    std::atomic<bool> dirty_{true};
};

}  // namespace

OffscreenHost::OffscreenHost() : previous_(IUiHost::Current()) {
    IUiHost::SetCurrent(this);
}

OffscreenHost::~OffscreenHost() {
    if (IUiHost::Current() == this) {
        IUiHost::SetCurrent(previous_);
    }
}

std::unique_ptr<INativeWindow> OffscreenHost::CreateNativeWindow(WindowImplBase& /*window*/,
                                                                 const NativeWindowParams& params) {
    return std::make_unique<OffscreenWindow>(params);
}

void OffscreenHost::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

int OffscreenHost::PumpMessages() {
    int ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                break;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++ran;
    }
    // Due timers, each at most once per pump; a timer removed by another timer does not run.
    std::vector<uint64_t> due;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        for (auto& t : timers_) {
            if (t.next <= now) {
                due.push_back(t.id);
            }
        }
    }
    for (uint64_t id : due) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(timers_.begin(), timers_.end(),
                                   [id](const Timer& t) { return t.id == id; });
            if (it == timers_.end()) {
                continue;
            }
            it->next = now + it->period;
            fn = it->fn;
        }
        fn();
        ++ran;
    }
    return ran;
}

void OffscreenHost::PumpFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        if (PumpMessages() == 0) {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !tasks_.empty(); });
        }
    }
}

void OffscreenHost::RunUntil(const std::function<bool()>& done) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        PumpMessages();
        if (done()) {
            return;
        }
        std::function<bool()> idle;
        {
            std::lock_guard lock(mutex_);
            idle = idle_;
        }
        if (idle && idle()) {
            continue;
        }
        if (std::chrono::steady_clock::now() - start > modalTimeout_) {
            ReportFault("offscreen event loop timed out");
            return;
        }
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return !tasks_.empty(); });
    }
}

uint64_t OffscreenHost::AddTimer(std::chrono::milliseconds period, std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextTimer_++;
    timers_.push_back({id, std::chrono::steady_clock::now() + period, period, std::move(fn)});
    return id;
}

void OffscreenHost::RemoveTimer(uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

void OffscreenHost::SetClipboardText(const std::wstring& text) {
    std::lock_guard lock(mutex_);
    clipboard_ = text;
}

std::wstring OffscreenHost::GetClipboardText() {
    std::lock_guard lock(mutex_);
    return clipboard_;
}

std::optional<std::wstring> OffscreenHost::Choose(INativeWindow* owner,
                                                  const ChooserRequest& request) {
    std::function<std::optional<std::wstring>(const ChooserRequest&)> handler;
    {
        std::lock_guard lock(mutex_);
        chooserCalls_.push_back({request, owner});
        handler = chooser_;
        if (!handler) {
            if (choices_.empty()) {
                return std::nullopt;
            }
            std::optional<std::wstring> answer = std::move(choices_.front());
            choices_.pop_front();
            return answer;
        }
    }
    return handler(request);
}

bool OffscreenHost::OpenUrl(const std::wstring& url) {
    std::lock_guard lock(mutex_);
    openedUrls_.push_back(url);
    return true;
}

std::unique_ptr<INativeWindow> OffscreenHost::CreateShadowWindow(
    INativeWindow* parent, const std::string& /*className*/,
    std::function<void(cairo_t*, Size)> /*paint*/, std::function<void()> /*follow*/) {
    NativeWindowParams params;
    params.bounds = parent != nullptr ? parent->GetBounds() : Rect{};
    return std::make_unique<OffscreenWindow>(params);
}

void OffscreenHost::SetIdleHandler(std::function<bool()> handler) {
    std::lock_guard lock(mutex_);
    idle_ = std::move(handler);
}

void OffscreenHost::QueueChoice(std::optional<std::wstring> answer) {
    std::lock_guard lock(mutex_);
    choices_.push_back(std::move(answer));
}

void OffscreenHost::SetChooserHandler(
    std::function<std::optional<std::wstring>(const ChooserRequest&)> fn) {
    std::lock_guard lock(mutex_);
    chooser_ = std::move(fn);
}

std::vector<OffscreenHost::ChooserCall> OffscreenHost::ChooserCalls() const {
    std::lock_guard lock(mutex_);
    return chooserCalls_;
}

OffscreenHost::NativeState OffscreenHost::StateOf(const WindowImplBase& window) {
    if (const auto* native = dynamic_cast<const OffscreenWindow*>(window.GetNativeWindow())) {
        return native->State();
    }
    return {};
}

std::vector<std::wstring> OffscreenHost::OpenedUrls() const {
    std::lock_guard lock(mutex_);
    return openedUrls_;
}

namespace {

bool TakesInput(const WindowImplBase& window) {
    const INativeWindow* native = window.GetNativeWindow();
    return native != nullptr && native->IsShown() && window.IsInputEnabled();
}

}  // namespace

bool OffscreenHost::ClickAt(WindowImplBase& window, Point pt) {
    if (!TakesInput(window)) {
        return false;
    }
    window.HostMouseMove(pt);
    if (!window.HostButtonDown(pt, 0, false)) {
        return false;  // the caption: the window would move
    }
    window.HostButtonUp(pt);
    PumpMessages();
    return true;
}

bool OffscreenHost::ClickOutside() {
    WindowImplBase* grabber = WindowImplBase::TopPopup();
    if (grabber == nullptr || !StateOf(*grabber).grabbed) {
        return false;
    }
    const Rect rc = grabber->GetWindowRect();
    const Point outside{-1 - rc.Width(), -1};
    grabber->HostButtonDown(outside, 0, false);
    if (WindowImplBase::IsWindow(grabber->GetHWND())) {
        grabber->HostButtonUp(outside);
    }
    PumpMessages();
    return true;
}

void OffscreenHost::RequestClose(WindowImplBase& window) {
    window.HostCloseRequest();
    PumpMessages();
}

bool OffscreenHost::Click(WindowImplBase& window, const std::string& controlName) {
    if (!TakesInput(window)) {
        return false;
    }
    CPaintManagerUI& pm = window.GetPaintManager();
    pm.UpdateLayout();
    CControlUI* control = pm.FindControl(controlName);
    if (control == nullptr || !control->IsVisible() || !control->IsEnabled()) {
        return false;
    }
    const Rect rc = control->GetPos();
    const Point centre{rc.left + rc.Width() / 2, rc.top + rc.Height() / 2};
    // The press must land on the control itself or on something inside it.
    CControlUI* hit = pm.FindControl(centre);
    bool inside = false;
    for (CControlUI* c = hit; c != nullptr; c = c->GetParent()) {
        if (c == control) {
            inside = true;
            break;
        }
    }
    if (!inside) {
        return false;
    }
    return ClickAt(window, centre);
}

bool OffscreenHost::TypeText(WindowImplBase& window, const std::string& controlName,
                             const std::wstring& text) {
    if (!Click(window, controlName)) {
        return false;
    }
    CControlUI* control = window.GetPaintManager().FindControl(controlName);
    if (window.GetPaintManager().GetFocus() != control) {
        return false;
    }
    for (wchar_t c : text) {
        std::string utf8;
        const auto cp = static_cast<uint32_t>(c);
        if (cp < 0x80) {
            utf8.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            utf8.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            utf8.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            utf8.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        window.HostChar(utf8);
    }
    PumpMessages();
    return true;
}

void OffscreenHost::PressKey(WindowImplBase& window, WPARAM key, uint32_t modifiers) {
    if (window.GetNativeWindow() == nullptr || !window.GetNativeWindow()->IsShown()) {
        return;  // a hidden window has no keyboard focus
    }
    window.HostKeyDown(key, modifiers);
    PumpMessages();
}

cairo_surface_t* OffscreenHost::Render(WindowImplBase& window, double scale) {
    return window.GetPaintManager().RenderToSurface(scale);
}

bool OffscreenHost::SavePng(WindowImplBase& window, const std::string& path, double scale) {
    cairo_surface_t* s = Render(window, scale);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

}  // namespace UiLib
