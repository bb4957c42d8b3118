// The list of a popup menu; its items are CMenuElementUI.
#pragma once

#include "UiLib/CListUI.h"

namespace UiLib {

class CMenuUI : public CListUI {
  public:
    CMenuUI();
    std::string GetClass() const override { return "MenuUI"; }
    // The height the visible items need (with the inset), for sizing the menu window.
    int GetContentHeight() const;
};

}  // namespace UiLib
