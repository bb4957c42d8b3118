// One item of a list: a container of controls painted with the list's item colours. An item
// placed in a container inside the list (rows a control lays out itself) takes the colours of
// the nearest list above it, though it is no item of that list (no index, no selection).
#pragma once

#include "UiLib/CVerticalLayoutUI.h"

namespace UiLib {

class CListUI;

class CListContainerElementUI : public CVerticalLayoutUI {
  public:
    std::string GetClass() const override { return "ListContainerElementUI"; }

    // The list holding this item (null outside a list).
    CListUI* GetOwnerList() const;
    int GetIndex() const;
    bool IsSelected() const;
    // Called by the list; does not notify.
    void SetSelectedState(bool selected);

    void DoEvent(TEventUI& event) override;

  protected:
    void PaintBkColor(Painter& painter) override;
    void PaintBorder(Painter& painter) override;
    bool IsHotItem() const;
    // The list whose item colours paint this item: the owner list, else the nearest above.
    CListUI* ColourList() const;

  private:
    bool selected_ = false;
};

}  // namespace UiLib
