#include "UiLib/CVerticalLayoutUI.h"

#include "UiLib/CBoxLayout.h"

namespace UiLib {

int CVerticalLayoutUI::ArrangeChildren(const Rect& inner, int scrollOffset) {
    return CBoxLayout::ArrangeVertical(inner, items_, childPadding_, scrollOffset);
}

}  // namespace UiLib
