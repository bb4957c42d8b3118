// The import tab (tab 3): puts messages and contacts from exports or phone databases onto the
// phone. The panel is registered for its virtual window and receives the phone card; its
// controls and the run come with the import tab's own work.
#pragma once

#include "ui/CVrtWndBase.h"

namespace tolvane {

class CVrtWndImport : public CVrtWndBase {
  public:
    void Init() override {}
};

}  // namespace tolvane
