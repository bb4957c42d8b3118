// Faults the phone plays on its backup link: a failed backup, a refused restore, unplugging after
// a number of messages or bytes, silence, hostile names, a capped link, and a computer that
// walks away in the middle.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <usbmuxd.h>

#include <filesystem>

#include "tests/devsim/HostLoop.h"
#include "tests/devsim/UsbmuxClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

class LinkFaultsTest : public ::testing::Test {
  protected:
    void Serve(std::vector<std::string> faults) {
        testenv::PhoneOptions o;
        o.messages = 20;
        o.contacts = 5;
        o.mediaMb = 2;
        o.apps = 1;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o, faults);
        udid_ = phone_->Udid();
    }
    HostResult Run(const char* request, plist_t options, const HostOptions& host) {
        BackupConnection c = OpenBackupConnection();
        if (!c.client) {
            HostResult failed;
            failed.linkFailed = true;
            return failed;
        }
        EXPECT_TRUE(SendRequest(c.client.get(), request, udid_, "", options));
        return RunHostLoop(c.client.get(), host);
    }
    HostResult Backup(const std::string& folder) {
        HostOptions host;
        host.folder = folder;
        return Run("Backup", nullptr, host);
    }
    int ListedDevices() {
        usbmuxd_device_info_t* list = nullptr;
        const int n = usbmuxd_get_device_list(&list);
        usbmuxd_device_list_free(&list);
        return n;
    }
    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"devsim-faults"};
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_F(LinkFaultsTest, FailedBackupStopsHalfWayWithItsErrorAndNoFinishedState) {
    Serve({"fail-backup=105:Disk on fire: stopped"});
    const HostResult r = Backup(dir_.Path());
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.errorCode, 105);
    EXPECT_EQ(r.errorDescription, "Disk on fire: stopped");
    EXPECT_GT(r.filesReceived, 2u);
    EXPECT_FALSE(fs::exists(dir_.Path() + "/" + udid_ + "/Manifest.mbdb"));
    EXPECT_NE(
        testenv::ReadFile(dir_.Path() + "/" + udid_ + "/Status.plist").find("<string>new</string>"),
        std::string::npos);
    EXPECT_TRUE(Contains(phone_->Events(), "backup finished 105"));
}

TEST_F(LinkFaultsTest, RefusedRestoreAsksForNothing) {
    Serve({"refuse-restore=211:Restore refused: the phone is busy"});
    Plist options(plist_new_dict());
    plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(0));
    HostOptions host;
    host.folder = dir_.Path();
    const HostResult r = Run("Restore", options.get(), host);
    EXPECT_EQ(r.messages, std::vector<std::string>{"DLMessageProcessMessage"});
    EXPECT_EQ(r.errorCode, 211);
    EXPECT_EQ(r.errorDescription, "Restore refused: the phone is busy");
    EXPECT_TRUE(Contains(phone_->Events(), "restore finished 211"));
}

TEST_F(LinkFaultsTest, UnplugAfterMessagesLeavesTheListAndClosesEverything) {
    // Version exchange, device ready and the Hello answer are messages 1 to 3.
    Serve({"unplug-after-messages=6"});
    UsbmuxClient listener(phone_->SocketPath());
    ASSERT_TRUE(listener.Request("Listen"));
    ASSERT_EQ(UsbmuxClient::ResultNumber(listener.Receive().get()), 0);
    ASSERT_TRUE(listener.Receive());  // Attached

    Device device = OpenDevice();
    Lockdown other = Handshake(device.get());
    ASSERT_TRUE(other);
    const HostResult r = Backup(dir_.Path());
    EXPECT_TRUE(r.linkFailed);
    EXPECT_FALSE(r.ended);
    EXPECT_LE(r.messages.size(), 3u);
    Plist detached = listener.Receive();
    EXPECT_EQ(StringOf(plist_dict_get_item(detached.get(), "MessageType")), "Detached");
    EXPECT_EQ(ListedDevices(), 0);
    // The lockdown connection that was open is gone too, and no new one can be made.
    plist_t value = nullptr;
    EXPECT_NE(lockdownd_get_value(other.get(), nullptr, "DeviceName", &value), LOCKDOWN_E_SUCCESS);
    plist_free(value);
    EXPECT_FALSE(Handshake(device.get()));
    EXPECT_TRUE(Contains(phone_->Events(), "unplugged after-messages"));

    phone_->Restart();
    EXPECT_EQ(ListedDevices(), 1);
}

TEST_F(LinkFaultsTest, UnplugAfterBytesStopsInsideTheTransfer) {
    Serve({"unplug-after-bytes=300000"});
    const HostResult r = Backup(dir_.Path());
    EXPECT_TRUE(r.linkFailed);
    EXPECT_GT(r.bytesReceived, 0u);
    EXPECT_LE(r.bytesReceived, 300000u);
    EXPECT_EQ(ListedDevices(), 0);
    EXPECT_TRUE(Contains(phone_->Events(), "unplugged after-bytes"));
}

