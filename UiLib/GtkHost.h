// The host of real windows: GTK 3 top-level windows, each painting its control tree in a drawing
// area, with mouse, keyboard, input method, clipboard, file and folder choosers. Messages posted
// from other threads and repaint requests reach the GTK main loop through idle sources.
#pragma once

#include <cairo.h>

#include <memory>

#include "UiLib/Host.h"

namespace UiLib {

class GtkHost : public IUiHost {
  public:
    // Initialises GTK and becomes the current host; null when there is no display.
    static std::unique_ptr<GtkHost> Create();
    ~GtkHost() override;

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
    Rect ScreenRect() override;

    // What the screen shows of a window (for checks against the offscreen painting); null when
    // it is not on screen. The caller owns the image.
    static cairo_surface_t* Screenshot(INativeWindow* window);
    // Whether the window has been painted on screen at least once.
    static bool HasBeenDrawn(INativeWindow* window);
    // Delivers a left click at a client point, or a key press, through GTK's own event dispatch
    // (as the windowing system would), for tests of the input path.
    static void SendClick(INativeWindow* window, Point pt);
    static void SendKey(INativeWindow* window, unsigned keyval);
    // Asks the window to close as the window manager does for Alt+F4 or the taskbar (on X11 a
    // WM_DELETE_WINDOW message through the server).
    static void SendCloseRequest(INativeWindow* window);
    // The native window's X11 id (0 when not on X11), for tests that drive the server.
    static unsigned long XWindowId(INativeWindow* window);

  private:
    GtkHost();
    IUiHost* previous_;
};

}  // namespace UiLib
