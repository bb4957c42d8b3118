// The home tab: four mode buttons, enabled by the main window's connection check exactly while
// a phone is connected.
#pragma once

#include "UiLib/TNotifyUI.h"
#include "ui/CVrtWndBase.h"

namespace tolvane {

class CVrtWndPanel : public CVrtWndBase {
  public:
    void Init() override;

  private:
    void OnBackupPhone(UiLib::TNotifyUI& msg);
    void OnRestoreFromBackup(UiLib::TNotifyUI& msg);
    void OnRestoreFromItunes(UiLib::TNotifyUI& msg);
    void OnImport(UiLib::TNotifyUI& msg);
};

}  // namespace tolvane
