// make-device: creates a phone in a folder (the layout of DeviceState.h), entirely from a seed: the
// same options give the same files, byte for byte. The version chooses the generation: 7.1.x
// plays the iOS 7 generation, 10 to 18 a modern phone (Generation.h).
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
    std::string productVersion = "7.1.2";  // 7.1, 7.1.x, or any version from 10 to 18
    std::string productType;               // empty: a model that runs the version
    std::optional<uint32_t> backupRounds;  // DPIC of a modern phone's keybag (default 10 000 000)
    bool cellular = true;  // false: no PhoneNumber, ICCID or IMEI (an iPod-like phone)
};

// Writes the phone into `dir`, which must not exist or be empty. False with `error` set.
bool MakeDevice(const std::string& dir, const MakeDeviceOptions& options, std::string& error);

// The build of a version (11D167 for 7.1, 11D201 for 7.1.1, 11D257 for 7.1.2; a build of the
// right shape for a modern version).
std::string BuildVersionFor(const std::string& productVersion);

}  // namespace devsim
