// A control holding children. The base container gives every child its whole inner rectangle;
// the vertical, horizontal and tab layouts arrange them (CBoxLayout). A container with a vertical
// scroll bar scrolls its content with the wheel and draws a thin bar.
#pragma once

#include <vector>

#include "UiLib/CControlUI.h"

namespace UiLib {

class CContainerUI : public CControlUI {
  public:
    CContainerUI() = default;
    ~CContainerUI() override;

    std::string GetClass() const override { return "ContainerUI"; }
    CContainerUI* AsContainer() override { return this; }

    int GetCount() const;
    CControlUI* GetItemAt(int index) const;
    int GetItemIndex(CControlUI* control) const;
    // Takes ownership; false for null.
    virtual bool Add(CControlUI* control);
    virtual bool AddAt(CControlUI* control, int index);
    // Removes and deletes (or, with `keep`, hands back ownership to the caller).
    virtual bool Remove(CControlUI* control, bool keep = false);
    virtual bool RemoveAt(int index, bool keep = false);
    virtual void RemoveAll();

    Rect GetInset() const;
    void SetInset(const Rect& rc);
    int GetChildPadding() const;
    void SetChildPadding(int padding);
    std::string GetOwnVirtualWnd() const;
    void SetVirtualWnd(const std::string& name);
    bool HasVScrollBar() const;
    void EnableVScrollBar(bool enable);
    int GetScrollPos() const;
    int GetScrollRange() const;  // how far the content can scroll
    void SetScrollPos(int pos);

    void SetPos(const Rect& rc) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;
    CControlUI* FindControl(const std::string& name) override;
    CControlUI* FindControlAt(Point pt) override;
    bool SetAttribute(const std::string& name, const std::string& value) override;
    void DoEvent(TEventUI& event) override;
    void DoPaint(Painter& painter, const Rect& clip) override;

  protected:
    // Places the children inside `inner` (the rectangle less the inset); returns the height the
    // flow of children needs (for scrolling).
    virtual int ArrangeChildren(const Rect& inner, int scrollOffset);
    void PaintScrollBar(Painter& painter);
    static constexpr int kScrollBarWidth = 6;

    std::vector<CControlUI*> items_;
    Rect inset_;
    int childPadding_ = 0;
    std::string virtualWnd_;
    bool vscroll_ = false;
    int scrollPos_ = 0;
    int contentHeight_ = 0;
};

}  // namespace UiLib
