// Ctrl-C for a program without windows (tolvanectl): SIGINT, SIGTERM and SIGHUP only raise a
// flag that the running operation checks on its way, so that it ends its conversation with the
// phone, gives the phone back what it changed and removes what it made before the program exits
// (status 130). A second request ends the process at once (128 + the signal), for a run that
// cannot stop.
#pragma once

namespace platform {

class InterruptFlag {
  public:
    // Installs the handlers; one object at a time per process. Clears the flag.
    InterruptFlag();
    // Puts the default handling back (the flag stays as it is).
    ~InterruptFlag();
    InterruptFlag(const InterruptFlag&) = delete;
    InterruptFlag& operator=(const InterruptFlag&) = delete;
};

// Whether an interrupt was asked for since the InterruptFlag was made (never without one), and
// the signal that asked (0 when none did).
bool InterruptRequested();
int InterruptSignal();

// Raises the flag as the signal `sig` would have: a program that hears the signals through a
// handler of its own (the window program's TerminationRequests) stops its running operation so.
void RequestInterrupt(int sig);

// For tests: raises or clears the flag as a signal would.
void SetInterruptForTesting(bool on);

}  // namespace platform
