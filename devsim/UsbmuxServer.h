// The usbmux service on a unix socket: the plist protocol that libusbmuxd speaks (ListDevices,
// Listen, Connect, ReadPairRecord, ReadBUID, SavePairRecord, DeletePairRecord), one thread per
// client connection. A `Connect` to a port of the phone hands the connection to the phone's
// service for the rest of its life.
//
// Life cycle: Start binds the socket (refusing a path on which another server answers, and
// replacing a stale socket file); Run accepts until its stop descriptor is readable or Stop is
// called; it then shuts every connection down, joins every thread and removes the socket file.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devsim {

class Connection;
class Phone;

class UsbmuxServer {
  public:
    UsbmuxServer(Phone& phone, std::string socketPath);
    ~UsbmuxServer();
    UsbmuxServer(const UsbmuxServer&) = delete;
    UsbmuxServer& operator=(const UsbmuxServer&) = delete;

    bool Start(std::string& error);
    // Serves until `stopFd` (may be -1) is readable or Stop() is called; then cleans up.
    void Run(int stopFd);
    // Asks Run to end; safe from any thread.
    void Stop();

  private:
    struct Client {
        std::thread thread;
        std::shared_ptr<Connection> connection;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void HandleClient(const std::shared_ptr<Connection>& connection);
    void SendDetached();
    void ReapFinished();

    Phone& phone_;
    const std::string socketPath_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::mutex clientsMutex_;
    std::vector<Client> clients_;
    std::mutex listenersMutex_;
    std::vector<std::shared_ptr<Connection>> listeners_;
};

}  // namespace devsim
