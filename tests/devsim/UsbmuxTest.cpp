// The usbmux service as libusbmuxd sees it: the device list, pair records, connects to ports,
// concurrent connections, and a clean stop that leaves no socket file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <usbmuxd.h>

#include <chrono>
#include <thread>

#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/devsim/DeviceClient.h"
#include "tests/devsim/UsbmuxClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

class UsbmuxTest : public ::testing::Test {
  protected:
    testenv::IsolatedHome home_;
    static testenv::PhoneOptions Small() {
        testenv::PhoneOptions o;
        o.messages = 4;
        o.contacts = 2;
        o.mediaMb = 0;
        o.apps = 0;
        return o;
    }
    testenv::SimulatedPhone phone_{Small()};
};

TEST_F(UsbmuxTest, LibraryListsThePhoneAndReadsItsPairRecord) {
    usbmuxd_device_info_t* list = nullptr;
    const int count = usbmuxd_get_device_list(&list);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(std::string(list[0].udid), phone_.Udid());
    EXPECT_EQ(list[0].conn_type, CONNECTION_TYPE_USB);
    const uint32_t handle = list[0].handle;
    usbmuxd_device_list_free(&list);

    char* record = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(usbmuxd_read_pair_record(phone_.Udid().c_str(), &record, &size), 0);
    plist_t node = nullptr;
    plist_from_memory(record, size, &node);
    Plist owner(node);
    free(record);
    EXPECT_FALSE(StringOf(plist_dict_get_item(node, "HostID")).empty());
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(node, "EscrowBag")), PLIST_DATA);

    char* buid = nullptr;
    ASSERT_EQ(usbmuxd_read_buid(&buid), 0);
    EXPECT_EQ(std::string(buid), StringOf(plist_dict_get_item(node, "SystemBUID")));
    free(buid);

    // Lockdown's port answers; a port that no service was started on is refused.
    const int lockdown = usbmuxd_connect(handle, 62078);
    EXPECT_GE(lockdown, 0);
    usbmuxd_disconnect(lockdown);
    EXPECT_LT(usbmuxd_connect(handle, 49999), 0);
    EXPECT_LT(usbmuxd_connect(handle + 1, 62078), 0);
}

TEST_F(UsbmuxTest, RawProtocolAnswersWithTheRequestTagAndResultNumbers) {
    UsbmuxClient c(phone_.SocketPath());
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.Request("ListDevices", nullptr, 41));
    uint32_t tag = 0;
    Plist reply = c.Receive(&tag);
    ASSERT_TRUE(reply);
    EXPECT_EQ(tag, 41u);
    plist_t device = plist_array_get_item(plist_dict_get_item(reply.get(), "DeviceList"), 0);
    plist_t props = plist_dict_get_item(device, "Properties");
    EXPECT_EQ(StringOf(plist_dict_get_item(props, "SerialNumber")), phone_.Udid());
    EXPECT_EQ(StringOf(plist_dict_get_item(props, "ConnectionType")), "USB");

    // The same connection serves further requests.
    Plist unknownId(plist_new_dict());
    plist_dict_set_item(unknownId.get(), "PairRecordID", plist_new_string("0000"));
    ASSERT_TRUE(c.Request("ReadPairRecord", unknownId.get(), 42));
    reply = c.Receive(&tag);
    EXPECT_EQ(tag, 42u);
    EXPECT_EQ(UsbmuxClient::ResultNumber(reply.get()), 2);
    ASSERT_TRUE(c.Request("NoSuchRequest", nullptr, 43));
    EXPECT_EQ(UsbmuxClient::ResultNumber(c.Receive().get()), 1);

    // A saved pair record is what the next read returns.
    char* record = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(usbmuxd_read_pair_record(phone_.Udid().c_str(), &record, &size), 0);
    Plist saved(plist_new_dict());
    plist_dict_set_item(saved.get(), "PairRecordID", plist_new_string(phone_.Udid().c_str()));
    plist_dict_set_item(saved.get(), "PairRecordData", plist_new_data(record, size));
    free(record);
    ASSERT_TRUE(c.Request("SavePairRecord", saved.get(), 44));
    EXPECT_EQ(UsbmuxClient::ResultNumber(c.Receive().get()), 0);
}

