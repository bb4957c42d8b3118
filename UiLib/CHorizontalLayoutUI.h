// Stacks its children left to right (CBoxLayout::ArrangeHorizontal).
#pragma once

#include "UiLib/CContainerUI.h"

namespace UiLib {

class CHorizontalLayoutUI : public CContainerUI {
  public:
    std::string GetClass() const override { return "HorizontalLayoutUI"; }

  protected:
    int ArrangeChildren(const Rect& inner, int scrollOffset) override;
};

}  // namespace UiLib
