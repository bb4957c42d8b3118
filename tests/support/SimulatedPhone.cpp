#include "tests/support/SimulatedPhone.h"

#include <endian.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/Handles.h"
#include "platform/Process.h"

namespace testenv {
namespace {

// Collects what a finished child wrote, for failure messages.
std::string DrainOutput(platform::ChildProcess& child) {
    std::string out;
    char buf[4096];
    while (child.Peek(0) > 0) {
        const long n = child.Read(buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// One usbmux ListDevices round trip on `socketPath`: true when it answers with a device listed.
bool SocketListsPhone(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return false;
    }
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    platform::PlistPtr request(plist_new_dict());
    plist_dict_set_item(request.get(), "MessageType", plist_new_string("ListDevices"));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(request.get(), &xml, &length);
    const uint32_t header[4] = {htole32(16 + length), htole32(1), htole32(8), htole32(1)};
    std::string packet(reinterpret_cast<const char*>(header), sizeof header);
    packet.append(xml, length);
    std::free(xml);
    if (send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(packet.size())) {
        return false;
    }
    uint32_t replyHeader[4];
    if (recv(fd, replyHeader, sizeof replyHeader, MSG_WAITALL) != sizeof replyHeader) {
        return false;
    }
    const uint32_t total = le32toh(replyHeader[0]);
    if (total <= 16 || total > (1u << 20)) {
        return false;
    }
    std::string body(total - 16, '\0');
    if (recv(fd, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size())) {
        return false;
    }
    plist_t reply = nullptr;
    plist_from_xml(body.data(), static_cast<uint32_t>(body.size()), &reply);
    platform::PlistPtr owner(reply);
    plist_t list = reply != nullptr ? plist_dict_get_item(reply, "DeviceList") : nullptr;
    return list != nullptr && plist_get_node_type(list) == PLIST_ARRAY &&
           plist_array_get_size(list) > 0;
}

platform::PlistPtr ReadDevicePlist(const std::string& deviceDir) {
    std::ifstream in(deviceDir + "/device.plist", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t node = nullptr;
    if (!text.empty()) {
        plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &node);
    }
    return platform::PlistPtr(node);
}

}  // namespace

std::string SimulatedPhone::ProgramPath() {
    // Another build of the phone (an installed one) when the environment names it.
    const char* other = std::getenv("TOLVANE_TEST_DEVSIM");
    return other != nullptr && other[0] != '\0' ? std::string(other) : TOLVANE_DEVSIM_PATH;
}

SimulatedPhone::SimulatedPhone(PhoneOptions options, std::vector<std::string> faults)
    : dir_("tolvane-phone") {
    deviceDir_ = dir_.Path() + "/device";
    socketPath_ = dir_.Path() + "/usbmuxd.sock";
    if (socketPath_.size() >= sizeof(sockaddr_un{}.sun_path)) {
        ADD_FAILURE() << "temporary folder too long for a socket path: " << socketPath_;
    }
    std::vector<std::string> argv = {ProgramPath(),
                                     "make-device",
                                     deviceDir_,
                                     "--name",
                                     options.name,
                                     "--messages",
                                     std::to_string(options.messages),
                                     "--contacts",
                                     std::to_string(options.contacts),
                                     "--media-mb",
                                     std::to_string(options.mediaMb),
                                     "--apps",
                                     std::to_string(options.apps),
                                     "--seed",
                                     std::to_string(options.seed)};
    if (!options.backupPassword.empty()) {
        argv.push_back("--backup-password");
        argv.push_back(options.backupPassword);
    }
    if (!options.productVersion.empty()) {
        argv.push_back("--product-version");
        argv.push_back(options.productVersion);
    }
    if (options.backupRounds != 0) {
        argv.push_back("--backup-rounds");
        argv.push_back(std::to_string(options.backupRounds));
    }
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
    int32_t error = 0;
    auto maker = platform::ChildProcess::Start(argv, &error);
    int exitCode = -1;
    if (!maker || !maker->Wait(60000, &exitCode) || exitCode != 0) {
        ADD_FAILURE() << "make-device failed (" << exitCode << ", start error " << error
                      << "): " << (maker ? DrainOutput(*maker) : std::string());
        return;
    }
    Serve(faults);
}

SimulatedPhone::~SimulatedPhone() {
    Stop();
}

void SimulatedPhone::Serve(const std::vector<std::string>& faults) {
    std::vector<std::string> argv = {ProgramPath(), "serve",    "--socket",
                                     socketPath_,   "--device", deviceDir_};
    for (const std::string& f : faults) {
        argv.push_back("--fault");
        argv.push_back(f);
    }
    int32_t error = 0;
    server_ = platform::ChildProcess::Start(argv, &error);
    if (!server_) {
        ADD_FAILURE() << "cannot start tolvane-devsim serve: " << error;
        return;
    }
    // Wait until the socket answers with the phone listed; give up when the server has ended.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!SocketListsPhone(socketPath_)) {
        int code = 0;
        if (server_->Wait(0, &code)) {
            ADD_FAILURE() << "tolvane-devsim serve ended with " << code << ": "
                          << DrainOutput(*server_);
            server_.reset();
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "tolvane-devsim serve did not answer on " << socketPath_;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    env_ = std::make_unique<ScopedEnv>("USBMUXD_SOCKET_ADDRESS", "UNIX:" + socketPath_);
}

void SimulatedPhone::Stop() {
    env_.reset();
    if (!server_) {
        return;
    }
    kill(server_->Pid(), SIGCONT);  // a frozen phone must see the SIGTERM
    kill(server_->Pid(), SIGTERM);
    int code = 0;
    if (!server_->Wait(15000, &code)) {
        ADD_FAILURE() << "tolvane-devsim serve did not stop on SIGTERM";
        server_->Kill();
        server_->Wait(-1, &code);
    } else if (code != 0) {
        ADD_FAILURE() << "tolvane-devsim serve ended with " << code << ": "
                      << DrainOutput(*server_);
    }
    server_.reset();
}

void SimulatedPhone::Restart(std::vector<std::string> faults) {
    Stop();
    Serve(faults);
}

std::string SimulatedPhone::Udid() const {
    platform::PlistPtr root = ReadDevicePlist(deviceDir_);
    plist_t values = root ? plist_dict_get_item(root.get(), "Values") : nullptr;
    return platform::PlistString(values != nullptr ? plist_dict_get_item(values, "UniqueDeviceID")
                                                   : nullptr);
}

std::string SimulatedPhone::FilePath(const std::string& domain, const std::string& path) const {
    return deviceDir_ + "/files/" + domain + "/" + path;
}

std::vector<std::string> SimulatedPhone::Events() const {
    std::vector<std::string> lines;
    std::ifstream in(deviceDir_ + "/events.log");
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SimulatedPhone::Notifications() const {
    static const std::string kPrefix = "notification ";
    std::vector<std::string> names;
    for (const std::string& line : Events()) {
        if (line.rfind(kPrefix, 0) == 0) {
            names.push_back(line.substr(kPrefix.size()));
        }
    }
    return names;
}

bool SimulatedPhone::WillEncrypt() const {
    platform::PlistPtr root = ReadDevicePlist(deviceDir_);
    plist_t domains = root ? plist_dict_get_item(root.get(), "Domains") : nullptr;
    plist_t backup =
        domains != nullptr ? plist_dict_get_item(domains, "com.apple.mobile.backup") : nullptr;
    plist_t value = backup != nullptr ? plist_dict_get_item(backup, "WillEncrypt") : nullptr;
    uint8_t b = 0;
    if (value != nullptr && plist_get_node_type(value) == PLIST_BOOLEAN) {
        plist_get_bool_val(value, &b);
    }
    return b != 0;
}

void SimulatedPhone::Freeze() {
    if (server_) {
        kill(server_->Pid(), SIGSTOP);
    }
}

void SimulatedPhone::Thaw() {
    if (server_) {
        kill(server_->Pid(), SIGCONT);
    }
}

}  // namespace testenv
