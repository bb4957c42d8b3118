#include "ui/CDecryptionWnd.h"

#include <algorithm>
#include <cstdio>

#include "UiLib/CProgressUI.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "skin/layouts/DecryptionWnd.h"
#include "store/EncryptedBackup.h"
#include "ui/CMessageBox.h"
#include "ui/IMainWnd.h"

namespace tolvane {
namespace {

// What the check's row says while the tool works.
constexpr const wchar_t* kCheckingText = L"Checking the password...";

}  // namespace

CDecryptionWnd::CDecryptionWnd() : CPopUpWnd("xml\\DecryptionWnd.xml") {}

CDecryptionWnd::~CDecryptionWnd() {
    stopCheck_ = true;
    if (checker_.joinable()) {
        checker_.join();
    }
}

void CDecryptionWnd::OnWindowInit() {
    skin::DecryptionWndLayout ui(pm_);
    if (UiLib::CTextUI* description = ui.TxtDescription()) {
        description->SetText(
            mode_ == kBackup
                ? Message(L"DecryptBackupPrompt",
                          L"The selected iTunes backup file is encrypted. Please enter the "
                          L"password here to unlock it.")
                : Message(L"DecryptDevicePrompt",
                          L"The iPhone device is encrypted. Please enter the password here to "
                          L"unlock it."));
    }
    if (UiLib::CButtonUI* ok = ui.BtnOK()) {
        ok->Bind("click", UiLib::CDelegate(this, &CDecryptionWnd::OnOk));
    }
    if (UiLib::CButtonUI* cancel = ui.BtnCancel()) {
        cancel->Bind("click", UiLib::CDelegate(this, &CDecryptionWnd::OnCancel));
    }
    if (UiLib::CEditUI* edit = ui.EditPassword()) {
        pm_.SetFocus(edit);
    }
    if (mode_ == kBackup && !tryFirst_.empty()) {
        password_ = tryFirst_;
        StartBackupCheck(true);
    }
}

bool CDecryptionWnd::QueryClose(UiLib::UINT result, UiLib::CloseOrigin /*origin*/) {
    if (!checker_.joinable()) {
        return true;
    }
    // Ended once the worker has stopped: it is told to, and its tool goes at once.
    stopCheck_ = true;
    if (!pendingClose_) {
        pendingClose_ = result == UiLib::IDOK ? static_cast<UiLib::UINT>(UiLib::IDCANCEL) : result;
    }
    return false;
}

UiLib::LRESULT CDecryptionWnd::HandleMessage(UiLib::UINT msg, UiLib::WPARAM wParam,
                                             UiLib::LPARAM lParam) {
    if (msg == UM_CHECK_PROGRESS) {
        ShowProgress();
        return 0;
    }
    if (msg == UM_CHECK_DONE) {
        FinishBackupCheck();
        return 0;
    }
    if (msg == UM_CHECK_WAITING) {
        ShowWaiting(wParam != 0);
        return 0;
    }
    return CPopUpWnd::HandleMessage(msg, wParam, lParam);
}

void CDecryptionWnd::OnCancel(UiLib::TNotifyUI& /*msg*/) {
    Close(UiLib::IDCANCEL);
}

CDecryptionWnd::Outcome CDecryptionWnd::CheckDevice(const std::string& password) {
    IMainWnd* main = GetMainWnd();
    Outcome outcome;
    if (main == nullptr) {
        std::printf("CDecryptionWnd: no main window\n");
        outcome.result = platform::kResultMissing;
        return outcome;
    }
    main->WithEngine([&](BackupEngine& engine) {
        outcome.result = engine.UnlockBackupPassword(password.c_str());
        outcome.failure = engine.FailureOf(outcome.result);
        return outcome.result;
    });
    return outcome;
}

void CDecryptionWnd::StartBackupCheck(bool silent) {
    silentCheck_ = silent;
    stopCheck_ = false;
    percent_ = -1;
    ShowChecking(true);
    const UiLib::WindowHandle window = GetHWND();
    // The worker has its own copies: nothing of the window but the two flags is touched by it,
    // and the window joins it before it goes.
    checker_ = std::thread([this, window, password = platform::WideToAnsi(password_),
                            folder = backupFolder_]() mutable {
        checkResult_ = VerifyBackupPassword(
            password.c_str(), folder,
            [this, window](int percent) {
                percent_ = percent;
                PostMessage(window, UM_CHECK_PROGRESS);
            },
            [this] { return stopCheck_.load(); },
            [window](bool waiting) { PostMessage(window, UM_CHECK_WAITING, waiting ? 1 : 0); });
        std::fill(password.begin(), password.end(), '\0');
        PostMessage(window, UM_CHECK_DONE);
    });
}

void CDecryptionWnd::ShowChecking(bool checking) {
    skin::DecryptionWndLayout ui(pm_);
    if (UiLib::CButtonUI* ok = ui.BtnOK()) {
        ok->SetEnabled(!checking);
    }
    if (UiLib::CEditUI* edit = ui.EditPassword()) {
        edit->SetEnabled(!checking);
    }
    // The row's controls themselves: a row shown later does not show what it held hidden.
    if (UiLib::CLabelUI* state = ui.LblCheckState()) {
        state->SetVisible(checking);
    }
    if (UiLib::CProgressUI* bar = ui.PrgCheck()) {
        bar->SetVisible(checking);
    }
    if (checking) {
        if (UiLib::CLabelUI* state = ui.LblCheckState()) {
            state->SetText(Message(L"CheckingBackupPassword", kCheckingText));
        }
        if (UiLib::CProgressUI* bar = ui.PrgCheck()) {
            bar->SetValue(0);
        }
    }
}

void CDecryptionWnd::ShowWaiting(bool waiting) {
    if (!checker_.joinable()) {
        return;
    }
    skin::DecryptionWndLayout ui(pm_);
    if (UiLib::CLabelUI* state = ui.LblCheckState()) {
        // Shorter than the progress windows' line: the row shares its width with the bar.
        state->SetText(waiting ? Message(L"CheckWaitingForOperation", kCheckWaitingText)
                               : Message(L"CheckingBackupPassword", kCheckingText));
    }
}

void CDecryptionWnd::ShowProgress() {
    const int percent = percent_.load();
    if (!checker_.joinable() || percent < 0) {
        return;
    }
    skin::DecryptionWndLayout ui(pm_);
    if (UiLib::CLabelUI* state = ui.LblCheckState()) {
        state->SetText(Message(L"DerivingPasswordKey", L"Deriving the password key:") + L" " +
                       std::to_wstring(percent) + L"%");
    }
    if (UiLib::CProgressUI* bar = ui.PrgCheck()) {
        bar->SetValue(percent);
    }
}

void CDecryptionWnd::FinishBackupCheck() {
    if (!checker_.joinable()) {
        return;
    }
    checker_.join();
    ShowChecking(false);
    if (pendingClose_) {
        const UiLib::UINT result = *pendingClose_;
        pendingClose_.reset();
        password_.clear();
        Close(result);
        return;
    }
    Outcome outcome;
    outcome.result = checkResult_;
    outcome.failure = DecryptionFailure(checkResult_);
    if (outcome.result == 0) {
        Accept();
        return;
    }
    std::printf("password check failed %d\n", outcome.result);
    Refuse(outcome, silentCheck_ && outcome.result == platform::kResultWrongPassword);
}

void CDecryptionWnd::Accept() {
    IMainWnd* main = GetMainWnd();
    if (mode_ == kBackup) {
        main->SetBackupPassword(password_);
    } else {
        main->SetDeviceEncrypted(false);
        main->SetDevicePassword(password_);
        main->SetBackupPassword(password_);
    }
    Close(UiLib::IDOK);
}

void CDecryptionWnd::Refuse(const Outcome& outcome, bool silent) {
    skin::DecryptionWndLayout ui(pm_);
    if (!silent) {
        // Asked again: the window steps aside for the message and comes back empty.
        ShowWindow(false);
        CMessageBox::Show(CMessageBox::Information, this, Message(L"MSG0403", L"Information"),
                          RefusalText(outcome), 500, 220);
    }
    password_.clear();
    if (UiLib::CEditUI* e = ui.EditPassword()) {
        e->SetText(L"");
        pm_.SetFocus(e);
    }
    if (!silent) {
        ShowWindow(true);
    }
}

std::wstring CDecryptionWnd::RefusalText(const Outcome& outcome) const {
    using platform::Failure;
    if (mode_ == kDevice) {
        if (outcome.failure == Failure::DeviceGone || outcome.failure == Failure::NoDevice ||
            outcome.failure == Failure::DeviceService) {
            return Message(L"DeviceGone", L"Sorry, the iphone is disconnected!");
        }
        return Message(L"WrongDevicePassword",
                       L"Your iPhone device password is not correct, please retry again!");
    }
    if (outcome.result == 0 || outcome.result == platform::kResultWrongPassword) {
        return Message(L"WrongBackupPassword",
                       L"The selected iTunes backup file password is not correct, please retry "
                       L"again!");
    }
    if (outcome.failure == Failure::IncompleteBackup) {
        return Message(L"BackupIncomplete",
                       L"The selected iTunes backup file is incomplete: its key files are "
                       L"missing, so it cannot be unlocked.");
    }
    return Message(L"BackupCheckFailed",
                   L"The password of the selected iTunes backup file could not be checked: the "
                   L"decryption tool could not be run on it.");
}

void CDecryptionWnd::OnOk(UiLib::TNotifyUI& /*msg*/) {
    if (checker_.joinable()) {
        return;  // one check at a time
    }
    skin::DecryptionWndLayout ui(pm_);
    UiLib::CEditUI* edit = ui.EditPassword();
    password_ = edit != nullptr ? edit->GetText() : std::wstring();
    if (mode_ == kBackup) {
        if (GetMainWnd() == nullptr) {
            std::printf("CDecryptionWnd: no main window\n");
            Refuse({platform::kResultMissing, platform::Failure::LocalFiles}, false);
            return;
        }
        if (password_.empty()) {
            Refuse({platform::kResultWrongPassword, platform::Failure::WrongPassword}, false);
            return;
        }
        StartBackupCheck(false);
        return;
    }
    const Outcome outcome = CheckDevice(platform::WideToAnsi(password_));
    if (outcome.result == 0) {
        Accept();
        return;
    }
    std::printf("password check failed %d\n", outcome.result);
    Refuse(outcome, false);
}

}  // namespace tolvane
