// lockdown through the libimobiledevice API: handshake and sessions, values with and without
// domain and key, service starts with and without the escrow bag, and the lockdown-level faults.
#include <gtest/gtest.h>

#include "tests/devsim/DeviceClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

testenv::PhoneOptions SmallPhone() {
    testenv::PhoneOptions o;
    o.name = "Ærøskøbing 📱";
    o.messages = 4;
    o.contacts = 2;
    o.mediaMb = 0;
    o.apps = 0;
    return o;
}

class LockdownTest : public ::testing::Test {
  protected:
    void Connect() {
        device_ = OpenDevice();
        ASSERT_TRUE(device_);
        lockdownd_error_t error = LOCKDOWN_E_UNKNOWN_ERROR;
        lockdown_ = Handshake(device_.get(), &error);
        ASSERT_EQ(error, LOCKDOWN_E_SUCCESS);
    }
    Plist Get(const char* domain, const char* key, lockdownd_error_t* error = nullptr) {
        plist_t value = nullptr;
        const lockdownd_error_t e = lockdownd_get_value(lockdown_.get(), domain, key, &value);
        if (error != nullptr) {
            *error = e;
        }
        return Plist(value);
    }
    testenv::IsolatedHome home_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    Device device_;
    Lockdown lockdown_;
};

