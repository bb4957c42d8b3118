// A simulated phone for the benchmarks: made with `tolvane-devsim make-device` in a storage
// folder, served on a usbmux socket in another folder, with USBMUXD_SOCKET_ADDRESS pointed at it
// for this process. Neither folder is removed: they belong to the caller.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {
class ChildProcess;
}

namespace devsimclient {

class DevsimPhone {
  public:
    // Makes the phone in `storage` with `makeArgs` and serves it on `dir`/mux.sock with `faults`
    // (each passed as --fault). On failure (said on standard error) Ok() is false.
    DevsimPhone(const std::string& dir, const std::string& storage,
                const std::vector<std::string>& makeArgs,
                const std::vector<std::string>& faults = {});
    ~DevsimPhone();  // stops the phone
    DevsimPhone(const DevsimPhone&) = delete;
    DevsimPhone& operator=(const DevsimPhone&) = delete;

    bool Ok() const { return server_ != nullptr; }

    // CPU seconds the serving phone has used so far (user + system); 0 when it does not run.
    double CpuSeconds() const;

  private:
    std::string socket_;
    std::unique_ptr<platform::ChildProcess> server_;
};

}  // namespace devsimclient
