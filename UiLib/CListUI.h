// A list of items (CListContainerElementUI) stacked top-down with a vertical scroll bar. Pressing
// an item selects it and raises "itemselect" (wParam new index, lParam old index); releasing it
// raises "itemclick" from the item.
#pragma once

#include "UiLib/CVerticalLayoutUI.h"

namespace UiLib {

struct ListItemColors {
    Color bk = 0;
    Color hotBk = 0;
    Color selectedBk = 0;
    Color line = 0;
    Color text = 0;
    Color hotText = 0;
    Color selectedText = 0;
    bool altBk = false;
};

class CListUI : public CVerticalLayoutUI {
  public:
    CListUI();
    std::string GetClass() const override { return "ListUI"; }

    int GetCurSel() const;
    // Selects item `index` (-1: none). Selecting the current item changes nothing.
    bool SelectItem(int index);
    ListItemColors GetItemColors() const;

    bool AddAt(CControlUI* control, int index) override;
    bool RemoveAt(int index, bool keep = false) override;
    void RemoveAll() override;
    bool SetAttribute(const std::string& name, const std::string& value) override;

  private:
    int curSel_ = -1;
    ListItemColors colors_;
};

}  // namespace UiLib