TEST_F(LockdownTest, ValuesWithAndWithoutDomainAndKey) {
    phone_ = std::make_unique<testenv::SimulatedPhone>(SmallPhone());
    Connect();
    char* type = nullptr;
    ASSERT_EQ(lockdownd_query_type(lockdown_.get(), &type), LOCKDOWN_E_SUCCESS);
    EXPECT_STREQ(type, "com.apple.mobile.lockdown");
    free(type);

    Plist all = Get(nullptr, nullptr);
    ASSERT_TRUE(all);
    EXPECT_EQ(StringOf(plist_dict_get_item(all.get(), "DeviceName")), "Ærøskøbing 📱");
    EXPECT_EQ(StringOf(plist_dict_get_item(all.get(), "UniqueDeviceID")), phone_->Udid());
    EXPECT_EQ(StringOf(plist_dict_get_item(all.get(), "DeviceClass")), "iPhone");
    EXPECT_EQ(StringOf(plist_dict_get_item(all.get(), "ProductVersion")).substr(0, 4), "7.1.");

    EXPECT_EQ(StringOf(Get(nullptr, "BuildVersion").get()), "11D257");
    Plist backup = Get("com.apple.mobile.backup", nullptr);
    ASSERT_TRUE(backup);
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(backup.get(), "WillEncrypt")), PLIST_BOOLEAN);
    Plist willEncrypt = Get("com.apple.mobile.backup", "WillEncrypt");
    ASSERT_TRUE(willEncrypt);
    uint8_t b = 1;
    plist_get_bool_val(willEncrypt.get(), &b);
    EXPECT_EQ(b, 0);
    Plist itunes = Get("com.apple.iTunes", nullptr);
    ASSERT_TRUE(itunes);
    EXPECT_EQ(plist_get_node_type(itunes.get()), PLIST_DICT);
    EXPECT_GT(plist_dict_get_size(itunes.get()), 0u);

    lockdownd_error_t error = LOCKDOWN_E_SUCCESS;
    EXPECT_FALSE(Get(nullptr, "NoSuchValue", &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
    EXPECT_FALSE(Get("no.such.domain", nullptr, &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
}

TEST_F(LockdownTest, SessionsAndServiceStartsAreRecordedInOrder) {
    phone_ = std::make_unique<testenv::SimulatedPhone>(SmallPhone());
    Connect();
    for (const char* service :
         {"com.apple.mobile.notification_proxy", "com.apple.afc", "com.apple.mobilebackup2"}) {
        for (bool escrow : {true, false}) {
            lockdownd_error_t error = LOCKDOWN_E_UNKNOWN_ERROR;
            Service s = Start(lockdown_.get(), service, escrow, &error);
            EXPECT_EQ(error, LOCKDOWN_E_SUCCESS) << service << " escrow " << escrow;
            ASSERT_TRUE(s);
            EXPECT_NE(s->port, 0) << service;
            EXPECT_EQ(s->ssl_enabled, 0);
        }
    }
    lockdownd_error_t error = LOCKDOWN_E_SUCCESS;
    EXPECT_FALSE(Start(lockdown_.get(), "com.apple.no.such.service", false, &error));
    EXPECT_EQ(error, LOCKDOWN_E_INVALID_SERVICE);
    lockdown_.reset();

    const std::vector<std::string> events = phone_->Events();
    std::vector<std::string> relevant;
    for (const std::string& e : events) {
        if (e.rfind("session", 0) == 0 || e.rfind("service", 0) == 0) {
            relevant.push_back(e.substr(0, e.find(' ', e.find(' ') + 1)));
        }
    }
    const std::vector<std::string> expected = {
        "session started", "service started", "service started", "service started",
        "service started", "service started", "service started", "session stopped"};
    EXPECT_EQ(relevant, expected);
    EXPECT_NE(
        std::find(events.begin(), events.end(), "service started com.apple.mobilebackup2 escrow"),
        events.end());
}

TEST_F(LockdownTest, ServicesNeedASessionAndAKnownHost) {
    phone_ = std::make_unique<testenv::SimulatedPhone>(SmallPhone());
    device_ = OpenDevice();
    lockdownd_client_t raw = nullptr;
    ASSERT_EQ(lockdownd_client_new(device_.get(), &raw, "devsim-tests"), LOCKDOWN_E_SUCCESS);
    lockdown_.reset(raw);
    lockdownd_error_t error = LOCKDOWN_E_SUCCESS;
    EXPECT_FALSE(Start(lockdown_.get(), "com.apple.afc", false, &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
    EXPECT_EQ(lockdownd_start_session(lockdown_.get(), "00000000-0000-0000-0000-000000000000",
                                      nullptr, nullptr),
              LOCKDOWN_E_INVALID_HOST_ID);
}

TEST_F(LockdownTest, WillEncryptFollowsThePasswordAndItsFaults) {
    testenv::PhoneOptions o = SmallPhone();
    o.backupPassword = "pa55";
    phone_ = std::make_unique<testenv::SimulatedPhone>(o);
    EXPECT_TRUE(phone_->WillEncrypt());
    Connect();
    Plist value = Get("com.apple.mobile.backup", "WillEncrypt");
    ASSERT_TRUE(value);
    uint8_t b = 0;
    plist_get_bool_val(value.get(), &b);
    EXPECT_EQ(b, 1);
    lockdown_.reset();
    device_.reset();

    phone_->Restart({"willencrypt=absent"});
    Connect();
    lockdownd_error_t error = LOCKDOWN_E_UNKNOWN_ERROR;
    EXPECT_FALSE(Get("com.apple.mobile.backup", "WillEncrypt", &error));
    EXPECT_EQ(error, LOCKDOWN_E_SUCCESS);
    Plist domain = Get("com.apple.mobile.backup", nullptr);
    ASSERT_TRUE(domain);
    EXPECT_EQ(plist_dict_get_item(domain.get(), "WillEncrypt"), nullptr);
    lockdown_.reset();
    device_.reset();

    phone_->Restart({"willencrypt=fail"});
    Connect();
    EXPECT_FALSE(Get("com.apple.mobile.backup", "WillEncrypt", &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
    // Other values still answer.
    EXPECT_TRUE(Get(nullptr, "DeviceName", &error));
}

TEST_F(LockdownTest, ServiceFaultsRefuseOrAnswerPortZero) {
    phone_ = std::make_unique<testenv::SimulatedPhone>(
        SmallPhone(),
        std::vector<std::string>{"afc-unavailable", "np-unavailable", "backup-port-zero"});
    Connect();
    lockdownd_error_t error = LOCKDOWN_E_SUCCESS;
    EXPECT_FALSE(Start(lockdown_.get(), "com.apple.afc", false, &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
    EXPECT_FALSE(Start(lockdown_.get(), "com.apple.mobile.notification_proxy", false, &error));
    EXPECT_NE(error, LOCKDOWN_E_SUCCESS);
    // Port 0 comes back as the library makes of it: no usable port either way.
    Service backup = Start(lockdown_.get(), "com.apple.mobilebackup2", false, &error);
    EXPECT_TRUE(error != LOCKDOWN_E_SUCCESS || (backup && backup->port == 0));
    const std::vector<std::string> events = phone_->Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "service refused com.apple.afc"),
              events.end());
}

TEST_F(LockdownTest, SetValueRenamesThePhoneForLaterServes) {
    phone_ = std::make_unique<testenv::SimulatedPhone>(SmallPhone());
    Connect();
    ASSERT_EQ(lockdownd_set_value(lockdown_.get(), nullptr, "DeviceName",
                                  plist_new_string("Kitchen phone")),
              LOCKDOWN_E_SUCCESS);
    lockdown_.reset();
    device_.reset();
    phone_->Restart();
    Connect();
    EXPECT_EQ(StringOf(Get(nullptr, "DeviceName").get()), "Kitchen phone");
}

}  // namespace
}  // namespace devsimtest
