// tolvanectl info: the connected phone's values.
#include <cstdio>

#include "cli/Command.h"
#include "engine/BackupEngine.h"
#include "store/BackupFormat.h"

namespace tolvane::cli {
namespace {

int RunInfoCommand(const std::vector<std::string>& args) {
    if (!args.empty()) {
        return UsageError("info", "no arguments expected");
    }
    BackupEngine engine;
    if (const int status = ConnectPhone(engine); status != 0) {
        return status;
    }
    std::printf("UDID: %s\n", engine.Udid().c_str());
    std::printf("Device name: %s\n", engine.CachedDeviceName().c_str());
    std::printf("Device class: %s\n", engine.CachedDeviceClass().c_str());
    std::printf("Product version: %s\n", engine.CachedProductVersion().c_str());
    std::printf("Backup format: %s\n",
                BackupFormatName(PhoneBackupFormat(engine.CachedProductVersion())));
    std::printf("Backup service: %s\n", engine.HasBackupService() ? "yes" : "no");
    std::printf("Encrypts backups: %s\n", engine.WillEncrypt() ? "yes" : "no");
    engine.CloseDevice();
    return 0;
}

const CommandRegistration kRegistration({"info", "", "show the connected phone's values",
                                         RunInfoCommand});

}  // namespace
}  // namespace tolvane::cli
