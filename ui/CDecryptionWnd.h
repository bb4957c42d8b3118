// The password window: asks for the password of an encrypted backup (mode 1) or for the phone's
// backup password (mode 0), checks it, and stays open until the password is right or the user
// gives up.
//
//   CDecryptionWnd wnd;
//   wnd.SetMainWnd(main);                  // needed: the passwords are stored there
//   wnd.SetMode(CDecryptionWnd::kBackup);  // and SetBackupFolder(folder) for mode 1
//   wnd.Create(owner, 500, 240);
//   if (wnd.ShowModal() == 1) { ... wnd.GetPassword() ... }
//
// Ends with 1 for a correct password (stored in the main window: mode 1 as its backup password;
// mode 0 as its device and backup password, and the phone counts as not encrypting any more),
// 2 for "BtnCancel", "closebtn" or the window manager. A wrong password shows a message and the
// window asks again, any number of times; so does a check that could not be made (the phone
// gone, the decryption tool missing), with a message that says so instead of blaming the
// password. The checks run on the user interface thread; the phone
// is asked through IMainWnd::WithEngine, so no other thread uses the engine meanwhile.
#pragma once

#include <string>

#include "platform/Results.h"
#include "ui/CPopUpWnd.h"

namespace tolvane {

class CDecryptionWnd : public CPopUpWnd {
  public:
    static constexpr int kDevice = 0;  // the phone's backup password (UnlockBackupPassword)
    static constexpr int kBackup = 1;  // an encrypted backup's password (VerifyBackupPassword)

    CDecryptionWnd();

    void SetMode(int mode) { mode_ = mode; }
    int GetMode() const { return mode_; }
    // Mode 1: the folder of the encrypted backup (bytes, as the store takes it).
    void SetBackupFolder(std::string folder) { backupFolder_ = std::move(folder); }
    // The password typed last: the correct one after a run that ended with 1.
    const std::wstring& GetPassword() const { return password_; }

    std::string GetWindowClassName() const override { return "UIDecryptionWnd"; }

  protected:
    void OnWindowInit() override;

  private:
    void OnOk(UiLib::TNotifyUI& msg);
    void OnCancel(UiLib::TNotifyUI& msg);
    struct Outcome {
        int32_t result = 0;  // 0: the password is right
        platform::Failure failure = platform::Failure::None;
    };
    Outcome Check(const std::string& password);
    // The text shown for a password that was not accepted.
    std::wstring RefusalText(const Outcome& outcome) const;

    int mode_ = kDevice;
    std::string backupFolder_;
    std::wstring password_;
};

}  // namespace tolvane
