// A window built from a layout of the skin archive.
//
// Life: construct, Create (layout loaded, native window made, InitWindow called, "windowinit"
// posted), then ShowWindow or ShowModal; WM_CLOSE (Close posts it) ends a modal run with its
// wParam, destroys the native window and calls OnFinalMessage. Messages with numeric ids can be
// posted to a window from any thread through its handle; they are handled on the user interface
// thread, and posting to a window that is gone does nothing.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/CNotifyPump.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Host.h"
#include "UiLib/TNotifyUI.h"
#include "UiLib/WinDefs.h"

namespace UiLib {

class WindowImplBase : public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
  public:
    WindowImplBase();
    ~WindowImplBase() override;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;

    // The layout ("xml\\skin.xml"), the window class name and the skin folder of the window.
    virtual std::string GetSkinFile() = 0;
    virtual std::string GetWindowClassName() const = 0;
    virtual std::string GetSkinFolder() { return "Skins\\"; }

    // Loads the layout and creates the native window owned by `owner` (may be null) at x,y
    // (screen) with the size cx,cy, or the layout's size where they are 0. Returns the handle,
    // 0 when there is no host.
    WindowHandle Create(WindowImplBase* owner, const std::string& title, int x, int y, int cx,
                        int cy, bool toolWindow = false);
    // A popup: created owned by `owner` as a tool window of the given size, centred on the owner,
    // with the caption hit test of popups (drag anywhere in the caption except over controls of
    // the classes "ButtonUI", "OptionUI", "TextUI" and "FadeButtonUI").
    WindowHandle CreatePopup(WindowImplBase* owner, int cx, int cy);
    void CenterWindow();
    // Sets the text of every control named by a key of `texts` (a section of a language file);
    // keys that name no control are skipped. Returns how many controls were set.
    int ApplyTexts(const std::map<std::wstring, std::wstring>& texts);
    void ShowWindow(bool show = true);
    // Shows the window modally (its owner takes no input) until it is closed; returns the
    // wParam of the WM_CLOSE that closed it.
    UINT ShowModal();
    // Posts WM_CLOSE with `ret`.
    void Close(UINT ret = IDOK);
    WindowHandle GetHWND() const { return handle_; }
    CPaintManagerUI& GetPaintManager() { return pm_; }
    INativeWindow* GetNativeWindow() const { return native_.get(); }
    WindowImplBase* GetOwner() const { return owner_; }
    Rect GetWindowRect() const;
    bool IsClosed() const;

    // Any thread. False when the window is gone (or there is no host).
    static bool PostMessage(WindowHandle window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    static bool IsWindow(WindowHandle window);
    // User interface thread: runs until PostQuitMessage; returns its exit code.
    static int MessageLoop();
    static void PostQuitMessage(int exitCode);

    // Handles one message; derived windows handle theirs and pass the rest on.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The message filter: Escape closes the window with IDCANCEL, Enter does nothing.
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM key, bool& handled);
    // INotifyUI: routes through the virtual windows to HandleNotify.
    void Notify(TNotifyUI& msg) override;
    CControlUI* CreateControl(const std::string& element) override;

    // HTCAPTION inside the layout's caption rectangle, except over controls of the exempt
    // classes; HTCLIENT elsewhere.
    LRESULT HitTest(Point clientPoint);
    void SetCaptionExemptClasses(std::vector<std::string> classes);

    // --- called by the host on the user interface thread -------------------------------
    void HostPaint(cairo_t* cr);
    void HostResize(Size client);
    void HostMouseMove(Point pt);
    void HostMouseLeave();
    // False when the press fell on the caption (the host then moves the window).
    bool HostButtonDown(Point pt, uint32_t modifiers, bool doubleClick);
    void HostButtonUp(Point pt);
    void HostWheel(Point pt, bool up);
    void HostKeyDown(WPARAM key, uint32_t modifiers);
    void HostChar(const std::string& utf8);
    void HostCloseRequest();
    // The window lost the keyboard focus to another application or window.
    virtual void HostFocusLost() {}

  protected:
    // After the layout is loaded and before "windowinit".
    virtual void InitWindow() {}
    // The window is gone; a window that owns itself may delete itself here.
    virtual void OnFinalMessage() {}
    // "click" notifications not handled elsewhere: "okbtn" closes with IDOK, "cancelbtn" and
    // "closebtn" with IDCANCEL.
    virtual void OnClick(TNotifyUI& msg);
    void HandleNotify(TNotifyUI& msg) override;

    CPaintManagerUI pm_;

  private:
    void Destroy(UINT result);

    struct ModalState;
    WindowHandle handle_ = 0;
    WindowImplBase* owner_ = nullptr;
    std::unique_ptr<INativeWindow> native_;
    std::shared_ptr<ModalState> state_;
    std::vector<std::string> captionExempt_;
};

}  // namespace UiLib
