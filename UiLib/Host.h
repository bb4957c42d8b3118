// What the framework needs of a windowing system, behind one interface with two implementations:
// GtkHost (real windows) and OffscreenHost (no display; paints into images, driven by code).
#pragma once

#include <cairo.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "UiLib/UiTypes.h"

namespace UiLib {

class WindowImplBase;

// One native window. Everything but Invalidate is called on the user interface thread.
class INativeWindow {
  public:
    virtual ~INativeWindow() = default;
    virtual void SetBounds(const Rect& screenRect) = 0;
    virtual Rect GetBounds() const = 0;
    virtual void Show(bool show) = 0;
    virtual bool IsShown() const = 0;
    // A disabled window takes no input (the owner of a modal popup).
    virtual void SetInputEnabled(bool enabled) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // Any thread: asks for a repaint on the user interface thread.
    virtual void Invalidate() = 0;
    // Starts moving the window with the mouse (a press in the caption).
    virtual void BeginMoveDrag(Point screenPoint) = 0;
    // The focused edit's caret, for the input method's candidate window.
    virtual void SetTextCursor(const Rect& clientRect) { (void)clientRect; }
    // Shows the window in its normal state and raises it above the others, with the keyboard
    // focus (a second start of the program, the modal popup of a window clicked behind it).
    virtual void Present() = 0;
    // A modal popup: the window system keeps it above its owner and the owner out of reach.
    virtual void SetModal(bool modal) = 0;
    // The window's icons (taskbar, window switcher): square images, small and large; the window
    // keeps its own references.
    virtual void SetIcon(cairo_surface_t* small, cairo_surface_t* large) = 0;
    // Popup menus: every press and key of the seat goes to the process while grabbed (a press
    // outside the process arrives at this window, outside its rectangle). False when the grab
    // could not be had.
    virtual bool GrabPointer(bool grab) = 0;
};

// What a file or folder chooser is asked.
struct ChooserRequest {
    enum class Kind { OpenFile, Folder };
    Kind kind = Kind::OpenFile;
    std::wstring title;
    // OpenFile: the folder shown first; Folder: the folder selected at first. Empty: the
    // chooser's own choice.
    std::wstring initial;
    // OpenFile: the one filter offered ("SMS files (*.*)", "*.*"); the chosen file must exist.
    std::wstring filterName;
    std::wstring pattern;
    bool operator==(const ChooserRequest&) const = default;
};

struct NativeWindowParams {
    INativeWindow* owner = nullptr;
    Rect bounds;  // screen coordinates
    std::string title;
    bool toolWindow = false;   // popups: no taskbar entry, kept above the owner
    bool transparent = false;  // bktrans / the shadow
    bool popupMenu = false;    // closes when it loses the pointer grab
};

class IUiHost {
  public:
    virtual ~IUiHost() = default;

    virtual std::unique_ptr<INativeWindow> CreateNativeWindow(WindowImplBase& window,
                                                              const NativeWindowParams& params) = 0;
    // Any thread: runs `task` on the user interface thread, in posting order.
    virtual void Post(std::function<void()> task) = 0;
    // User interface thread: runs the event loop until `done` returns true (modal loops).
    virtual void RunUntil(const std::function<bool()>& done) = 0;
    // User interface thread: a repeating timer; returns its id (never 0).
    virtual uint64_t AddTimer(std::chrono::milliseconds period, std::function<void()> fn) = 0;
    virtual void RemoveTimer(uint64_t id) = 0;

    virtual void SetClipboardText(const std::wstring& text) = 0;
    virtual std::wstring GetClipboardText() = 0;
    // User interface thread: runs a file or folder chooser owned by `owner` until the user
    // picks (the path) or cancels (nothing). Window code calls WindowImplBase::Choose, which
    // also keeps the other windows from taking input meanwhile.
    virtual std::optional<std::wstring> Choose(INativeWindow* owner,
                                               const ChooserRequest& request) = 0;
    virtual bool OpenUrl(const std::wstring& url) = 0;
    // A window that takes no input and paints itself with `paint` (the drop shadow); null when
    // the host cannot draw transparent windows.
    // `follow` is called when the parent moves or changes size.
    virtual std::unique_ptr<INativeWindow> CreateShadowWindow(
        INativeWindow* parent, const std::string& className,
        std::function<void(cairo_t*, Size)> paint, std::function<void()> follow) = 0;
    // The work area windows are centred in when they have no owner.
    virtual Rect ScreenRect() = 0;

    // The host the windows of this process use.
    static IUiHost* Current();
    static void SetCurrent(IUiHost* host);
};

}  // namespace UiLib
