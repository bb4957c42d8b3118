// AFC on the media area through the libimobiledevice API: file information, reading whole files,
// the sync lock between two clients (including "would block"), and the lock faults.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/devsim/DeviceClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

constexpr char kLockFile[] = "/com.apple.itunes.lock_sync";

class AfcTest : public ::testing::Test {
  protected:
    void Serve(std::vector<std::string> faults = {}) {
        testenv::PhoneOptions o;
        o.messages = 2;
        o.contacts = 1;
        o.mediaMb = 0;
        o.apps = 0;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o, faults);
        device_ = OpenDevice();
        ASSERT_TRUE(device_);
        lockdown_ = Handshake(device_.get());
        ASSERT_TRUE(lockdown_);
    }
    Afc NewClient() {
        Service s = Start(lockdown_.get(), "com.apple.afc", false);
        afc_client_t c = nullptr;
        EXPECT_TRUE(s);
        if (s) {
            EXPECT_EQ(afc_client_new(device_.get(), s.get(), &c), AFC_E_SUCCESS);
        }
        return Afc(c);
    }
    std::map<std::string, std::string> Info(afc_client_t afc, const char* path,
                                            afc_error_t* error = nullptr) {
        char** list = nullptr;
        const afc_error_t e = afc_get_file_info(afc, path, &list);
        if (error != nullptr) {
            *error = e;
        }
        std::map<std::string, std::string> out;
        for (int i = 0; list != nullptr && list[i] != nullptr && list[i + 1] != nullptr; i += 2) {
            out[list[i]] = list[i + 1];
        }
        afc_dictionary_free(list);
        return out;
    }
    std::string ReadAll(afc_client_t afc, const char* path) {
        uint64_t handle = 0;
        if (afc_file_open(afc, path, AFC_FOPEN_RDONLY, &handle) != AFC_E_SUCCESS) {
            return "<open failed>";
        }
        std::string out;
        char buf[1000];
        uint32_t n = 0;
        while (afc_file_read(afc, handle, buf, sizeof buf, &n) == AFC_E_SUCCESS && n > 0) {
            out.append(buf, n);
        }
        afc_file_close(afc, handle);
        return out;
    }
    testenv::IsolatedHome home_;
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    Device device_;
    Lockdown lockdown_;
};

TEST_F(AfcTest, FileInformationAndReadsMatchTheMediaArea) {
    Serve();
    Afc afc = NewClient();
    ASSERT_TRUE(afc);
    const std::string local = phone_->DeviceDir() + "/media/Books/iBooksData2.plist";
    const std::string expected = testenv::ReadFile(local);
    auto info = Info(afc.get(), "/Books/iBooksData2.plist");
    EXPECT_EQ(info["st_size"], std::to_string(expected.size()));
    EXPECT_EQ(info["st_ifmt"], "S_IFREG");
    EXPECT_EQ(ReadAll(afc.get(), "/Books/iBooksData2.plist"), expected);
    // A read larger than the file gives the file; the iTunes files read the same way.
    EXPECT_EQ(ReadAll(afc.get(), "/iTunes_Control/iTunes/IC-Info.sidb"),
              testenv::ReadFile(phone_->DeviceDir() + "/media/iTunes_Control/iTunes/IC-Info.sidb"));
    EXPECT_EQ(Info(afc.get(), "/iTunes_Control/iTunes/PhotosFolderPrefs")["st_size"], "0");
    EXPECT_EQ(Info(afc.get(), "/Books")["st_ifmt"], "S_IFDIR");

    afc_error_t error = AFC_E_SUCCESS;
    EXPECT_TRUE(Info(afc.get(), "/iTunes_Control/iTunes/ApertureAlbumPrefs", &error).empty());
    EXPECT_EQ(error, AFC_E_OBJECT_NOT_FOUND);
    // The area is a jail: the device folder above it cannot be reached.
    Info(afc.get(), "/../device.plist", &error);
    EXPECT_EQ(error, AFC_E_OBJECT_NOT_FOUND);
    uint64_t handle = 0;
    EXPECT_EQ(afc_file_open(afc.get(), "/no/such/file", AFC_FOPEN_RDONLY, &handle),
              AFC_E_OBJECT_NOT_FOUND);
}

