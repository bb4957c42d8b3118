// The assist menu of the main window ("BtnMenu"): settings, help pages, about, support and exit,
// each posted to the main window as its message.
#pragma once

#include "UiLib/CMenuWindow.h"

namespace tolvane {

class CAssistMenu : public UiLib::CMenuWindow {
  public:
    // Opens the menu under `anchor` of `owner`; from then on the menu owns itself.
    static CAssistMenu* Open(UiLib::WindowImplBase* owner, UiLib::CControlUI* anchor);

    // The message and wParam an item posts; false for items that post nothing.
    static bool MessageOf(const std::string& item, UiLib::UINT& msg, UiLib::WPARAM& wParam);

  protected:
    void HandleNotify(UiLib::TNotifyUI& msg) override;
    void OnMenuItemClick(UiLib::CMenuElementUI* item) override;

  private:
    void FillLanguages();
};

}  // namespace tolvane
