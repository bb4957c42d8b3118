#include "ui/Startup.h"

#include <csignal>
#include <cstdio>

#include "UiLib/ResourceArchive.h"
#include "app/AppSettings.h"
#include "platform/Interrupt.h"
#include "platform/Termination.h"
#include "skin/Skin.h"
#include "ui/CMainWnd.h"
#include "ui/MainWndHooks.h"

namespace tolvane {

bool UseProgramSkin() {
    skin::RegisterSkin();
    return UiLib::CResourceArchive::UseResource(skin::kResourceId, skin::kResourceType);
}

int RunApplication(platform::SingleInstance& instance) {
    UseProgramSkin();
    if (instance.IsAnotherInstanceRunning()) {
        // The first instance shows its window when asked; when it does not answer (it is still
        // starting, or hangs) the user is told instead.
        if (!instance.AskFirstInstanceToShow()) {
            ShowAlreadyRunning();
        }
        return 0;
    }
    // The settings are made once, before any worker thread starts, and only read afterwards.
    AppSettings::Get();

    auto* main = new CMainWnd();  // deletes itself when its window is gone
    if (main->Create(nullptr, "Tolvane", 0, 0, 0, 0) == 0) {
        std::fprintf(stderr, "tolvane: the main window cannot be created\n");
        delete main;
        return 0;
    }
    main->SetIcon("file='MainWnd.png' source='0,0,28,28'");
    main->CenterWindow();
    main->ShowWindow(true);
    const UiLib::WindowHandle handle = main->GetHWND();
    instance.ListenForShowRequests([handle] { UiLib::WindowImplBase::PostBringToFront(handle); });
    // Log-out or a kill: a run going on stops as after a Ctrl-C of tolvanectl (the conversation
    // ends, the phone gets its password back, what the run made goes), and the window closes as
    // for the menu's Exit once no popup is open any more, so the engine ends the session and
    // empties the work backup on the way out.
    platform::TerminationRequests termination([handle] {
        platform::RequestInterrupt(SIGTERM);
        UiLib::WindowImplBase::PostMessage(handle, UiLib::WM_CLOSE, 1);
    });
    UiLib::WindowImplBase::MessageLoop();
    return 0;
}

}  // namespace tolvane
