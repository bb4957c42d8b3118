// The notification proxy: records every posted name, in order, as "notification <name>" in the
// event log, remembers observed names, and answers Shutdown with ProxyDeath before closing (a
// client that gets neither waits for its own timeout).
#pragma once

namespace devsim {

class Connection;
class Phone;

class NotificationProxyService {
  public:
    NotificationProxyService(Phone& phone, Connection& connection);
    void Run();

  private:
    Phone& phone_;
    Connection& connection_;
};

}  // namespace devsim
