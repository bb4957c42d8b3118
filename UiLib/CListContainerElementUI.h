// One item of a list: a container of controls painted with the list's item colours.
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

  private:
    bool selected_ = false;
};

}  // namespace UiLib
