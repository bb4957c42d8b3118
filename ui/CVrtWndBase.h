// The base of the four tab panels of the main window. The main window registers each panel for
// the notifications of its virtual window; the panel finds its controls in the main window's
// tree and reaches the engine and the shared strings through the main window.
#pragma once

#include "UiLib/CNotifyPump.h"
#include "UiLib/CPaintManagerUI.h"

namespace tolvane {

class CMainWnd;

class CVrtWndBase : public UiLib::CNotifyPump {
  public:
    // Stores the owning main window and its paint manager (from the main window's construction).
    virtual void Attach(CMainWnd* owner);
    // Finds the controls and binds their events (from the main window's initialisation).
    virtual void Init() = 0;

    CMainWnd* Owner() const { return owner_; }

  protected:
    CMainWnd* owner_ = nullptr;
    UiLib::CPaintManagerUI* pm_ = nullptr;
};

}  // namespace tolvane
