#include "devsim/Phone.h"

#include <algorithm>

#include "devsim/AfcService.h"
#include "devsim/BackupService.h"
#include "devsim/Connection.h"
#include "devsim/LockdownService.h"
#include "devsim/NotificationProxyService.h"

namespace devsim {

Phone::Phone(std::unique_ptr<DeviceState> state, Faults faults)
    : state_(std::move(state)),
      faults_(std::move(faults)),
      events_(state_->EventLogPath()),
      locks_(faults_) {
    if (faults_.rateMBps > 0) {
        limiter_ = std::make_unique<RateLimiter>(faults_.rateMBps * 1e6);
    }
}

Phone::~Phone() = default;

void Phone::SetDetachHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    onDetach_ = std::move(handler);
}

void Phone::Unplug(const std::string& reason) {
    if (attached_.exchange(false)) {
        events_.Append("unplugged " + reason);
        std::function<void()> handler;
        std::vector<std::shared_ptr<Connection>> open;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handler = onDetach_;
            for (const auto& weak : connections_) {
                if (auto c = weak.lock()) {
                    open.push_back(std::move(c));
                }
            }
            ports_.clear();
        }
        if (handler) {
            handler();
        }
        for (const auto& c : open) {
            c->Shutdown();
        }
        locks_.Wake();
    }
}

uint16_t Phone::OpenServicePort(const std::string& service) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint16_t port = nextPort_;
    nextPort_ = nextPort_ >= 65000 ? 49152 : static_cast<uint16_t>(nextPort_ + 1);
    ports_[port] = service;
    return port;
}

std::optional<std::string> Phone::ClaimPort(uint16_t port) {
    if (!Attached()) {
        return std::nullopt;
    }
    if (port == kLockdownPort) {
        return std::string(kLockdownServiceName);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ports_.find(port);
    if (it == ports_.end()) {
        return std::nullopt;
    }
    std::string service = it->second;
    ports_.erase(it);
    return service;
}

void Phone::Track(const std::shared_ptr<Connection>& connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(
        std::remove_if(connections_.begin(), connections_.end(),
                       [](const std::weak_ptr<Connection>& w) { return w.expired(); }),
        connections_.end());
    connections_.push_back(connection);
}

void Phone::Untrack(const Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [connection](const std::weak_ptr<Connection>& w) {
                                          auto c = w.lock();
                                          return !c || c.get() == connection;
                                      }),
                       connections_.end());
}

void Phone::Serve(const std::shared_ptr<Connection>& connection, const std::string& service) {
    Track(connection);
    // An unplug between the claim and the tracking must still close this connection.
    if (!Attached()) {
        connection->Shutdown();
    }
    if (service == kLockdownServiceName) {
        LockdownService(*this, *connection).Run();
    } else if (service == kNotificationServiceName) {
        NotificationProxyService(*this, *connection).Run();
    } else if (service == kAfcServiceName) {
        AfcService(*this, *connection).Run();
    } else if (service == kBackupServiceName) {
        BackupService(*this, *connection).Run();
    }
    Untrack(connection.get());
}

Phone::LinkAction Phone::CountMessageSent() {
    uint64_t sent = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent = ++messagesSent_;
    }
    if (faults_.unplugAfterMessages && sent >= *faults_.unplugAfterMessages) {
        return LinkAction::Unplug;
    }
    if (faults_.silentAfterMessages && sent >= *faults_.silentAfterMessages) {
        return LinkAction::Silent;
    }
    if (faults_.disconnectAfterMessages && sent >= *faults_.disconnectAfterMessages) {
        return LinkAction::Disconnect;
    }
    if (faults_.closeAfterMessages && sent >= *faults_.closeAfterMessages) {
        return LinkAction::Close;
    }
    return LinkAction::Continue;
}

uint64_t Phone::FileBytesAllowance() const {
    if (!faults_.unplugAfterBytes) {
        return UINT64_MAX;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return fileBytes_ >= *faults_.unplugAfterBytes ? 0 : *faults_.unplugAfterBytes - fileBytes_;
}

bool Phone::CountFileBytes(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileBytes_ += bytes;
    return faults_.unplugAfterBytes && fileBytes_ >= *faults_.unplugAfterBytes;
}

}  // namespace devsim
