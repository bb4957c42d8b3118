// The settings the windows read their texts and config.ini from: the process's AppSettings, or
// the one a test puts in its place.
#pragma once

#include "app/AppSettings.h"

namespace tolvane {

// AppSettings::Get(), unless a test has set its own.
const AppSettings& WindowSettings();
// Only for tests: the settings every window uses from now on; null goes back to AppSettings::Get().
void SetWindowSettingsForTesting(const AppSettings* settings);

}  // namespace tolvane
