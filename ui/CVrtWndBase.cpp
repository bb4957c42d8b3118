#include "ui/CVrtWndBase.h"

#include "ui/CMainWnd.h"

namespace tolvane {

void CVrtWndBase::Attach(CMainWnd* owner) {
    owner_ = owner;
    pm_ = owner != nullptr ? &owner->GetPaintManager() : nullptr;
}

}  // namespace tolvane
