#include "ui/CVrtWndBackup.h"

#include "UiLib/CDelegate.h"
#include "skin/layouts/VrtWndBackup.h"
#include "store/DataCategory.h"
#include "ui/CMainWnd.h"
#include "ui/CProWndBackup.h"

namespace tolvane {

using UiLib::CDelegate;
using UiLib::COptionUI;

void CVrtWndBackup::Init() {
    skin::VrtWndBackupLayout ui(*pm_);
    phoneBox_ = ui.VLayoutPhone_1();
    part_ = ui.RdPart_Backup();
    full_ = ui.RdFull_Backup();
    sms_ = ui.ChkSMS_Backup();
    contacts_ = ui.ChkContacts_Backup();
    others_[0] = ui.ChkCalendar_Backup();
    others_[1] = ui.ChkCallLog_Backup();
    others_[2] = ui.ChkApps_Backup();
    others_[3] = ui.ChkPhoto_Backup();
    others_[4] = ui.ChkMusic_Backup();
    others_[5] = ui.ChkVideo_Backup();
    start_ = ui.BtnCopyBackup();

    part_->Bind("selectchanged", CDelegate(this, &CVrtWndBackup::OnPartialMode));
    full_->Bind("selectchanged", CDelegate(this, &CVrtWndBackup::OnFullMode));
    sms_->Bind("selectchanged", CDelegate(this, &CVrtWndBackup::OnKeepSms));
    contacts_->Bind("selectchanged", CDelegate(this, &CVrtWndBackup::OnKeepContacts));
    start_->Bind("click", CDelegate(this, &CVrtWndBackup::OnStart));
    part_->Selected(true);
}

void CVrtWndBackup::OnPartialMode(UiLib::TNotifyUI&) {
    if (!part_->IsSelected()) {
        return;
    }
    sms_->SetEnabled(true);
    contacts_->SetEnabled(true);
    sms_->Selected(true);
    contacts_->Selected(true);
    for (COptionUI* o : others_) {
        o->Selected(false);
        o->SetEnabled(false);
    }
}

void CVrtWndBackup::OnFullMode(UiLib::TNotifyUI&) {
    if (!full_->IsSelected()) {
        return;
    }
    for (COptionUI* o : {sms_, contacts_}) {
        o->Selected(true);
        o->SetEnabled(false);
    }
    for (COptionUI* o : others_) {
        o->Selected(true);
        o->SetEnabled(false);
    }
}

void CVrtWndBackup::KeepOne(COptionUI* option) {
    if (part_->IsSelected() && !sms_->IsSelected() && !contacts_->IsSelected()) {
        option->Selected(true);
    }
}

void CVrtWndBackup::OnKeepSms(UiLib::TNotifyUI&) {
    KeepOne(sms_);
}

void CVrtWndBackup::OnKeepContacts(UiLib::TNotifyUI&) {
    KeepOne(contacts_);
}

uint32_t CVrtWndBackup::ChosenCategories() const {
    if (!part_->IsSelected()) {
        return Full;
    }
    return (sms_->IsSelected() ? Sms : 0u) | (contacts_->IsSelected() ? Contacts : 0u);
}

void CVrtWndBackup::OnStart(UiLib::TNotifyUI&) {
    CMainWnd& main = *owner_;
    if (main.IsDeviceEncrypted() && main.AskDevicePassword() != UiLib::IDOK) {
        return;  // the password window was given up: nothing starts
    }
    const uint32_t categories = ChosenCategories();
    lastResult_ = RunBackupWindow(main, categories, main.GetDevicePassword());
}

}  // namespace tolvane
