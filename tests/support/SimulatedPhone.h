// A simulated iPhone for tests: makes a phone with `tolvane-devsim make-device` in a temporary
// folder, serves it on a temporary usbmux socket and points USBMUXD_SOCKET_ADDRESS at it for this
// process while it lives. Starting returns only once the socket answers with the phone listed.
// Each phone has its own folder and socket, so phones in different test processes never meet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestEnv.h"

namespace platform {
class ChildProcess;
}

namespace testenv {

struct PhoneOptions {  // passed to make-device
    std::string name = "Test iPhone";
    int messages = 40;
    int contacts = 20;
    int mediaMb = 1;
    int apps = 2;
    std::string backupPassword;  // non-empty: WillEncrypt true with this password
    uint32_t seed = 1;
    std::string productVersion;  // empty: make-device's default (7.1.2); "17.5": a modern phone
    uint32_t backupRounds = 0;   // a modern keybag's DPIC; 0: the phone's default (10 000 000)
    std::vector<std::string> extraArgs;
};

class SimulatedPhone {
  public:
    explicit SimulatedPhone(PhoneOptions options = {}, std::vector<std::string> faults = {});
    ~SimulatedPhone();  // stops, restores the variable
    SimulatedPhone(const SimulatedPhone&) = delete;
    SimulatedPhone& operator=(const SimulatedPhone&) = delete;

    void Restart(std::vector<std::string> faults = {});  // same device, new serve
    void Stop();
    // SIGSTOP / SIGCONT to the serving process: a phone that neither answers nor closes anything.
    void Freeze();
    void Thaw();

    const std::string& DeviceDir() const { return deviceDir_; }
    const std::string& SocketPath() const { return socketPath_; }
    std::string Udid() const;
    std::string FilePath(const std::string& domain, const std::string& path) const;
    std::vector<std::string> Notifications() const;  // names from events.log, in order
    std::vector<std::string> Events() const;         // all lines of events.log
    bool WillEncrypt() const;                        // from device.plist

    // The path of the tolvane-devsim program the fixture runs.
    static std::string ProgramPath();

  private:
    void Serve(const std::vector<std::string>& faults);

    TempDir dir_;
    std::string deviceDir_;
    std::string socketPath_;
    std::unique_ptr<ScopedEnv> env_;
    std::unique_ptr<platform::ChildProcess> server_;
};

}  // namespace testenv
