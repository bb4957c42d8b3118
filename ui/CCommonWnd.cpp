#include "ui/CCommonWnd.h"

#include "skin/layouts/CommonWnd.h"
#include "ui/OpenLink.h"

namespace tolvane {

CCommonWnd::CCommonWnd() : CPopUpWnd("xml\\CommonWnd.xml") {}

void CCommonWnd::OnWindowInit() {
    skin::CommonWndLayout ui(pm_);
    if (UiLib::CButtonUI* link = ui.BtnUrlItunes()) {
        link->Bind("click", UiLib::CDelegate(this, &CCommonWnd::OnLink));
    }
}

void CCommonWnd::OnLink(UiLib::TNotifyUI& /*msg*/) {
    OpenLinkPage(std::string("usbmuxd"));
}

}  // namespace tolvane
