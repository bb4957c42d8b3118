// The computer's side of a mobilebackup2 conversation, for the simulator's tests: it answers the
// phone's device-link messages from a backup folder on disk (or discards what it receives), much
// as a backup program does, and records what happened. Paths that would leave the backup folder
// are refused; the answers otherwise follow the usual status responses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/devsim/DeviceClient.h"

namespace devsimtest {

struct HostOptions {
    std::string folder;                 // the backup folder; empty: received files are dropped
    uint64_t freeSpace = 1ull << 40;    // what DLMessageGetFreeDiskSpace reports
    bool stopAfterFirstUpload = false;  // stop reading after the first upload (a cancel)
    bool waitThroughSilence = false;    // a receive timeout is waited through (up to 20 times)
};

struct HostResult {
    bool ended = false;         // a DLMessageProcessMessage or DLMessageDisconnect came
    bool disconnected = false;  // it was DLMessageDisconnect
    bool linkFailed = false;    // the connection failed or went silent
    int64_t errorCode = -1;     // ErrorCode of the final DLMessageProcessMessage
    std::string errorDescription;
    std::vector<std::string> messages;  // every message name, in order
    std::vector<double> progress;       // every progress figure, in order
    std::vector<std::string> refused;   // names refused as unsafe
    uint64_t filesReceived = 0;
    uint64_t bytesReceived = 0;
    uint64_t filesSent = 0;
    std::vector<std::string> removedFolders;  // folders removed with what they held
    int timeouts = 0;                         // receive timeouts waited through
};

// Runs the loop until the phone ends the conversation or the link fails.
HostResult RunHostLoop(mobilebackup2_client_t client, const HostOptions& options);

// Opens mobilebackup2 on the phone of this process (handshake and Hello with 2.0 and 2.1).
struct BackupConnection {
    Device device;
    Lockdown lockdown;
    Backup2 client;
};
BackupConnection OpenBackupConnection();

// Sends a request ("Backup", "Restore", ...) for the phone `udid` with optional options.
bool SendRequest(mobilebackup2_client_t client, const char* request, const std::string& udid,
                 const std::string& source, plist_t options);

}  // namespace devsimtest
