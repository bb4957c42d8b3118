// Where the main window and start-up open the popups: the notice of a missing usbmux service,
// the settings window, the pages of the link table, the password window for the phone, and the
// "Tolvane is running." box of a second start.
#pragma once

#include <string>

#include "UiLib/WinDefs.h"

namespace tolvane {

class CMainWnd;

void ShowMissingServiceNotice(CMainWnd& main);
void OpenSettingsWindow(CMainWnd& main);
void OpenLinkPage(CMainWnd& main, UiLib::WPARAM page);
UiLib::UINT AskDevicePasswordWindow(CMainWnd& main);
// The password window for the encrypted backup in `folder`, 500 x 240: 1 when the password was
// right (the main window's backup password then holds it), 2 when the user gave up. A `known`
// password is checked first, in the window with its progress; the window asks only when it is
// refused.
UiLib::UINT AskBackupPasswordWindow(CMainWnd& main, const std::string& folder,
                                    const std::wstring& known = {});
void ShowAlreadyRunning();

}  // namespace tolvane
