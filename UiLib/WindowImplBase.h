// A window built from a layout of the skin archive.
//
// Life: construct, Create (layout loaded, native window made, InitWindow called, "windowinit"
// posted), then ShowWindow or ShowModal; WM_CLOSE (Close posts it) asks QueryClose, then ends a
// modal run with its wParam, destroys the native window and calls OnFinalMessage. Messages with
// numeric ids can be posted to a window from any thread through its handle; they are handled on
// the user interface thread, and posting to a window that is gone does nothing.
//
// Modality: while a window runs modally (ShowModal, or a chooser of Choose), every other window
// that existed when it began takes no input: mouse, keys and closes from the window manager are
// dropped (and the modal window is presented instead). Windows opened during the run (its own
// popups) take input as usual; modal runs nest.
//
// Popup menus (CMenuWindow): while one is open, a press in any other window of the process, or
// outside the process, closes the open menus and goes no further; keys go to the topmost menu.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "UiLib/CDialogBuilder.h"
#include "UiLib/CNotifyPump.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Host.h"
#include "UiLib/TNotifyUI.h"
#include "UiLib/WinDefs.h"

namespace UiLib {

// Who asked a window to close.
enum class CloseOrigin {
    Program,  // Close(), a WM_CLOSE posted by code (a worker's result, the menu's Exit)
    System,   // the window manager: Alt+F4, the taskbar, the system menu (SC_CLOSE)
};

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
    // Centres the window on its owner, or in the work area of the screen when it has none.
    void CenterWindow();
    // Sets the text of every control named by a key of `texts` (a section of a language file);
    // keys that name no control are skipped. Returns how many controls were set.
    int ApplyTexts(const std::map<std::wstring, std::wstring>& texts);
    void ShowWindow(bool show = true);
    // Shows the window modally (see Modality above) until it is closed; returns the wParam of
    // the WM_CLOSE that closed it. The window may be deleted (OnFinalMessage) before it returns.
    UINT ShowModal();
    // Posts WM_CLOSE with `ret`.
    void Close(UINT ret = IDOK);
    WindowHandle GetHWND() const { return handle_; }
    CPaintManagerUI& GetPaintManager() { return pm_; }
    INativeWindow* GetNativeWindow() const { return native_.get(); }
    WindowImplBase* GetOwner() const { return owner_; }
    Rect GetWindowRect() const;
    Point ClientToScreen(Point clientPoint) const;
    bool IsClosed() const;
    // False while a modal window that began after this one runs.
    bool IsInputEnabled() const;

    // Escape or Enter (VK_ESCAPE, VK_RETURN) closes the window with `result` (nothing: the key
    // goes to the focused control, as by default for both keys).
    void SetCloseOnKey(WPARAM key, std::optional<UINT> result);

    // The window's icon: an image string of the skin ("file='MainWnd.png' source='0,0,28,28'"),
    // drawn into a small and a large square (the "@2x" picture where there is one). False when
    // the picture cannot be had.
    bool SetIcon(const std::string& imageString);
    // A square image of `size` pixels drawn from an image string (the caller owns it); null
    // when the picture cannot be had.
    static cairo_surface_t* RenderIcon(const std::string& imageString, int size);

    // Shows the window normally and raises it with the focus; when a modal window keeps it from
    // input, that one is raised instead.
    void BringToFront();

    // Runs a chooser owned by this window, modally (see Modality). The path, or nothing when
    // the user cancelled.
    std::optional<std::wstring> Choose(const ChooserRequest& request);
    std::optional<std::wstring> ChooseFile(const std::wstring& title,
                                           const std::wstring& filterName,
                                           const std::wstring& pattern);
    std::optional<std::wstring> ChooseFolder(const std::wstring& title,
                                             const std::wstring& initial);

    // Any thread. False when the window is gone (or there is no host).
    static bool PostMessage(WindowHandle window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Any thread: the message is handled once `delay` has passed (if the window still exists).
    static bool PostDelayedMessage(WindowHandle window, std::chrono::milliseconds delay, UINT msg,
                                   WPARAM wParam = 0, LPARAM lParam = 0);
    // Any thread: BringToFront on the user interface thread.
    static bool PostBringToFront(WindowHandle window);
    static bool IsWindow(WindowHandle window);
    // User interface thread: the window of a handle, null when it is gone.
    static WindowImplBase* FromHandle(WindowHandle window);
    // User interface thread: the innermost window running modally, null when none.
    static WindowImplBase* TopModal();
    // User interface thread: the topmost open popup menu, null when none.
    static WindowImplBase* TopPopup();
    // User interface thread: runs until PostQuitMessage; returns its exit code.
    static int MessageLoop();
    static void PostQuitMessage(int exitCode);

    // Handles one message; derived windows handle theirs and pass the rest on.
    virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // The message filter: Escape and Enter close the window only as SetCloseOnKey says.
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
    // Input to a window that IsInputEnabled() denies is dropped here.
    void HostPaint(cairo_t* cr);
    void HostResize(Size client);
    virtual void HostMouseMove(Point pt);
    void HostMouseLeave();
    // False when the press fell on the caption (the host then moves the window).
    bool HostButtonDown(Point pt, uint32_t modifiers, bool doubleClick);
    void HostButtonUp(Point pt);
    void HostWheel(Point pt, bool up);
    void HostKeyDown(WPARAM key, uint32_t modifiers);
    void HostChar(const std::string& utf8);
    // The window manager asks the window to close (WM_SYSCOMMAND SC_CLOSE).
    void HostCloseRequest();
    // The window lost the keyboard focus or its pointer grab to another application or window.
    virtual void HostFocusLost() {}

  protected:
    // After the layout is loaded and before "windowinit".
    virtual void InitWindow() {}
    // Every WM_CLOSE asks first; false refuses it and the window stays as it is (a close from
    // the window manager during a run, a progress window whose worker still writes to it).
    virtual bool QueryClose(UINT result, CloseOrigin origin);
    // The window is gone; a window that owns itself may delete itself here.
    virtual void OnFinalMessage() {}
    // "click" notifications not handled elsewhere: "okbtn" closes with IDOK, "cancelbtn" and
    // "closebtn" with IDCANCEL. A bound handler that claims a click (returns true) keeps it from
    // here; it may also call WindowImplBase::OnClick itself to fall back.
    virtual void OnClick(TNotifyUI& msg);
    void HandleNotify(TNotifyUI& msg) override;

    // Popup menus: created as a popup (placed exactly, no decoration, no taskbar entry), then
    // tracked: OnPopupDismiss is called for a press outside every open popup, OnPopupKey for
    // the keys of the process while this is the topmost popup.
    void SetPopupMenuWindow() { popupMenu_ = true; }
    void BeginPopupTracking();
    void EndPopupTracking();
    virtual void OnPopupDismiss() {}
    virtual void OnPopupKey(WPARAM key) { (void)key; }
    // Closes every open popup menu; true when there was one.
    static bool DismissPopups();

    CPaintManagerUI pm_;

  private:
    class ModalScope;
    void Destroy(UINT result);
    void DisableInput();
    void EnableInput();
    // A press on this window at `pt` while popup menus are open: true when it closed them.
    bool PressDismissesPopups(Point pt);

    struct ModalState;
    WindowHandle handle_ = 0;
    WindowImplBase* owner_ = nullptr;
    std::unique_ptr<INativeWindow> native_;
    std::shared_ptr<ModalState> state_;
    std::vector<std::string> captionExempt_;
    std::map<WPARAM, UINT> keyCloses_;
    bool popupMenu_ = false;
};

}  // namespace UiLib
