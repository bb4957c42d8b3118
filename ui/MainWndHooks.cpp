#include "ui/MainWndHooks.h"

#include "ui/CDecryptionWnd.h"
#include "ui/CMainWnd.h"
#include "ui/CMessageBox.h"

namespace tolvane {

void ShowMissingServiceNotice(CMainWnd&) {}

void OpenSettingsWindow(CMainWnd&) {}

void OpenLinkPage(CMainWnd&, UiLib::WPARAM) {}

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

void ShowAlreadyRunning() {
    CMessageBox::Show(CMessageBox::Information, nullptr, std::nullopt, L"Tolvane is running.", 350,
                      180);
}

}  // namespace tolvane
