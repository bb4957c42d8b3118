// The restore progress window: runs RunRestore of the chosen backup. A restore by category first
// takes a fresh backup of the phone ("Analyzing ..."), then writes the phone ("Restoring ...");
// from the moment the phone is written the bar counts again from 0 and the run can no longer be
// cancelled.
#pragma once

#include "store/Catalogue.h"
#include "ui/CProgressWnd.h"
#include "ui/CVrtWndRestore.h"

namespace tolvane {

class CProWndRestore : public CProgressWnd {
  public:
    // The phase of a run as the progress reports show it.
    enum Phase : int {
        kPhaseNone = 0,       // no report yet
        kPhaseAnalyzing = 1,  // the fresh backup of the phone
        kPhaseRestoring = 2,  // the phone is being written
    };

    CProWndRestore(CMainWnd& main, BackupEntry entry, uint32_t categories, RestoreSource source,
                   std::wstring devicePassword);

    int ImportPhase() const;

  protected:
    uint32_t Categories() const override { return categories_; }
    int32_t RunOperation(BackupEngine& engine, bool deviceEncrypted) override;
    void OnPhase(bool isBackup) override;

  private:
    BackupEntry entry_;
    uint32_t categories_;
    RestoreSource source_;
    std::wstring devicePassword_;
    int phase_ = kPhaseNone;  // under the progress lock
};

// The start handler's run of a restore: 500 x 300, the restore texts; the ProgressResult.
UiLib::UINT RunRestoreWindow(CMainWnd& main, const BackupEntry& entry, uint32_t categories,
                             RestoreSource source, const std::wstring& devicePassword);

}  // namespace tolvane
