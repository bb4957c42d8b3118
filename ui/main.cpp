// tolvane: the program a user starts. It reads no command-line arguments.
#include <cstdio>

#include "UiLib/GtkHost.h"
#include "platform/SingleInstance.h"
#include "ui/Startup.h"

int main() {
    auto host = UiLib::GtkHost::Create();
    if (!host) {
        std::fprintf(stderr,
                     "tolvane: no display to open the window on (tolvanectl works without one)\n");
        return 1;
    }
    platform::SingleInstance instance(tolvane::kInstanceName);
    return tolvane::RunApplication(instance);
}
