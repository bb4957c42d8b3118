// Whether a file offered as a message or contacts database can replace a backup's database whole.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

class BackupEngine;

// 0 when each of the message tables holds at least one row; the database library's open result
// when the file cannot be opened; 1006 with the engine's last error text set otherwise. The file
// is opened read-only and never changed.
int32_t CheckMessageDatabase(BackupEngine& engine, const std::string& dbPath);

// The same for a contacts database and its tables.
int32_t CheckContactDatabase(BackupEngine& engine, const std::string& dbPath);

}  // namespace tolvane
