// The device-link conversation after a Backup, Restore or ChangePassword request: the phone asks,
// the computer answers from and into the backup folder, until the phone ends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

class DeviceLink;
class DeviceSession;
class RunContext;

// How long the loop waits after a receive that brought nothing before it asks whether the phone
// is still there, and how many failed answers in a row mean that it has gone.
// A receive that fails on the connection itself (not a silent wait) counts as a failed answer
// even while lockdown answers: the backup connection is closed and will bring nothing more.
// `patientForFirstMessage`: the silence limit does not apply before the phone's first message
// (a phone of iOS 16.1 or later says nothing after a Backup request until its user has typed
// the passcode).
struct LoopTiming {
    int silentWaitMs = 2000;
    int failuresBeforeGone = 6;
    bool patientForFirstMessage = false;
};

// How the conversation ended, for the callers that judge whether the phone finished its work.
struct LoopEnd {
    bool outcome = false;     // the phone sent DLMessageProcessMessage (its result is the loop's)
    bool disconnect = false;  // the phone sent DLMessageDisconnect without an outcome
    std::vector<std::string> sentFiles;  // names of DLMessageDownloadFiles that went out whole
};

// Runs the conversation on the session's backup client, with the progress, phase and texts of
// `run`. `backupFolder` is null for the password step (then no path of the phone is served).
// Returns 0, the negated ErrorCode of the phone's outcome, -1 when the phone went away, the
// progress callback's non-zero value, the send status of a failed move/remove/copy reply, or the
// system error code of a file that could not be stored; the Failure behind a non-zero result is
// noted in `run`. Always releases the session's sync lock before it returns.
int32_t RunMessageLoop(const char* backupFolder, DeviceSession& session, RunContext& run,
                       LoopEnd* end = nullptr);

// The same on any link (the tests' in-memory phone).
int32_t RunMessageLoop(const char* backupFolder, DeviceSession& session, RunContext& run,
                       DeviceLink& link, const LoopTiming& timing = {}, LoopEnd* end = nullptr);

}  // namespace tolvane
