// The library's own utilities accept the simulated phone: idevice_id, idevicename and ideviceinfo
// print its values through USBMUXD_SOCKET_ADDRESS.
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

// Runs a program to its end and returns what it printed (stdout and stderr).
std::string RunTool(std::vector<std::string> argv, int* exitCode) {
    auto child = platform::ChildProcess::Start(argv);
    if (!child) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return {};
    }
    std::string out;
    char buf[4096];
    for (;;) {
        const int ready = child->Peek(20000);
        if (ready <= 0) {
            break;
        }
        const long n = child->Read(buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    EXPECT_TRUE(child->Wait(20000, exitCode)) << argv[0];
    return out;
}

class UtilitiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool :
             {"/usr/bin/idevice_id", "/usr/bin/idevicename", "/usr/bin/ideviceinfo"}) {
            if (!platform::FileExists(tool)) {
                GTEST_SKIP() << tool << " is not installed (libimobiledevice-utils)";
            }
        }
        testenv::PhoneOptions o;
        o.name = "Zoë's iPhone";
        o.messages = 2;
        o.contacts = 1;
        o.mediaMb = 0;
        o.apps = 0;
        o.backupPassword = "pw";
        phone_ = std::make_unique<testenv::SimulatedPhone>(o);
    }
    testenv::IsolatedHome home_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
};

TEST_F(UtilitiesTest, UtilitiesPrintThePhonesValues) {
    int code = -1;
    EXPECT_EQ(RunTool({"/usr/bin/idevice_id", "-l"}, &code), phone_->Udid() + "\n");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RunTool({"/usr/bin/idevicename"}, &code), "Zoë's iPhone\n");
    EXPECT_EQ(code, 0);

    const std::string info = RunTool({"/usr/bin/ideviceinfo"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(info.find("UniqueDeviceID: " + phone_->Udid() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("DeviceName: Zoë's iPhone\n"), std::string::npos);
    EXPECT_NE(info.find("ProductVersion: 7.1.2\n"), std::string::npos);
    EXPECT_NE(info.find("DeviceClass: iPhone\n"), std::string::npos);

    EXPECT_EQ(
        RunTool({"/usr/bin/ideviceinfo", "-q", "com.apple.mobile.backup", "-k", "WillEncrypt"},
                &code),
        "true\n");
    EXPECT_EQ(RunTool({"/usr/bin/ideviceinfo", "-k", "BuildVersion"}, &code), "11D257\n");
}

}  // namespace
}  // namespace devsimtest
