// make-device: creates a phone of the iOS 7 generation in a folder (the layout of DeviceState.h),
// entirely from a seed: the same options give the same files, byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct MakeDeviceOptions {
    std::string name = "Test iPhone";
    int messages = 40;
    int contacts = 20;
    int mediaMb = 1;
    int apps = 2;
    std::optional<std::string> backupPassword;  // set: WillEncrypt true with this password
    uint64_t seed = 1;
    std::string productVersion = "7.1.2";
    std::string productType = "iPhone6,1";
    bool cellular = true;  // false: no PhoneNumber, ICCID or IMEI (an iPod-like phone)
};

// Writes the phone into `dir`, which must not exist or be empty. False with `error` set.
bool MakeDevice(const std::string& dir, const MakeDeviceOptions& options, std::string& error);

// The build of a 7.1.x version (11D167 for 7.1, 11D201 for 7.1.1, 11D257 for 7.1.2).
std::string BuildVersionFor(const std::string& productVersion);

}  // namespace devsim
