#include "ui/MainWndHooks.h"

#include "ui/CCommonWnd.h"
#include "ui/CDecryptionWnd.h"
#include "ui/CMainWnd.h"
#include "ui/CMessageBox.h"
#include "ui/CSettingsWnd.h"
#include "ui/OpenLink.h"

namespace tolvane {

void ShowMissingServiceNotice(CMainWnd& main) {
    CCommonWnd notice;
    if (notice.Create(&main, 570, 220) != 0) {
        notice.ShowModal();
    }
}

void OpenSettingsWindow(CMainWnd& main) {
    CSettingsWnd settings;
    settings.SetMainWnd(&main);
    if (settings.Create(&main, 550, 220) != 0) {
        settings.ShowModal();  // a stored folder is given to the main window by the window
    }
}

void OpenLinkPage(CMainWnd&, UiLib::WPARAM page) {
    OpenLinkPage(static_cast<int>(page));  // any other number opens nothing
}

UiLib::UINT AskDevicePasswordWindow(CMainWnd& main) {
    CDecryptionWnd window;
    window.SetMainWnd(&main);
    window.SetMode(CDecryptionWnd::kDevice);
    if (window.Create(&main, 500, 240) == 0) {
        return UiLib::IDCANCEL;
    }
    // A correct password is stored in the main window (device and backup password) by the
    // window itself, and the phone no longer encrypts.
    return window.ShowModal();
}

UiLib::UINT AskBackupPasswordWindow(CMainWnd& main, const std::string& folder,
                                    const std::wstring& known) {
    CDecryptionWnd window;
    window.SetMainWnd(&main);
    window.SetMode(CDecryptionWnd::kBackup);
    window.SetBackupFolder(folder);
    window.SetPasswordToTry(known);
    if (window.Create(&main, 500, 240) == 0) {
        return UiLib::IDCANCEL;
    }
    return window.ShowModal();
}

void ShowAlreadyRunning() {
    CMessageBox::Show(CMessageBox::Information, nullptr, std::nullopt, L"Tolvane is running.", 350,
                      180);
}

}  // namespace tolvane
