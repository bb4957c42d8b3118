#include "ui/WindowSettings.h"

#include <atomic>

namespace tolvane {
namespace {
std::atomic<const AppSettings*> g_testSettings{nullptr};
}

const AppSettings& WindowSettings() {
    const AppSettings* settings = g_testSettings.load();
    return settings != nullptr ? *settings : AppSettings::Get();
}

void SetWindowSettingsForTesting(const AppSettings* settings) {
    g_testSettings.store(settings);
}

}  // namespace tolvane
