// Where the main window and start-up open the popups: the notice of a missing usbmux service,
// the settings window, the pages of the link table, the password window for the phone, and the
// "Tolvane is running." box of a second start.
#pragma once

#include "UiLib/WinDefs.h"

namespace tolvane {

class CMainWnd;

void ShowMissingServiceNotice(CMainWnd& main);
void OpenSettingsWindow(CMainWnd& main);
void OpenLinkPage(CMainWnd& main, UiLib::WPARAM page);
UiLib::UINT AskDevicePasswordWindow(CMainWnd& main);
void ShowAlreadyRunning();

}  // namespace tolvane
