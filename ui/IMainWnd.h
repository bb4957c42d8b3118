// What the main window offers to its popups (and panels): the shared strings and flags, and the
// engine, used in turns with the connect timer and the connection attempts.
//
// CMainWnd implements it; the popups hold it as their owning main window. Everything here is
// called on the user interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace UiLib {
class WindowImplBase;
}

namespace tolvane {

class BackupEngine;

class IMainWnd {
  public:
    virtual ~IMainWnd() = default;

    // The main window itself (the owner of the popups it opens).
    virtual UiLib::WindowImplBase* GetMainWindow() = 0;

    // The documents folder + "/TolvaneiPhoneBackup".
    virtual std::wstring GetDefaultBackupRoot() const = 0;
    // The configured backup folder; empty when none is set.
    virtual std::wstring GetUserBackupFolder() const = 0;
    virtual void SetUserBackupFolder(const std::wstring& folder) = 0;

    // The last device backup password entered correctly.
    virtual std::wstring GetDevicePassword() const = 0;
    virtual void SetDevicePassword(const std::wstring& password) = 0;
    // The last password accepted for an encrypted backup (a correct device password too).
    virtual std::wstring GetBackupPassword() const = 0;
    virtual void SetBackupPassword(const std::wstring& password) = 0;
    // The phone encrypts its backups (as ConnectDevice found it).
    virtual bool IsDeviceEncrypted() const = 0;
    virtual void SetDeviceEncrypted(bool encrypted) = 0;

    // Runs `call` with the engine on the calling thread while no other thread uses it: a
    // running connection attempt has ended and the connect timer's check cannot start (the
    // device lock is held). Returns what `call` returns. The engine has no lock of its own, so
    // every engine call made outside the run workers goes through here.
    virtual int32_t WithEngine(const std::function<int32_t(BackupEngine&)>& call) = 0;
};

}  // namespace tolvane
