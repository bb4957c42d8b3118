// The skin archive: a ZIP held among the program's resources (id 101, type "ZIPRES"), from which
// layouts and pictures are read by name ("xml\\skin.xml" and "xml/skin.xml" name the same file).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct zip;

namespace UiLib {

// Program resources: blocks of bytes linked into the program, found by id and type.
void RegisterResource(int id, const std::string& type, std::span<const uint8_t> bytes);
std::optional<std::span<const uint8_t>> FindResource(int id, const std::string& type);

class CResourceArchive {
  public:
    // Opens a ZIP held in memory (the bytes must outlive the archive). Nothing for a damaged or
    // truncated archive; the fault is reported.
    static std::shared_ptr<CResourceArchive> Open(std::span<const uint8_t> bytes);
    // Copies the bytes first, for archives read from a file.
    static std::shared_ptr<CResourceArchive> OpenCopy(std::vector<uint8_t> bytes);
    ~CResourceArchive();
    CResourceArchive(const CResourceArchive&) = delete;
    CResourceArchive& operator=(const CResourceArchive&) = delete;

    // The whole file, or nothing when the archive has no such file or it cannot be inflated.
    std::optional<std::vector<uint8_t>> Read(const std::string& name) const;
    bool Contains(const std::string& name) const;
    std::vector<std::string> Names() const;

    // The archive every window reads from. UseResource opens the resource archive (reporting
    // when it is missing or damaged) and makes it current.
    static bool UseResource(int id, const std::string& type);
    static void SetCurrent(std::shared_ptr<CResourceArchive> archive);
    static std::shared_ptr<CResourceArchive> Current();

    // "xml\\a.xml" -> "xml/a.xml"; a leading "./" or "/" is dropped.
    static std::string NormalizeName(const std::string& name);

  private:
    CResourceArchive() = default;
    std::vector<uint8_t> owned_;
    ::zip* zip_ = nullptr;
    mutable std::mutex mutex_;  // libzip archives are not safe for concurrent reads
};

}  // namespace UiLib
