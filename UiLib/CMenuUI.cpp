#include "UiLib/CMenuUI.h"

#include "UiLib/UiLock.h"

namespace UiLib {

CMenuUI::CMenuUI() {
    vscroll_ = false;
}

int CMenuUI::GetContentHeight() const {
    UiGuard guard;
    int height = inset_.top + inset_.bottom;
    for (const CControlUI* c : items_) {
        if (c->IsVisible() && !c->IsFloat()) {
            const Rect pad = c->GetPadding();
            height += c->GetFixedHeight() + pad.top + pad.bottom;
        }
    }
    return height;
}

}  // namespace UiLib
