#include "ui/CVrtWndPanel.h"

#include "UiLib/CDelegate.h"
#include "skin/layouts/VrtWndPanel.h"
#include "ui/CMainWnd.h"
#include "ui/CVrtWndRestore.h"

namespace tolvane {

using UiLib::CDelegate;

void CVrtWndPanel::Init() {
    skin::VrtWndPanelLayout ui(*pm_);
    ui.BtnBackupPhone()->Bind("click", CDelegate(this, &CVrtWndPanel::OnBackupPhone));
    ui.BtnRestoreFromBackup()->Bind("click", CDelegate(this, &CVrtWndPanel::OnRestoreFromBackup));
    ui.BtnRestoreFromiTunes()->Bind("click", CDelegate(this, &CVrtWndPanel::OnRestoreFromItunes));
    ui.BtnImport()->Bind("click", CDelegate(this, &CVrtWndPanel::OnImport));
}

void CVrtWndPanel::OnBackupPhone(UiLib::TNotifyUI&) {
    owner_->GoBackup();
}

void CVrtWndPanel::OnRestoreFromBackup(UiLib::TNotifyUI&) {
    owner_->GoRestore(RestoreSource::OwnBackups);
}

void CVrtWndPanel::OnRestoreFromItunes(UiLib::TNotifyUI&) {
    // A phone that encrypts its backups must be unlocked first: its restore needs the password.
    if (owner_->IsDeviceEncrypted() && owner_->AskDevicePassword() != UiLib::IDOK) {
        return;
    }
    owner_->GoRestore(RestoreSource::ItunesBackups);
}

void CVrtWndPanel::OnImport(UiLib::TNotifyUI&) {
    owner_->GoImport();
}

}  // namespace tolvane
