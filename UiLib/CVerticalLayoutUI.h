// Stacks its children top-down (CBoxLayout::ArrangeVertical).
#pragma once

#include "UiLib/CContainerUI.h"

namespace UiLib {

class CVerticalLayoutUI : public CContainerUI {
  public:
    std::string GetClass() const override { return "VerticalLayoutUI"; }

  protected:
    int ArrangeChildren(const Rect& inner, int scrollOffset) override;
};

}  // namespace UiLib
