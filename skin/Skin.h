// The skin archive linked into the program: layouts and pictures, registered as resource 101 of
// type "ZIPRES" for the window framework.
#pragma once

#include <cstdint>
#include <span>

namespace tolvane::skin {

inline constexpr int kResourceId = 101;
inline constexpr const char* kResourceType = "ZIPRES";

// The bytes of the archive.
std::span<const uint8_t> ArchiveBytes();
// Registers the archive as resource 101 "ZIPRES" (idempotent).
void RegisterSkin();

}  // namespace tolvane::skin
