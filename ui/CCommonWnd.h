// The notice shown at start-up when the usbmux service the phone is reached through is missing
// (IsAppleSoftwareInstalled is false). Its texts come from the language file's "CommonWnd"
// section; its link button "BtnUrlItunes" opens the page "usbmuxd" of the link table (by default
// the user guide's section on installing the service) and leaves the notice open; "okbtn" ends
// with 1, "closebtn" with 2.
//
//   CCommonWnd notice;
//   notice.Create(main, 570, 220);
//   notice.ShowModal();
#pragma once

#include <string>

#include "ui/CPopUpWnd.h"

namespace tolvane {

class CCommonWnd : public CPopUpWnd {
  public:
    CCommonWnd();
    std::string GetWindowClassName() const override { return "UICommonWnd"; }

  protected:
    void OnWindowInit() override;

  private:
    void OnLink(UiLib::TNotifyUI& msg);
};

}  // namespace tolvane
