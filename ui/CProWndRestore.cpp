#include "ui/CProWndRestore.h"

#include <cstdio>

#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "ui/CMainWnd.h"

namespace tolvane {

CProWndRestore::CProWndRestore(CMainWnd& main, BackupEntry entry, uint32_t categories,
                               RestoreSource source, std::wstring devicePassword)
    : CProgressWnd(main, "xml\\ProWndRestore.xml", "UIProWndRestore"),
      entry_(std::move(entry)),
      categories_(categories),
      source_(source),
      devicePassword_(std::move(devicePassword)) {}

int CProWndRestore::ImportPhase() const {
    std::lock_guard lock(State().lock);
    return phase_;
}

int32_t CProWndRestore::RunOperation(BackupEngine& engine, bool deviceEncrypted) {
    {
        std::lock_guard lock(State().lock);
        phase_ = kPhaseNone;
    }
    const std::wstring backupPasswordText = Main().GetBackupPassword();
    const std::string backupPassword = platform::WideToAnsi(backupPasswordText);
    const std::string devicePassword = platform::WideToAnsi(devicePassword_);
    return engine.RunRestore(backupPasswordText.empty() ? nullptr : backupPassword.c_str(),
                             entry_.folder, deviceEncrypted ? devicePassword.c_str() : nullptr,
                             source_ == RestoreSource::ItunesBackups);
}

void CProWndRestore::OnPhase(bool isBackup) {
    std::printf("bIsBackup: %d\n", isBackup ? 1 : 0);
    if (isBackup) {
        if (phase_ == kPhaseNone) {
            phase_ = kPhaseAnalyzing;
            SetTipsLocked(L"Analyzing your iOS device, it will take some time, please wait...");
        }
        return;
    }
    // The first report of the restore itself: the phone is being written from here on, whether
    // a fresh backup came first (a restore by category) or not (a whole backup), and a run
    // stopped now would leave it half restored.
    if (phase_ != kPhaseRestoring) {
        phase_ = kPhaseRestoring;
        SetCancelEnabledLocked(false);
        SetTipsLocked(L"Restoring your iOS device, it will take some time, please wait...");
        ResetBarLocked();
    }
}

UiLib::UINT RunRestoreWindow(CMainWnd& main, const BackupEntry& entry, uint32_t categories,
                             RestoreSource source, const std::wstring& devicePassword) {
    CProWndRestore window(main, entry, categories, source, devicePassword);
    return RunProgressWindow(main, window, 500, 300,
                             {L"The selected data are restored completely!",
                              L"Sorry, the selected data are restored unsuccessfully!"},
                             [&main] { main.GoHome(); });
}

}  // namespace tolvane
