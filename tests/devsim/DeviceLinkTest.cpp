// mobilebackup2 through the libimobiledevice API: the device-link handshake, the protocol version
// exchange, and ChangePassword with the right and the wrong password.
#include <gtest/gtest.h>

#include "tests/devsim/DeviceClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

class DeviceLinkTest : public ::testing::Test {
  protected:
    void Serve(const std::string& password = "", std::vector<std::string> faults = {}) {
        testenv::PhoneOptions o;
        o.messages = 2;
        o.contacts = 1;
        o.mediaMb = 0;
        o.apps = 0;
        o.backupPassword = password;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o, faults);
    }
    Backup2 Open(mobilebackup2_error_t* error = nullptr) {
        device_ = OpenDevice();
        lockdown_ = Handshake(device_.get());
        Service s = Start(lockdown_.get(), "com.apple.mobilebackup2", true);
        mobilebackup2_client_t c = nullptr;
        const mobilebackup2_error_t e =
            s ? mobilebackup2_client_new(device_.get(), s.get(), &c) : MOBILEBACKUP2_E_MUX_ERROR;
        if (error != nullptr) {
            *error = e;
        }
        return Backup2(c);
    }
    // Sends ChangePassword as the engine does and returns the phone's answer dictionary.
    Plist ChangePassword(mobilebackup2_client_t c, const char* oldPassword,
                         const char* newPassword) {
        Plist dict(plist_new_dict());
        plist_dict_set_item(dict.get(), "TargetIdentifier",
                            plist_new_string(phone_->Udid().c_str()));
        if (oldPassword != nullptr) {
            plist_dict_set_item(dict.get(), "OldPassword", plist_new_string(oldPassword));
        }
        if (newPassword != nullptr) {
            plist_dict_set_item(dict.get(), "NewPassword", plist_new_string(newPassword));
        }
        EXPECT_EQ(mobilebackup2_send_message(c, "ChangePassword", dict.get()),
                  MOBILEBACKUP2_E_SUCCESS);
        plist_t message = nullptr;
        char* name = nullptr;
        EXPECT_EQ(mobilebackup2_receive_message(c, &message, &name), MOBILEBACKUP2_E_SUCCESS);
        EXPECT_STREQ(name, "DLMessageProcessMessage");
        free(name);
        Plist owner(message);
        plist_t body = message != nullptr ? plist_array_get_item(message, 1) : nullptr;
        return Plist(body != nullptr ? plist_copy(body) : nullptr);
    }
    static uint64_t ErrorCode(plist_t answer) {
        uint64_t v = 999;
        plist_t n = answer != nullptr ? plist_dict_get_item(answer, "ErrorCode") : nullptr;
        if (n != nullptr) {
            plist_get_uint_val(n, &v);
        }
        return v;
    }
    testenv::IsolatedHome home_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    Device device_;
    Lockdown lockdown_;
};

TEST_F(DeviceLinkTest, HandshakeAndVersionExchange) {
    Serve();
    mobilebackup2_error_t error = MOBILEBACKUP2_E_UNKNOWN_ERROR;
    Backup2 c = Open(&error);
    ASSERT_EQ(error, MOBILEBACKUP2_E_SUCCESS);
    double offered[] = {2.0, 2.1};
    double remote = 0;
    ASSERT_EQ(mobilebackup2_version_exchange(c.get(), offered, 2, &remote),
              MOBILEBACKUP2_E_SUCCESS);
    EXPECT_DOUBLE_EQ(remote, 2.1);
    double older[] = {2.0};
    ASSERT_EQ(mobilebackup2_version_exchange(c.get(), older, 1, &remote), MOBILEBACKUP2_E_SUCCESS);
    EXPECT_DOUBLE_EQ(remote, 2.0);
    double unknown[] = {3.0};
    EXPECT_EQ(mobilebackup2_version_exchange(c.get(), unknown, 1, &remote),
              MOBILEBACKUP2_E_NO_COMMON_VERSION);
}

TEST_F(DeviceLinkTest, ChangePasswordWithTheRightPasswordStopsEncryption) {
    Serve("correct horse");
    ASSERT_TRUE(phone_->WillEncrypt());
    Backup2 c = Open();
    ASSERT_TRUE(c);
    double offered[] = {2.0, 2.1};
    double remote = 0;
    ASSERT_EQ(mobilebackup2_version_exchange(c.get(), offered, 2, &remote),
              MOBILEBACKUP2_E_SUCCESS);

    Plist wrong = ChangePassword(c.get(), "battery staple", nullptr);
    EXPECT_NE(ErrorCode(wrong.get()), 0u);
    EXPECT_FALSE(StringOf(plist_dict_get_item(wrong.get(), "ErrorDescription")).empty());
    EXPECT_TRUE(phone_->WillEncrypt());

    // The same connection takes the next request.
    Plist right = ChangePassword(c.get(), "correct horse", nullptr);
    EXPECT_EQ(ErrorCode(right.get()), 0u);
    EXPECT_EQ(plist_dict_get_item(right.get(), "ErrorDescription"), nullptr);
    EXPECT_FALSE(phone_->WillEncrypt());

    // Lockdown says the same from now on, also after a new serve.
    plist_t value = nullptr;
    ASSERT_EQ(
        lockdownd_get_value(lockdown_.get(), "com.apple.mobile.backup", "WillEncrypt", &value),
        LOCKDOWN_E_SUCCESS);
    uint8_t b = 1;
    plist_get_bool_val(value, &b);
    plist_free(value);
    EXPECT_EQ(b, 0);

    // Without a password there is nothing to remove, and a wrong old one stays wrong.
    Plist again = ChangePassword(c.get(), "correct horse", nullptr);
    EXPECT_NE(ErrorCode(again.get()), 0u);
    // A new password turns encryption back on.
    Plist set = ChangePassword(c.get(), nullptr, "new one");
    EXPECT_EQ(ErrorCode(set.get()), 0u);
    EXPECT_TRUE(phone_->WillEncrypt());

    const std::vector<std::string> events = phone_->Events();
    std::vector<std::string> passwordEvents;
    for (const std::string& e : events) {
        if (e.rfind("password", 0) == 0) {
            passwordEvents.push_back(e);
        }
    }
    EXPECT_EQ(passwordEvents, (std::vector<std::string>{"password refused", "password removed",
                                                        "password refused", "password set"}));
}

TEST_F(DeviceLinkTest, RequestsForAnotherPhoneAreRefused) {
    Serve("pw");
    Backup2 c = Open();
    ASSERT_TRUE(c);
    Plist dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "TargetIdentifier", plist_new_string("0123456789"));
    plist_dict_set_item(dict.get(), "OldPassword", plist_new_string("pw"));
    ASSERT_EQ(mobilebackup2_send_message(c.get(), "ChangePassword", dict.get()),
              MOBILEBACKUP2_E_SUCCESS);
    plist_t message = nullptr;
    char* name = nullptr;
    ASSERT_EQ(mobilebackup2_receive_message(c.get(), &message, &name), MOBILEBACKUP2_E_SUCCESS);
    free(name);
    Plist owner(message);
    EXPECT_NE(ErrorCode(plist_array_get_item(message, 1)), 0u);
    EXPECT_TRUE(phone_->WillEncrypt());
}

}  // namespace
}  // namespace devsimtest