TEST_F(UsbmuxTest, ListenersGetTheAttachedPhoneWhileOtherConnectionsAreServed) {
    UsbmuxClient listener(phone_.SocketPath());
    ASSERT_TRUE(listener.Request("Listen"));
    EXPECT_EQ(UsbmuxClient::ResultNumber(listener.Receive().get()), 0);
    Plist attached = listener.Receive();
    ASSERT_TRUE(attached);
    EXPECT_EQ(StringOf(plist_dict_get_item(attached.get(), "MessageType")), "Attached");

    // Many connections at once: a lockdown session stays open while other clients come and go.
    Device device = OpenDevice();
    ASSERT_TRUE(device);
    Lockdown held = Handshake(device.get());
    ASSERT_TRUE(held);
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            Device d = OpenDevice();
            Lockdown l = d ? Handshake(d.get()) : Lockdown();
            plist_t name = nullptr;
            if (l &&
                lockdownd_get_value(l.get(), nullptr, "DeviceName", &name) == LOCKDOWN_E_SUCCESS) {
                ++ok;
            }
            plist_free(name);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(ok.load(), 8);
    plist_t type = nullptr;
    EXPECT_EQ(lockdownd_get_value(held.get(), nullptr, "DeviceClass", &type), LOCKDOWN_E_SUCCESS);
    plist_free(type);
}

TEST_F(UsbmuxTest, StopsOnSignalsWithoutLeavingTheSocketBehind) {
    ASSERT_TRUE(platform::PathExists(phone_.SocketPath()));
    // An open lockdown connection does not hold the stop up.
    Device device = OpenDevice();
    Lockdown open = Handshake(device.get());
    ASSERT_TRUE(open);
    phone_.Stop();
    EXPECT_FALSE(platform::PathExists(phone_.SocketPath()));
    EXPECT_EQ(phone_.Events().back(), "stopped");

    // A stale socket file (bound, never unlinked, nobody listening) is replaced.
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, phone_.SocketPath().c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    ASSERT_TRUE(platform::PathExists(phone_.SocketPath()));
    phone_.Restart();

    // A second server on a live socket refuses to start.
    auto second =
        platform::ChildProcess::Start({testenv::SimulatedPhone::ProgramPath(), "serve", "--socket",
                                       phone_.SocketPath(), "--device", phone_.DeviceDir()});
    ASSERT_TRUE(second);
    int code = 0;
    ASSERT_TRUE(second->Wait(10000, &code));
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(platform::PathExists(phone_.SocketPath()));
    usbmuxd_device_info_t* list = nullptr;
    EXPECT_EQ(usbmuxd_get_device_list(&list), 1);
    usbmuxd_device_list_free(&list);
}

TEST_F(UsbmuxTest, RefusesToServeWithoutADeviceOrWithBadArguments) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"serve", "--socket", "/tmp/x.sock"},
             {"serve", "--socket", "/tmp/x.sock", "--device", "/nonexistent"},
             {"serve", "--socket", "/tmp/x.sock", "--device", phone_.DeviceDir(), "--fault",
              "no-such-fault"},
             {"frobnicate"}}) {
        std::vector<std::string> argv = {testenv::SimulatedPhone::ProgramPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto child = platform::ChildProcess::Start(argv);
        ASSERT_TRUE(child);
        int code = 0;
        ASSERT_TRUE(child->Wait(10000, &code));
        EXPECT_NE(code, 0) << args.back();
    }
    EXPECT_FALSE(platform::PathExists("/tmp/x.sock"));
}

}  // namespace
}  // namespace devsimtest
