// The base of every control: name, text, geometry, state, attributes, painting and events.
//
// All members may be called from any thread: state is guarded by the framework's lock (UiLock.h)
// and a change only requests a repaint, which the host carries out on the user interface thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UiLib/CDelegate.h"
#include "UiLib/StyleTable.h"
#include "UiLib/TNotifyUI.h"
#include "UiLib/UiTypes.h"

namespace UiLib {

class CPaintManagerUI;
class CContainerUI;
class Painter;

enum class UiEvent {
    MouseMove,
    MouseEnter,
    MouseLeave,
    ButtonDown,
    ButtonUp,
    DblClick,
    ScrollWheel,
    KeyDown,
    Char,
    SetFocus,
    KillFocus,
    Timer,
};

struct TEventUI {
    UiEvent type = UiEvent::MouseMove;
    Point ptMouse;
    WPARAM wParam = 0;  // key code, timer id, wheel direction (1 up, 0 down)
    std::string text;   // UTF-8 text of a Char event (from the keyboard or an input method)
    uint32_t modifiers = 0;
};

enum : uint32_t {
    kModShift = 1,
    kModControl = 2,
};

enum : uint32_t {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
};

// Text layout flags for painting.
enum : uint32_t {
    DT_LEFT = 0x0,
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_TOP = 0x0,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_END_ELLIPSIS = 0x8000,
};

class CControlUI {
  public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // The control class as the caption hit test and the layout's Default elements name it.
    virtual std::string GetClass() const { return "ControlUI"; }
    virtual CContainerUI* AsContainer() { return nullptr; }

    std::string GetName() const;
    void SetName(const std::string& name);
    std::wstring GetText() const;
    virtual void SetText(const std::wstring& text);
    std::wstring GetToolTip() const;

    // --- geometry -----------------------------------------------------------------------
    Rect GetPos() const;
    // Places the control (the layout calls this); containers arrange their children here.
    virtual void SetPos(const Rect& rc);
    int GetFixedWidth() const;
    int GetFixedHeight() const;
    void SetFixedWidth(int cx);
    void SetFixedHeight(int cy);
    Rect GetPadding() const;
    void SetPadding(const Rect& rc);
    bool IsFloat() const;
    void SetFloat(bool f);
    Rect GetFloatPos() const;
    void SetFloatPos(const Rect& rc);
    // The size the control asks for inside `available`; 0 in a direction means "fill".
    virtual Size EstimateSize(Size available) const;

    // --- state --------------------------------------------------------------------------
    bool IsVisible() const;  // its own flag and, for tab pages, the tab's choice
    virtual void SetVisible(bool visible);
    void SetInternVisible(bool visible);
    bool IsEnabled() const;
    virtual void SetEnabled(bool enabled);
    bool IsMouseEnabled() const;
    void SetMouseEnabled(bool enabled);
    uint32_t GetState() const;
    bool IsFocused() const;
    virtual bool IsFocusable() const { return false; }
    Color GetBkColor() const;
    void SetBkColor(Color c);
    std::string GetBkImage() const;
    void SetBkImage(const std::string& image);
    uintptr_t GetTag() const;
    void SetTag(uintptr_t tag);

    // Applies a named style: the window's styles first, then those of the file the control was
    // built from. False (and a reported fault) when no such style exists.
    bool SetStyle(const std::string& styleName);
    // One attribute as the layout writes it. False for an unknown attribute; a malformed value
    // is reported and leaves the attribute unchanged. The overrides compare `name` and `value`
    // as string views, which compare lengths first: a string compared with a literal compares
    // bytes for every name of the chain, and every window built runs these chains for each
    // attribute of each control.
    virtual bool SetAttribute(const std::string& name, const std::string& value);
    // `a="1" b="x"` as Default elements write it.
    void ApplyAttributeList(const std::string& list);

    // --- tree ---------------------------------------------------------------------------
    CControlUI* GetParent() const;
    CPaintManagerUI* GetManager() const;
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);
    // The control of this name in this subtree.
    virtual CControlUI* FindControl(const std::string& name);
    // The deepest visible control under a point that takes the mouse.
    virtual CControlUI* FindControlAt(Point pt);
    // The virtualwnd of the nearest enclosing container that has one.
    std::string GetVirtualWnd() const;
    // Styles of the file this control was built from.
    void SetFileStyles(std::shared_ptr<const StyleTable> styles);

    // --- events -------------------------------------------------------------------------
    // Binds a handler to one notification type of this control ("click", "selectchanged", ...).
    void Bind(const std::string& type, CDelegate delegate);
    // Removes every handler bound to member functions of `owner`.
    void Unbind(const void* owner);
    // Raises a notification: bound handlers first (in binding order, until one claims it),
    // then the window's receivers.
    void SendNotify(const std::string& type, WPARAM wParam = 0, LPARAM lParam = 0);
    virtual void DoEvent(TEventUI& event);
    // What a click does (buttons notify "click", options change their selection).
    virtual bool Activate();

    // --- painting -----------------------------------------------------------------------
    virtual void DoPaint(Painter& painter, const Rect& clip);
    void Invalidate();
    // The layout must be computed again (size, visibility or children changed).
    void NeedUpdate();
    void NeedParentUpdate();

    std::weak_ptr<int> AliveToken() const { return alive_; }

  protected:
    virtual void PaintBkColor(Painter& painter);
    virtual void PaintBkImage(Painter& painter);
    virtual void PaintStatusImage(Painter& painter);
    virtual void PaintText(Painter& painter);
    virtual void PaintBorder(Painter& painter);
    // Reports a malformed attribute value once.
    void ReportBadValue(const std::string& attr, const std::string& value) const;

    // Guarded by the framework lock.
    CPaintManagerUI* manager_ = nullptr;
    CControlUI* parent_ = nullptr;
    std::string name_;
    std::wstring text_;
    std::wstring toolTip_;
    Rect rcItem_;
    Rect rcPadding_;
    Rect rcFloatPos_;
    Size fixed_;
    bool float_ = false;
    bool visible_ = true;
    bool internVisible_ = true;
    bool enabled_ = true;
    bool mouseEnabled_ = true;
    bool focused_ = false;
    uint32_t buttonState_ = 0;  // UISTATE_HOT / UISTATE_PUSHED
    Color bkColor_ = 0;
    Color borderColor_ = 0;
    int borderSize_ = 0;
    std::string bkImage_;
    uintptr_t tag_ = 0;
    std::shared_ptr<const StyleTable> fileStyles_;

  private:
    std::vector<std::pair<std::string, CDelegate>> delegates_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace UiLib
