// The state of one window's control tree: its fonts, defaults and styles, the root control, focus,
// hot and pushed controls, control timers, notification receivers and message filters. It turns
// mouse and keyboard input from the host into control events, lays the tree out when needed and
// paints it.
#pragma once

#include <cairo.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UiLib/CControlUI.h"
#include "UiLib/StyleTable.h"
#include "UiLib/TNotifyUI.h"

namespace UiLib {

class INativeWindow;

struct FontInfo {
    std::string name = "DejaVu Sans";
    int size = 12;  // pixels
    bool bold = false;
    bool underline = false;
    bool italic = false;
};

class CPaintManagerUI {
  public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // --- window properties of the layout ------------------------------------------------
    Size GetInitSize() const;
    void SetInitSize(Size size);
    Rect GetCaptionRect() const;  // "0,0,0,40": the top 40 pixels
    void SetCaptionRect(const Rect& rc);
    Size GetMinInfo() const;
    void SetMinInfo(Size size);
    Size GetRoundCorner() const;
    void SetRoundCorner(Size size);
    Rect GetSizeBox() const;
    void SetSizeBox(const Rect& rc);
    bool IsBkTrans() const;
    void SetBkTrans(bool trans);
    // Whether a point of the client area lies in the caption rectangle.
    bool InCaption(Point pt) const;

    // --- resources of the layout --------------------------------------------------------
    int AddFont(const FontInfo& font, bool isDefault);
    // The font of an index; the default font for -1 or an index the file does not define.
    FontInfo GetFont(int index) const;
    int GetFontCount() const;
    void AddDefaultAttributeList(const std::string& controlClass,
                                 std::shared_ptr<const AttributeList> list);
    const AttributeList* GetDefaultAttributeList(const std::string& controlClass) const;
    void AddStyle(const std::string& name, std::shared_ptr<const AttributeList> list);
    const AttributeList* GetStyle(const std::string& name) const;
    std::shared_ptr<StyleTable> Styles() { return styles_; }

    // --- the tree -----------------------------------------------------------------------
    // Takes ownership of the root (the previous one is deleted).
    void AttachDialog(CControlUI* root);
    CControlUI* GetRoot() const;
    CControlUI* FindControl(const std::string& name) const;
    CControlUI* FindControl(Point pt) const;
    // A control is leaving the tree (removed or deleted): forget it as hot, pushed or focused.
    void ReapObjects(CControlUI* control);

    // --- notifications ------------------------------------------------------------------
    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void AddMessageFilter(IMessageFilterUI* filter);
    void RemoveMessageFilter(IMessageFilterUI* filter);
    // Passes a window message through the filters; true when one claimed it.
    bool FilterMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Delivers a notification to the receivers (called by CControlUI::SendNotify, unlocked).
    void DeliverNotify(TNotifyUI& msg);
    // Binds a handler to the event of the named control; false when there is no such control.
    bool Bind(const std::string& controlName, const std::string& type, CDelegate delegate);

    // --- control timers (user interface thread) -----------------------------------------
    bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
    void KillTimer(CControlUI* control, UINT id);
    void KillTimers(CControlUI* control);

    // --- host ---------------------------------------------------------------------------
    void SetNativeWindow(INativeWindow* window);
    INativeWindow* GetNativeWindow() const;
    // Any thread: repaint soon.
    void Invalidate();
    // Any thread: lay out again before the next paint.
    void NeedUpdate();

    // --- layout and painting (user interface thread) ------------------------------------
    void SetClientSize(Size size);
    Size GetClientSize() const;
    // Lays the tree out if something changed since the last time.
    void UpdateLayout();
    // Paints the whole tree into `cr` (logical pixels; the host sets up the scale).
    void Paint(cairo_t* cr);
    // A new image surface of the client size times `scale` holding the painted window.
    cairo_surface_t* RenderToSurface(double scale = 1.0);

    // --- input (user interface thread) --------------------------------------------------
    void OnMouseMove(Point pt);
    void OnMouseLeave();
    void OnButtonDown(Point pt, uint32_t modifiers, bool doubleClick);
    void OnButtonUp(Point pt);
    void OnWheel(Point pt, bool up);
    // Keys go to the focused control; true when it used the key.
    bool OnKeyDown(WPARAM key, uint32_t modifiers);
    void OnChar(const std::string& utf8);
    void SetFocus(CControlUI* control);
    CControlUI* GetFocus() const;
    CControlUI* GetHot() const;
    // Tab moves the focus to the next enabled edit.
    void MoveFocus(bool forward);

  private:
    void SendEvent(CControlUI* control, TEventUI& event);

    Size initSize_;
    Rect caption_;
    Size minInfo_;
    Size roundCorner_;
    Rect sizeBox_;
    bool bkTrans_ = false;
    std::vector<FontInfo> fonts_;
    FontInfo defaultFont_;
    bool hasDefaultFont_ = false;
    StyleTable defaults_;
    std::shared_ptr<StyleTable> styles_ = std::make_shared<StyleTable>();

    CControlUI* root_ = nullptr;
    CControlUI* hot_ = nullptr;
    CControlUI* pushed_ = nullptr;
    CControlUI* focus_ = nullptr;
    std::vector<INotifyUI*> notifiers_;
    std::vector<IMessageFilterUI*> filters_;
    struct TimerEntry {
        CControlUI* control;
        UINT id;
        uint64_t hostId;
    };
    std::vector<TimerEntry> timers_;
    INativeWindow* native_ = nullptr;
    Size clientSize_;
    bool needLayout_ = true;
};

}  // namespace UiLib