TEST_F(LinkFaultsTest, SilentLinkStaysOpenWhileLockdownAnswers) {
    Serve({"silent-after-messages=1"});
    Device device = OpenDevice();
    Lockdown lockdown = Handshake(device.get());
    ASSERT_TRUE(lockdown);
    Service s = Start(lockdown.get(), "com.apple.mobilebackup2", false);
    ASSERT_TRUE(s);
    usbmuxd_device_info_t info{};
    ASSERT_EQ(usbmuxd_get_device_by_udid(udid_.c_str(), &info), 1);
    const int fd = usbmuxd_connect(info.handle, s->port);
    ASSERT_GE(fd, 0);
    // The library hands the socket out non-blocking.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The version exchange comes, then nothing: no DLMessageDeviceReady, and no close either.
    uint32_t length = 0;
    ASSERT_EQ(recv(fd, &length, 4, MSG_WAITALL), 4);
    std::string body(ntohl(length), '\0');
    ASSERT_EQ(recv(fd, body.data(), body.size(), MSG_WAITALL), static_cast<ssize_t>(body.size()));
    Plist ok(plist_new_array());
    plist_array_append_item(ok.get(), plist_new_string("DLMessageVersionExchange"));
    plist_array_append_item(ok.get(), plist_new_string("DLVersionsOk"));
    plist_array_append_item(ok.get(), plist_new_uint(400));
    char* bin = nullptr;
    uint32_t size = 0;
    plist_to_bin(ok.get(), &bin, &size);
    const uint32_t frame = htonl(size);
    ASSERT_EQ(send(fd, &frame, 4, MSG_NOSIGNAL), 4);
    ASSERT_EQ(send(fd, bin, size, MSG_NOSIGNAL), static_cast<ssize_t>(size));
    free(bin);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1500), 0);
    plist_t value = nullptr;
    EXPECT_EQ(lockdownd_get_value(lockdown.get(), nullptr, "DeviceName", &value),
              LOCKDOWN_E_SUCCESS);
    plist_free(value);
    EXPECT_TRUE(Contains(phone_->Events(), "silent after-messages"));
    usbmuxd_disconnect(fd);
}

TEST_F(LinkFaultsTest, HostileNamesAreOfferedAndARefusingComputerLosesNothing) {
    Serve({"hostile-names"});
    const std::string parent = dir_.Path();
    const std::string folder = parent + "/backups";
    fs::create_directories(folder);
    testenv::WriteFile(parent + "/tolvane-hostile-victim", "keep me");
    const HostResult r = Backup(folder);
    EXPECT_EQ(r.errorCode, 0);
    for (const std::string& name :
         {std::string("../escaped-upload"), udid_ + "/../../escaped-upload-2",
          "/tmp/tolvane-devsim-hostile-" + udid_, std::string("../escaped-dir"),
          std::string("../escaped-move"), std::string("../escaped-copy"),
          std::string("../tolvane-hostile-victim"), std::string("..")}) {
        EXPECT_TRUE(Contains(r.refused, name)) << name;
    }
    EXPECT_EQ(testenv::ReadFile(parent + "/tolvane-hostile-victim"), "keep me");
    for (const char* escaped :
         {"escaped-upload", "escaped-upload-2", "escaped-dir", "escaped-move", "escaped-copy"}) {
        EXPECT_FALSE(fs::exists(parent + "/" + escaped)) << escaped;
    }
    const std::vector<std::string> events = phone_->Events();
    EXPECT_TRUE(Contains(events, "hostile download refused")) << ::testing::PrintToString(events);
    EXPECT_TRUE(Contains(events, "hostile list 0"));
    // The backup itself is whole.
    EXPECT_TRUE(fs::exists(folder + "/" + udid_ + "/Manifest.mbdb"));
    EXPECT_FALSE(fs::exists(folder + "/" + udid_ + "/Snapshot"));
}

TEST_F(LinkFaultsTest, CappedLinkCarriesTheWholeBackup) {
    Serve({"rate=80"});
    const HostResult r = Backup(dir_.Path());
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_GT(r.bytesReceived, 2u * 1024 * 1024);
}

TEST_F(LinkFaultsTest, ComputerThatWalksAwayLeavesThePhoneReady) {
    Serve({});
    HostOptions host;
    host.folder = dir_.Path();
    host.stopAfterFirstUpload = true;
    const HostResult cancelled = Run("Backup", nullptr, host);
    EXPECT_TRUE(cancelled.linkFailed);
    const HostResult r = Backup(dir_.Path());
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_TRUE(fs::exists(dir_.Path() + "/" + udid_ + "/Manifest.mbdb"));
}

}  // namespace
}  // namespace devsimtest
