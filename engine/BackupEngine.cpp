// The session operations of the engine and the password step; the runs are in BackupRun.cpp and
// RestoreRun.cpp.
#include "engine/BackupEngine.h"

#include <libimobiledevice/mobilebackup2.h>

#include "engine/MessageLoop.h"
#include "platform/Handles.h"

namespace tolvane {

BackupEngine::~BackupEngine() {
    CloseDevice();
    ClearWorkingBackup();
}

int32_t BackupEngine::ConnectDevice(uint8_t* willEncrypt) {
    run_.SetBackupPhase(false);
    platform::Failure what = platform::Failure::None;
    const int32_t result = session_.Connect(willEncrypt, what);
    return run_.NoteFailure(result, what);
}

int32_t BackupEngine::CloseDevice() {
    return session_.Close();
}

int32_t BackupEngine::GetDeviceName(std::string& name) {
    return session_.GetDeviceName(name);
}

int32_t BackupEngine::GetProductVersion(std::string& version) {
    return session_.GetProductVersion(version);
}

int32_t BackupEngine::GetDeviceClass(std::string& deviceClass) {
    return session_.GetDeviceClass(deviceClass);
}

bool BackupEngine::IsDevicePresent() {
    return session_.IsDevicePresent();
}

int32_t BackupEngine::UnlockBackupPassword(const char* password) {
    using platform::Failure;
    if (!session_.WillEncrypt()) {
        return 0;
    }
    if (password == nullptr) {
        return run_.NoteFailure(platform::kResultMissing, Failure::PasswordNeeded);
    }
    if (session_.BackupClient() == nullptr) {
        return run_.NoteFailure(MOBILEBACKUP2_E_INVALID_ARG, Failure::DeviceService);
    }
    platform::PlistPtr request(plist_new_dict());
    plist_dict_set_item(request.get(), "TargetIdentifier",
                        plist_new_string(session_.Udid().c_str()));
    plist_dict_set_item(request.get(), "OldPassword", plist_new_string(password));
    const mobilebackup2_error_t sent =
        mobilebackup2_send_message(session_.BackupClient(), "ChangePassword", request.get());
    if (sent != MOBILEBACKUP2_E_SUCCESS) {
        return run_.NoteFailure(sent, Failure::DeviceService);
    }
    const int32_t result = RunMessageLoop(nullptr, session_, run_);
    if (result == 0) {
        session_.NoteBackupsUnencrypted();
    }
    return result;
}

}  // namespace tolvane
