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
// password.
//
// Threads: the phone (mode 0) is asked on the user interface thread through IMainWnd::WithEngine,
// so no other thread uses the engine meanwhile. A backup's password (mode 1) is checked by
// decrypting the backup, which takes seconds for one of iOS 10.2 and later: the check runs on a
// worker of the window while the window goes on handling events, with OK and the password field
// disabled and "LblCheckState" and "PrgCheck" showing the tool's "Deriving the password key"
// progress. A close asked meanwhile (Cancel, the close button, the window manager) stops the
// check, whose tool is ended and whose plain output is deleted, and the window then ends with 2.
// The window joins its worker before it goes.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "platform/Results.h"
#include "ui/CPopUpWnd.h"

namespace tolvane {

// Posted by the password window's worker: a new figure of the derivation, the check's end, and
// the start (wParam 1) or end (0) of a wait for another operation of the program.
inline constexpr UiLib::UINT UM_CHECK_PROGRESS = 0x420;
inline constexpr UiLib::UINT UM_CHECK_DONE = 0x421;
inline constexpr UiLib::UINT UM_CHECK_WAITING = 0x422;
// What the check's row says during that wait.
inline constexpr const wchar_t* kCheckWaitingText = L"Waiting for another Tolvane operation\u2026";

class CDecryptionWnd : public CPopUpWnd {
  public:
    static constexpr int kDevice = 0;  // the phone's backup password (UnlockBackupPassword)
    static constexpr int kBackup = 1;  // an encrypted backup's password (VerifyBackupPassword)

    CDecryptionWnd();
    ~CDecryptionWnd() override;

    void SetMode(int mode) { mode_ = mode; }
    int GetMode() const { return mode_; }
    // Mode 1: the folder of the encrypted backup (bytes, as the store takes it).
    void SetBackupFolder(std::string folder) { backupFolder_ = std::move(folder); }
    // Mode 1: a password known from before (the main window's), checked as soon as the window
    // opens. Right, the window ends with 1 by itself; refused, it asks as if it had not been
    // tried, without a message.
    void SetPasswordToTry(std::wstring password) { tryFirst_ = std::move(password); }
    // The password typed last: the correct one after a run that ended with 1.
    const std::wstring& GetPassword() const { return password_; }
    // Mode 1: a check is under way.
    bool Checking() const { return checker_.joinable(); }
    // The last figure the derivation reported (-1 before one in the current check).
    int CheckPercent() const { return percent_.load(); }

    std::string GetWindowClassName() const override { return "UIDecryptionWnd"; }

  protected:
    void OnWindowInit() override;
    bool QueryClose(UiLib::UINT result, UiLib::CloseOrigin origin) override;
    UiLib::LRESULT HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                 UiLib::LPARAM lParam) override;

  private:
    void OnOk(UiLib::TNotifyUI& msg);
    void OnCancel(UiLib::TNotifyUI& msg);
    struct Outcome {
        int32_t result = 0;  // 0: the password is right
        platform::Failure failure = platform::Failure::None;
    };
    // Mode 0, on this thread.
    Outcome CheckDevice(const std::string& password);
    // Mode 1: starts the worker on `password_`; `silent`: a refusal shows no message.
    void StartBackupCheck(bool silent);
    void ShowChecking(bool checking);
    void ShowProgress();
    void ShowWaiting(bool waiting);
    void FinishBackupCheck();
    // The right password: stored, and the window ends with 1.
    void Accept();
    // Not accepted: the message (unless `silent`), then the window asks again.
    void Refuse(const Outcome& outcome, bool silent);
    // The text shown for a password that was not accepted.
    std::wstring RefusalText(const Outcome& outcome) const;

    int mode_ = kDevice;
    std::string backupFolder_;
    std::wstring password_;
    std::wstring tryFirst_;

    std::thread checker_;
    std::atomic<bool> stopCheck_{false};
    std::atomic<int> percent_{-1};
    int32_t checkResult_ = 0;  // written by the worker before UM_CHECK_DONE
    bool silentCheck_ = false;
    std::optional<UiLib::UINT> pendingClose_;  // a close asked during the check
};

}  // namespace tolvane
