// The parts of an engine that only tests reach: its session (handles, sync lock) and its run
// context (the is-backup phase, the conversation's values), for driving a conversation by hand.
#pragma once

#include "engine/BackupEngine.h"

namespace tolvane {

class EngineTestAccess {
  public:
    static DeviceSession& Session(BackupEngine& engine) { return engine.session_; }
    static RunContext& Run(BackupEngine& engine) { return engine.run_; }
};

}  // namespace tolvane