TEST_F(AfcTest, SyncLockIsExclusiveBetweenClientsUntilUnlockOrClose) {
    Serve();
    Afc first = NewClient();
    Afc second = NewClient();
    ASSERT_TRUE(first && second);
    uint64_t h1 = 0, h2 = 0;
    ASSERT_EQ(afc_file_open(first.get(), kLockFile, AFC_FOPEN_RW, &h1), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_open(second.get(), kLockFile, AFC_FOPEN_RW, &h2), AFC_E_SUCCESS);
    EXPECT_NE(h1, 0u);
    EXPECT_EQ(afc_file_lock(first.get(), h1, AFC_LOCK_EX), AFC_E_SUCCESS);
    EXPECT_EQ(afc_file_lock(second.get(), h2, AFC_LOCK_EX), AFC_E_OP_WOULD_BLOCK);
    EXPECT_EQ(afc_file_lock(first.get(), h1, AFC_LOCK_UN), AFC_E_SUCCESS);
    EXPECT_EQ(afc_file_lock(second.get(), h2, AFC_LOCK_EX), AFC_E_SUCCESS);
    // Closing the handle releases its lock.
    EXPECT_EQ(afc_file_close(second.get(), h2), AFC_E_SUCCESS);
    EXPECT_EQ(afc_file_lock(first.get(), h1, AFC_LOCK_EX), AFC_E_SUCCESS);
    // So does a client that goes away without closing.
    first.reset();
    ASSERT_EQ(afc_file_open(second.get(), kLockFile, AFC_FOPEN_RW, &h2), AFC_E_SUCCESS);
    bool locked = false;
    for (int i = 0; i < 200 && !locked; ++i) {
        locked = afc_file_lock(second.get(), h2, AFC_LOCK_EX) == AFC_E_SUCCESS;
        if (!locked) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(locked);

    std::vector<std::string> lockEvents;
    for (const std::string& e : phone_->Events()) {
        if (e.rfind("lock ", 0) == 0) {
            lockEvents.push_back(e);
        }
    }
    ASSERT_GE(lockEvents.size(), 2u);
    EXPECT_EQ(lockEvents[0], std::string("lock acquired ") + kLockFile);
    EXPECT_EQ(lockEvents[1], std::string("lock busy ") + kLockFile);
}

TEST_F(AfcTest, BlockingLockWaitsForTheHolder) {
    Serve();
    Afc first = NewClient();
    Afc second = NewClient();
    uint64_t h1 = 0, h2 = 0;
    ASSERT_EQ(afc_file_open(first.get(), kLockFile, AFC_FOPEN_RW, &h1), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_open(second.get(), kLockFile, AFC_FOPEN_RW, &h2), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_lock(first.get(), h1, AFC_LOCK_EX), AFC_E_SUCCESS);
    // Operation 2 is an exclusive lock without the non-blocking bit.
    std::atomic<bool> returned{false};
    afc_error_t result = AFC_E_UNKNOWN_ERROR;
    std::thread waiter([&] {
        result = afc_file_lock(second.get(), h2, static_cast<afc_lock_op_t>(2));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(afc_file_lock(first.get(), h1, AFC_LOCK_UN), AFC_E_SUCCESS);
    waiter.join();
    EXPECT_EQ(result, AFC_E_SUCCESS);
}

TEST_F(AfcTest, LockHeldByAnotherProgramBlocksForItsTimeOrForEver) {
    Serve({"lock-held=forever"});
    Afc afc = NewClient();
    uint64_t h = 0;
    ASSERT_EQ(afc_file_open(afc.get(), kLockFile, AFC_FOPEN_RW, &h), AFC_E_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(afc_file_lock(afc.get(), h, AFC_LOCK_EX), AFC_E_OP_WOULD_BLOCK);
    }
    afc.reset();
    lockdown_.reset();
    device_.reset();

    phone_->Restart({"lock-held=1"});
    device_ = OpenDevice();
    lockdown_ = Handshake(device_.get());
    afc = NewClient();
    ASSERT_EQ(afc_file_open(afc.get(), kLockFile, AFC_FOPEN_RW, &h), AFC_E_SUCCESS);
    EXPECT_EQ(afc_file_lock(afc.get(), h, AFC_LOCK_EX), AFC_E_OP_WOULD_BLOCK);
    const auto start = std::chrono::steady_clock::now();
    afc_error_t result = AFC_E_OP_WOULD_BLOCK;
    while (result == AFC_E_OP_WOULD_BLOCK &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        result = afc_file_lock(afc.get(), h, AFC_LOCK_EX);
    }
    EXPECT_EQ(result, AFC_E_SUCCESS);
}

TEST_F(AfcTest, WritesGoToTheMediaArea) {
    Serve();
    Afc afc = NewClient();
    uint64_t h = 0;
    ASSERT_EQ(afc_file_open(afc.get(), "/iTunes_Control/iTunes/iTunesPrefs", AFC_FOPEN_WR, &h),
              AFC_E_SUCCESS);
    const char text[] = "new prefs";
    uint32_t written = 0;
    ASSERT_EQ(afc_file_write(afc.get(), h, text, sizeof text - 1, &written), AFC_E_SUCCESS);
    EXPECT_EQ(written, sizeof text - 1);
    ASSERT_EQ(afc_file_close(afc.get(), h), AFC_E_SUCCESS);
    EXPECT_EQ(testenv::ReadFile(phone_->DeviceDir() + "/media/iTunes_Control/iTunes/iTunesPrefs"),
              "new prefs");
}

}  // namespace
}  // namespace devsimtest
