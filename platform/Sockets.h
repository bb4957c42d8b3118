// The connections to the phone service (usbmuxd): every connection the library opens to a phone
// is a unix socket to it. A phone that has stopped answering keeps the library's receives waiting
// on their own long timeouts; shutting its sockets down ends every such wait at once.
#pragma once

#include <string>

namespace platform {

// The phone service's socket: USBMUXD_SOCKET_ADDRESS ("UNIX:/path") when set, else the system's
// "/var/run/usbmuxd".
std::string UsbmuxSocketPath();

// Shuts down (both directions) every unix stream socket of this process connected to
// `socketPath`. Returns how many it found.
int ShutdownConnectionsTo(const std::string& socketPath);

}  // namespace platform
