// The backup progress window: runs RunBackup into the backup folder of the settings.
#pragma once

#include "ui/CProgressWnd.h"

namespace tolvane {

class CProWndBackup : public CProgressWnd {
  public:
    CProWndBackup(CMainWnd& main, uint32_t categories, std::wstring password);

    // The folder the run backs up into (the settings' folder, else the default root).
    std::wstring BackupFolder() const { return folder_; }

  protected:
    uint32_t Categories() const override { return categories_; }
    int32_t RunOperation(BackupEngine& engine, bool deviceEncrypted) override;

  private:
    uint32_t categories_;
    std::wstring password_;
    std::wstring folder_;
};

// The start handler's run of a backup: 500 x 250, the backup texts; the ProgressResult.
UiLib::UINT RunBackupWindow(CMainWnd& main, uint32_t categories, const std::wstring& password);

}  // namespace tolvane
