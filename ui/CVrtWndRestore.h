// The restore tab (tab 2): picks an own or a library backup and restores it. The panel is
// registered for its virtual window and receives the phone card; its controls and the run come
// with the restore tab's own work.
#pragma once

#include "ui/CVrtWndBase.h"

namespace tolvane {

// Which backups the restore tab lists.
enum class RestoreSource : int {
    OwnBackups = 0,     // the application's own backups
    ItunesBackups = 1,  // the other backup program's backups on this computer
};

class CVrtWndRestore : public CVrtWndBase {
  public:
    void Init() override {}
    void SetSource(RestoreSource source) { source_ = source; }
    RestoreSource Source() const { return source_; }
    // Rebuilds the list of backups of the current source.
    void RebuildBackupList() {}

  private:
    RestoreSource source_ = RestoreSource::OwnBackups;
};

}  // namespace tolvane
