// A host without a display: windows are rectangles that paint into images, the event loop is a
// queue that code pumps, and code drives the windows (click a control by name, type into an
// edit, press keys). Used by the tests and by uilib-preview.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "UiLib/Host.h"
#include "UiLib/WinDefs.h"

namespace UiLib {

class WindowImplBase;

class OffscreenHost : public IUiHost {
  public:
    // Becomes the current host; the previous one is restored on destruction.
    OffscreenHost();
    ~OffscreenHost() override;
    OffscreenHost(const OffscreenHost&) = delete;
    OffscreenHost& operator=(const OffscreenHost&) = delete;

    // --- IUiHost --------------------------------------------------------------------------
    std::unique_ptr<INativeWindow> CreateNativeWindow(WindowImplBase& window,
                                                      const NativeWindowParams& params) override;
    void Post(std::function<void()> task) override;
    void RunUntil(const std::function<bool()>& done) override;
    uint64_t AddTimer(std::chrono::milliseconds period, std::function<void()> fn) override;
    void RemoveTimer(uint64_t id) override;
    void SetClipboardText(const std::wstring& text) override;
    std::wstring GetClipboardText() override;
    std::optional<std::wstring> Choose(INativeWindow* owner,
                                       const ChooserRequest& request) override;
    bool OpenUrl(const std::wstring& url) override;
    std::unique_ptr<INativeWindow> CreateShadowWindow(INativeWindow* parent,
                                                      const std::string& className,
                                                      std::function<void(cairo_t*, Size)> paint,
                                                      std::function<void()> follow) override;
    Rect ScreenRect() override { return {0, 0, 1920, 1080}; }

    // --- driving --------------------------------------------------------------------------
    // Runs the posted tasks and the due timers (on the calling thread, which is then the user
    // interface thread). Returns how many ran.
    int PumpMessages();
    // Pumps for `duration`, also waiting for timers and tasks posted by other threads.
    void PumpFor(std::chrono::milliseconds duration);
    // Called by modal loops when nothing is queued: the test's next step (click a button,
    // close the window). Return false to let the loop wait for other threads.
    void SetIdleHandler(std::function<bool()> handler);
    // A modal loop that runs longer than this ends with a reported fault.
    void SetModalTimeout(std::chrono::milliseconds timeout) { modalTimeout_ = timeout; }

    // Presses and releases the mouse at the centre of the named control, as a user would
    // (hit testing, enabled state, hot and pushed states). False when the window is hidden or
    // takes no input (a modal window runs), or the control is missing, hidden, disabled or
    // covered by another control.
    bool Click(WindowImplBase& window, const std::string& controlName);
    // False when the window is hidden or takes no input, or the press fell on the caption.
    bool ClickAt(WindowImplBase& window, Point pt);
    // A press and release outside every window of the process (the desktop, another program):
    // it reaches a popup menu holding the pointer grab, outside its rectangle. False when no
    // window holds the grab.
    bool ClickOutside();
    // Focuses the named edit with a click and types `text` character by character.
    bool TypeText(WindowImplBase& window, const std::string& controlName, const std::wstring& text);
    // Presses a key in the window, as the keyboard would (dropped while it takes no input).
    void PressKey(WindowImplBase& window, WPARAM key, uint32_t modifiers = 0);
    // The window manager's close (Alt+F4, the taskbar): WM_SYSCOMMAND SC_CLOSE, then pumps.
    void RequestClose(WindowImplBase& window);
    // Paints the window into a new image (owned by the caller) at `scale`.
    cairo_surface_t* Render(WindowImplBase& window, double scale = 1.0);
    bool SavePng(WindowImplBase& window, const std::string& path, double scale = 1.0);

    // What the window system was asked to do with a window.
    struct NativeState {
        Rect bounds;
        std::string title;
        bool shown = false;
        bool inputEnabled = true;
        bool modal = false;
        bool grabbed = false;  // holds the pointer grab (popup menus)
        bool popupMenu = false;
        bool toolWindow = false;
        int presents = 0;   // Present calls (BringToFront)
        int iconSmall = 0;  // sides of the icons set, 0 for none
        int iconLarge = 0;
    };
    static NativeState StateOf(const WindowImplBase& window);

    // Choosers: what they were asked, in order, and what they answer. A handler, when set,
    // answers each request; otherwise the queued answers are used in order, and with none
    // queued the chooser is cancelled.
    struct ChooserCall {
        ChooserRequest request;
        INativeWindow* owner = nullptr;
    };
    void QueueChoice(std::optional<std::wstring> answer);
    void SetChooserHandler(std::function<std::optional<std::wstring>(const ChooserRequest&)> fn);
    std::vector<ChooserCall> ChooserCalls() const;
    std::vector<std::wstring> OpenedUrls() const;

  private:
    struct Timer {
        uint64_t id;
        std::chrono::steady_clock::time_point next;
        std::chrono::milliseconds period;
        std::function<void()> fn;
    };

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::vector<Timer> timers_;
    uint64_t nextTimer_ = 1;
    std::function<bool()> idle_;
    std::chrono::milliseconds modalTimeout_{20000};
    std::wstring clipboard_;
    std::deque<std::optional<std::wstring>> choices_;
    std::function<std::optional<std::wstring>(const ChooserRequest&)> chooser_;
    std::vector<ChooserCall> chooserCalls_;
    std::vector<std::wstring> openedUrls_;
    IUiHost* previous_;
};

}  // namespace UiLib
