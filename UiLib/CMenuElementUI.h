// An item of a popup menu: a text with an optional icon (bkimage), and optional sub-items
// (nested MenuElement elements) that are kept apart from the item's own layout.
#pragma once

#include <vector>

#include "UiLib/CListContainerElementUI.h"

namespace UiLib {

class CMenuElementUI : public CListContainerElementUI {
  public:
    CMenuElementUI();
    ~CMenuElementUI() override;
    std::string GetClass() const override { return "MenuElementUI"; }

    bool Add(CControlUI* control) override;
    bool AddAt(CControlUI* control, int index) override;
    int GetSubItemCount() const;
    CMenuElementUI* GetSubItemAt(int index) const;
    void RemoveAllSubItems();
    // Sub-items added in code (the language list).
    void AddSubItem(CMenuElementUI* item);

    bool SetAttribute(const std::string& name, const std::string& value) override;

  protected:
    void PaintText(Painter& painter) override;

  private:
    std::vector<CMenuElementUI*> subItems_;
    int font_ = -1;
    Color textColor_ = 0xFF454545;
    Color hotTextColor_ = 0;
    Color disabledTextColor_ = 0xFFA8B0B8;
    Rect textPadding_{36, 0, 8, 0};
};

}  // namespace UiLib
