#include "ui/CDecryptionWnd.h"

#include <cstdio>

#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "skin/layouts/DecryptionWnd.h"
#include "store/EncryptedBackup.h"
#include "ui/CMessageBox.h"
#include "ui/IMainWnd.h"

namespace tolvane {

CDecryptionWnd::CDecryptionWnd() : CPopUpWnd("xml\\DecryptionWnd.xml") {}

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
}

void CDecryptionWnd::OnCancel(UiLib::TNotifyUI& /*msg*/) {
    Close(UiLib::IDCANCEL);
}

CDecryptionWnd::Outcome CDecryptionWnd::Check(const std::string& password) {
    IMainWnd* main = GetMainWnd();
    Outcome outcome;
    if (main == nullptr) {
        std::printf("CDecryptionWnd: no main window\n");
        outcome.result = platform::kResultMissing;
        return outcome;
    }
    if (mode_ == kBackup) {
        outcome.result = VerifyBackupPassword(password.c_str(), backupFolder_);
        outcome.failure = DecryptionFailure(outcome.result);
        return outcome;
    }
    main->WithEngine([&](BackupEngine& engine) {
        outcome.result = engine.UnlockBackupPassword(password.c_str());
        outcome.failure = engine.FailureOf(outcome.result);
        return outcome.result;
    });
    return outcome;
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
    skin::DecryptionWndLayout ui(pm_);
    UiLib::CEditUI* edit = ui.EditPassword();
    password_ = edit != nullptr ? edit->GetText() : std::wstring();
    const std::string narrow = platform::WideToAnsi(password_);
    const Outcome outcome = Check(narrow);
    if (outcome.result == 0) {
        IMainWnd* main = GetMainWnd();
        if (mode_ == kBackup) {
            main->SetBackupPassword(password_);
        } else {
            main->SetDeviceEncrypted(false);
            main->SetDevicePassword(password_);
            main->SetBackupPassword(password_);
        }
        Close(UiLib::IDOK);
        return;
    }
    std::printf("password check failed %d\n", outcome.result);

    // Asked again: the window steps aside for the message and comes back empty.
    ShowWindow(false);
    CMessageBox::Show(CMessageBox::Information, this, Message(L"MSG0403", L"Information"),
                      RefusalText(outcome), 500, 220);
    password_.clear();
    if (UiLib::CEditUI* e = ui.EditPassword()) {
        e->SetText(L"");
        pm_.SetFocus(e);
    }
    ShowWindow(true);
}

}  // namespace tolvane
