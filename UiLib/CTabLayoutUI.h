// Shows one child at a time; selecting another raises "tabselect" (wParam new, lParam old).
#pragma once

#include "UiLib/CContainerUI.h"

namespace UiLib {

class CTabLayoutUI : public CContainerUI {
  public:
    std::string GetClass() const override { return "TabLayoutUI"; }

    int GetCurSel() const;
    // False for an index without a page. Selecting the current page changes nothing.
    bool SelectItem(int index);
    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    bool RemoveAt(int index, bool keep = false) override;
    void RemoveAll() override;
    bool SetAttribute(const std::string& name, const std::string& value) override;
    void SetVisible(bool visible) override;

  protected:
    int ArrangeChildren(const Rect& inner, int scrollOffset) override;

  private:
    void ShowSelected();
    int curSel_ = -1;
    int initialSel_ = -1;  // selectedid of a page not added yet
};

}  // namespace UiLib
