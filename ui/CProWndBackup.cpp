#include "ui/CProWndBackup.h"

#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "ui/CMainWnd.h"

namespace tolvane {

CProWndBackup::CProWndBackup(CMainWnd& main, uint32_t categories, std::wstring password)
    : CProgressWnd(main, "xml\\ProWndBackup.xml", "UIProWndBackup"),
      categories_(categories),
      password_(std::move(password)),
      folder_(main.BackupFolder()) {}

int32_t CProWndBackup::RunOperation(BackupEngine& engine, bool deviceEncrypted) {
    const std::string password = platform::WideToAnsi(password_);
    return engine.RunBackup(platform::PathToBytes(folder_),
                            deviceEncrypted ? password.c_str() : nullptr);
}

UiLib::UINT RunBackupWindow(CMainWnd& main, uint32_t categories, const std::wstring& password) {
    CProWndBackup window(main, categories, password);
    return RunProgressWindow(main, window, 500, 250,
                             {L"The selected data are backed up completely!",
                              L"Sorry, the selected data are backed up unsuccessfully!"},
                             [&main] { main.GoHome(); });
}

}  // namespace tolvane
