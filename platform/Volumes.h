// Volumes and their free space: the stand-in for the logical drives of the system.
//
// Everything goes through a VolumeSource, so a test can give its own list of volumes and their
// free bytes (SetVolumeSourceForTesting).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class VolumeSource {
  public:
    virtual ~VolumeSource() = default;
    // The roots of the local disk volumes the user can write to, in the system's order.
    virtual std::vector<std::string> Roots() = 0;
    // Free bytes in total on the volume that holds `path` (not only those free to the caller).
    virtual std::optional<uint64_t> FreeBytesTotal(const std::string& path) = 0;
    // Free bytes available to the calling user on the volume that holds `path`.
    virtual std::optional<uint64_t> FreeBytesAvailable(const std::string& path) = 0;
};

// The system's volumes: mount points of local disk file systems in /proc/self/mounts order,
// pseudo and network file systems skipped, only those whose root the user can write; free space
// from statvfs (f_bfree / f_bavail times f_frsize) of the nearest existing folder of a path.
class SystemVolumeSource : public VolumeSource {
  public:
    std::vector<std::string> Roots() override;
    std::optional<uint64_t> FreeBytesTotal(const std::string& path) override;
    std::optional<uint64_t> FreeBytesAvailable(const std::string& path) override;
};

// The source in use: the system's unless a test has set its own.
VolumeSource& Volumes();

// Only for tests: `source` replaces the system's until called again with nullptr.
void SetVolumeSourceForTesting(VolumeSource* source);

// Where the work folder goes: `preferred` when its volume has more than `threshold` bytes free in
// total; otherwise the root with the most free bytes in total (the first of equals; a root whose
// free space is unknown or zero is never chosen); an empty string when no root qualifies.
std::string ChooseWorkFolderBase(const std::string& preferred, uint64_t threshold);

}  // namespace platform
