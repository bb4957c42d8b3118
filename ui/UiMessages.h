// The numeric window messages of the application's own windows.
#pragma once

#include "UiLib/WinDefs.h"

namespace tolvane {

// Main window (posted by the window itself, the connect timer, the phone card and the menu).
inline constexpr UiLib::UINT UM_CONNECT = 0x401;    // start a connection attempt unless one runs
inline constexpr UiLib::UINT UM_SETTINGS = 0x403;   // open the settings window
inline constexpr UiLib::UINT UM_OPEN_LINK = 0x404;  // open page wParam of the link table

// Progress windows: ask the cancel question (a close from the window manager).
inline constexpr UiLib::UINT UM_ASK_CANCEL = 0x410;

}  // namespace tolvane
