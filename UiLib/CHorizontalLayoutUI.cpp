#include "UiLib/CHorizontalLayoutUI.h"

#include "UiLib/CBoxLayout.h"

namespace UiLib {

int CHorizontalLayoutUI::ArrangeChildren(const Rect& inner, int /*scrollOffset*/) {
    CBoxLayout::ArrangeHorizontal(inner, items_, childPadding_);
    return inner.Height();
}

}  // namespace UiLib
