// Start-up and shut-down of the application on the current window host: one instance only (a
// second start brings the first window forward, or says "Tolvane is running."), the main window
// created, centred and shown, the message loop, exit code 0.
#pragma once

#include "platform/SingleInstance.h"

namespace tolvane {

// The name of the single-instance lock and of the socket a second start knocks on.
inline constexpr const char* kInstanceName = "Tolvane_2015_For_Windows";

// Opens the skin archive linked into the program; false when it cannot be read.
bool UseProgramSkin();

// Runs the application; returns the process's exit code (0).
int RunApplication(platform::SingleInstance& instance);

}  // namespace tolvane
