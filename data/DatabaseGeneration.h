// Whether a database offered to the phone suits the phone's generation.
#pragma once

#include <cstdint>
#include <string>

#include "store/DatabaseGeneration.h"

namespace tolvane {

class BackupEngine;

// 0 when the phone of `productVersion` can read the database (RequiredIosMajor; also when the
// version is not known); otherwise 1006 with the engine's last error text saying which
// generation the file needs and which the phone has.
int32_t CheckDatabaseFitsPhone(BackupEngine& engine, const std::string& path, DataCategory category,
                               const std::string& productVersion);

}  // namespace tolvane
