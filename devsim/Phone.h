// The one phone attached to the simulated usbmux service. It owns the device state, the faults it
// plays, the services that lockdown has started and the connections that reach it, so that an
// unplug can close them all at once.
//
// States: attached (listed by ListDevices, accepts Connect) → unplugged (a fault fired: not
// listed, every device connection shut down, Connect refused). An unplugged phone stays unplugged
// until the next serve.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devsim/AfcLocks.h"
#include "devsim/DeviceState.h"
#include "devsim/EventLog.h"
#include "devsim/Faults.h"
#include "devsim/RateLimiter.h"

namespace devsim {

class Connection;

inline constexpr uint16_t kLockdownPort = 62078;
inline constexpr char kLockdownServiceName[] = "com.apple.mobile.lockdown";
inline constexpr char kAfcServiceName[] = "com.apple.afc";
inline constexpr char kNotificationServiceName[] = "com.apple.mobile.notification_proxy";
inline constexpr char kBackupServiceName[] = "com.apple.mobilebackup2";

class Phone {
  public:
    Phone(std::unique_ptr<DeviceState> state, Faults faults);
    ~Phone();
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    DeviceState& State() { return *state_; }
    const Faults& GetFaults() const { return faults_; }
    EventLog& Events() { return events_; }
    AfcLocks& Locks() { return locks_; }
    // The cap of the backup link, or null when it runs at full speed.
    RateLimiter* BackupLinkLimiter() { return limiter_.get(); }

    // The usbmux device number of the phone.
    static constexpr uint32_t kDeviceId = 1;

    bool Attached() const { return attached_.load(); }
    // Leaves the usbmux list and closes every device connection. Idempotent.
    void Unplug(const std::string& reason);
    // Called (once) when the phone leaves the list; the usbmux server tells its listeners.
    void SetDetachHandler(std::function<void()> handler);

    // Registers a started service and returns the port it listens on (one connection each).
    uint16_t OpenServicePort(const std::string& service);
    // The service behind `port` for a new connection: lockdown for its fixed port, a started
    // service once, nullopt for anything else.
    std::optional<std::string> ClaimPort(uint16_t port);

    // Runs the service on a connection that usbmux has handed to the phone; returns when the
    // conversation ends.
    void Serve(const std::shared_ptr<Connection>& connection, const std::string& service);

    // Fault bookkeeping for the backup link. Called after each device-link message the phone
    // sent; says what the phone must do next.
    enum class LinkAction { Continue, Unplug, Silent, Disconnect, Close };
    LinkAction CountMessageSent();
    // How many more bytes of file contents may cross before the phone unplugs (UINT64_MAX: no
    // limit), and the record of bytes that did cross. CountFileBytes returns true when the limit
    // has been reached and the phone must unplug now.
    uint64_t FileBytesAllowance() const;
    bool CountFileBytes(uint64_t bytes);

  private:
    void Track(const std::shared_ptr<Connection>& connection);
    void Untrack(const Connection* connection);

    std::unique_ptr<DeviceState> state_;
    const Faults faults_;
    EventLog events_;
    AfcLocks locks_;
    std::unique_ptr<RateLimiter> limiter_;

    std::atomic<bool> attached_{true};
    mutable std::mutex mutex_;
    std::function<void()> onDetach_;
    std::map<uint16_t, std::string> ports_;
    uint16_t nextPort_ = 49152;
    std::vector<std::weak_ptr<Connection>> connections_;
    uint64_t messagesSent_ = 0;
    uint64_t fileBytes_ = 0;
};

}  // namespace devsim
