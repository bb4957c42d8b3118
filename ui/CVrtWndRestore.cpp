#include "ui/CVrtWndRestore.h"

#include <optional>

#include "UiLib/CDelegate.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CLabelUI.h"
#include "UiLib/CListUI.h"
#include "data/Listing.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "skin/layouts/ElementBackupFile.h"
#include "skin/layouts/ElementBackupFileNull.h"
#include "skin/layouts/VrtWndRestore.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"
#include "ui/CMainWnd.h"
#include "ui/CMessageBox.h"
#include "ui/CProWndRestore.h"
#include "ui/CViewWnd.h"
#include "ui/MainWndHooks.h"

namespace tolvane {

using UiLib::CDelegate;
using UiLib::COptionUI;

void CVrtWndRestore::Init() {
    skin::VrtWndRestoreLayout ui(*pm_);
    start_ = ui.BtnCopyRestore();
    list_ = ui.BackupFileList();
    part_ = ui.RdPart_Restore();
    full_ = ui.RdFull_Restore();
    sms_ = ui.ChkSMS_Restore();
    contacts_ = ui.ChkContacts_Restore();
    others_[0] = ui.ChkCalendar_Restore();
    others_[1] = ui.ChkCallLog_Restore();
    others_[2] = ui.ChkApps_Restore();
    others_[3] = ui.ChkPhoto_Restore();
    others_[4] = ui.ChkMusic_Restore();
    others_[5] = ui.ChkVideo_Restore();
    title_ = ui.LblBackupFileTitle();
    smsCount_ = ui.TxtSMSNum_Restore();
    contactsCount_ = ui.TxtContactsNum_Restore();
    viewSms_ = ui.BtnViewSMS_Restore();
    viewContacts_ = ui.BtnViewContacts_Restore();

    start_->Bind("click", CDelegate(this, &CVrtWndRestore::OnStart));
    part_->Bind("selectchanged", CDelegate(this, &CVrtWndRestore::OnPartialMode));
    full_->Bind("selectchanged", CDelegate(this, &CVrtWndRestore::OnFullMode));
    sms_->Bind("selectchanged", CDelegate(this, &CVrtWndRestore::OnKeepSms));
    contacts_->Bind("selectchanged", CDelegate(this, &CVrtWndRestore::OnKeepContacts));
    viewSms_->Bind("click", CDelegate(this, &CVrtWndRestore::OnViewSms));
    viewContacts_->Bind("click", CDelegate(this, &CVrtWndRestore::OnViewContacts));
    list_->Bind("itemselect", CDelegate(this, &CVrtWndRestore::OnItemSelect));
}

// --- the list ------------------------------------------------------------------------------

void CVrtWndRestore::RebuildBackupList() {
    list_->RemoveAll();
    entries_.clear();
    {
        std::lock_guard lock(countsLock_);
        counts_.clear();
    }
    selected_ = -1;
    const bool itunes = ItunesSource();
    if (!itunes) {
        title_->SetText(L"Tolvane backup file");
        const std::wstring root = owner_->GetDefaultBackupRoot();
        const std::wstring user = owner_->GetUserBackupFolder();
        ListOwnBackups(platform::PathToBytes(root), entries_);
        if (!user.empty() && user != root) {
            ListOwnBackups(platform::PathToBytes(user), entries_);
        }
    } else {
        title_->SetText(L"iTunes backup file");
        ListItunesBackups(entries_);
    }
    if (entries_.empty()) {
        UiLib::CControlUI* item =
            UiLib::CDialogBuilder().Create(skin::ElementBackupFileNullLayout::kFile, pm_);
        if (item != nullptr) {
            skin::ElementBackupFileNullLayout(item).LblNoFile()->SetText(
                L"No file found. Please back up first.");
            list_->Add(item);
        }
        ResetOptions();
        return;
    }
    {
        std::lock_guard lock(countsLock_);
        counts_.assign(entries_.size(), Counts{});
    }
    for (const BackupEntry& entry : entries_) {
        UiLib::CControlUI* item =
            UiLib::CDialogBuilder().Create(skin::ElementBackupFileLayout::kFile, pm_);
        if (item == nullptr) {
            continue;
        }
        skin::ElementBackupFileLayout parts(item);
        parts.LblBackupName()->SetText(entry.name);
        parts.LblBackupDate()->SetText(entry.date);
        const char* icon = !itunes           ? "BackupFileIcon"
                           : entry.encrypted ? "ItunesLockIcon"
                                             : "ItunesIcon";
        parts.LblBackupIcon()->SetStyle(icon);
        list_->Add(item);
    }
    list_->SelectItem(0);
}

void CVrtWndRestore::OnItemSelect(UiLib::TNotifyUI&) {
    const int i = list_->GetCurSel();
    if (i < 0 || i >= static_cast<int>(entries_.size()) || i == selected_) {
        return;
    }
    selected_ = i;
    ResetOptions();
    if (entries_[i].categories == static_cast<int32_t>(Full)) {
        part_->SetEnabled(true);
        full_->SetEnabled(true);
        full_->Selected(true);
    } else {
        part_->Selected(true);
    }
    ShowCounts();
}

void CVrtWndRestore::ResetOptions() {
    smsCount_->SetText(L"");
    contactsCount_->SetText(L"");
    viewSms_->SetEnabled(false);
    viewContacts_->SetEnabled(false);
    for (COptionUI* o : {part_, full_, sms_, contacts_}) {
        o->Selected(false);
        o->SetEnabled(false);
    }
    for (COptionUI* o : others_) {
        o->Selected(false);
        o->SetEnabled(false);
    }
}

// --- the modes -----------------------------------------------------------------------------

void CVrtWndRestore::OnPartialMode(UiLib::TNotifyUI&) {
    if (!part_->IsSelected() || selected_ < 0) {
        return;
    }
    const uint32_t categories = static_cast<uint32_t>(entries_[selected_].categories);
    const bool full = categories == Full;
    if ((categories & Sms) != 0 || full) {
        sms_->SetEnabled(true);
        sms_->Selected(true);
    } else {
        sms_->Selected(false);
        sms_->SetEnabled(false);
    }
    if ((categories & Contacts) != 0 || full) {
        contacts_->SetEnabled(true);
        contacts_->Selected(true);
    } else {
        contacts_->Selected(false);
        contacts_->SetEnabled(false);
    }
    for (COptionUI* o : others_) {
        o->Selected(false);
    }
}

void CVrtWndRestore::OnFullMode(UiLib::TNotifyUI&) {
    if (!full_->IsSelected()) {
        return;
    }
    for (COptionUI* o : {sms_, contacts_}) {
        o->SetEnabled(false);
        o->Selected(true);
    }
    for (COptionUI* o : others_) {
        o->Selected(true);
    }
}

void CVrtWndRestore::KeepOne(COptionUI* option) {
    if (part_->IsSelected() && !sms_->IsSelected() && !contacts_->IsSelected()) {
        option->Selected(true);
    }
}

void CVrtWndRestore::OnKeepSms(UiLib::TNotifyUI&) {
    KeepOne(sms_);
}

void CVrtWndRestore::OnKeepContacts(UiLib::TNotifyUI&) {
    KeepOne(contacts_);
}

uint32_t CVrtWndRestore::ChosenCategories() const {
    if (full_->IsSelected()) {
        return Full;
    }
    return (sms_->IsSelected() ? Sms : 0u) | (contacts_->IsSelected() ? Contacts : 0u);
}

// --- the counts ----------------------------------------------------------------------------

CVrtWndRestore::Counts CVrtWndRestore::CountsOf(int index) const {
    std::lock_guard lock(countsLock_);
    if (index < 0 || index >= static_cast<int>(counts_.size())) {
        return {};
    }
    return counts_[static_cast<size_t>(index)];
}

std::string CVrtWndRestore::ListingPassword(const BackupEntry& entry) const {
    if (ItunesSource() && entry.encrypted) {
        return platform::WideToAnsi(owner_->GetBackupPassword());
    }
    return {};
}

void CVrtWndRestore::WriteCounts(Counts counts) {
    smsCount_->SetText(L"(" + std::to_wstring(counts.messages) + L")");
    contactsCount_->SetText(L"(" + std::to_wstring(counts.contacts) + L")");
}

void CVrtWndRestore::StoreCounts(int index, Counts counts) {
    {
        std::lock_guard lock(countsLock_);
        if (index < 0 || index >= static_cast<int>(counts_.size())) {
            return;
        }
        counts_[static_cast<size_t>(index)] = counts;
    }
    if (index == selected_) {
        WriteCounts(counts);  // the labels take the framework's lock themselves
    }
}

void CVrtWndRestore::ListSelected() {
    const BackupEntry& entry = entries_[static_cast<size_t>(selected_)];
    const std::string password = ListingPassword(entry);
    const bool itunes = ItunesSource();
    Counts counts;
    owner_->WithEngine([&](BackupEngine& engine) {
        const char* p = password.empty() ? nullptr : password.c_str();
        CountMessages(counts.messages, entry.folder, engine, p, itunes);
        CountContacts(counts.contacts, entry.folder, engine, p, itunes);
        return 0;
    });
    StoreCounts(selected_, counts);
}

void CVrtWndRestore::ShowCounts() {
    if (selected_ < 0) {
        return;
    }
    viewSms_->SetEnabled(true);
    viewContacts_->SetEnabled(true);
    const BackupEntry& entry = entries_[static_cast<size_t>(selected_)];
    const Counts known = CountsOf(selected_);
    if (ItunesSource() && entry.encrypted) {
        if (known.Known()) {
            WriteCounts(known);
        } else {
            smsCount_->SetText(L"");
            contactsCount_->SetText(L"");
        }
        return;
    }
    if (known.Known()) {
        WriteCounts(known);
    } else {
        ListSelected();
    }
    const Counts counts = CountsOf(selected_);
    viewSms_->SetEnabled(counts.messages != 0);
    viewContacts_->SetEnabled(counts.contacts != 0);
}

// --- view and start ------------------------------------------------------------------------

bool CVrtWndRestore::EnsureBackupPassword(const BackupEntry& entry) {
    // Even a known password is checked in the password window: the check decrypts the backup,
    // which takes seconds for a backup of iOS 10.2 and later, on the window's worker with its
    // progress shown; the window asks only when the password is refused.
    return AskBackupPasswordWindow(*owner_, entry.folder, owner_->GetBackupPassword()) ==
           UiLib::IDOK;
}

void CVrtWndRestore::View(bool messages) {
    if (selected_ < 0) {
        return;
    }
    const BackupEntry entry = entries_[static_cast<size_t>(selected_)];
    // The password check, the listing of the messages and that of the contacts decrypt the same
    // backup with the same password: one decryption serves them, and its plain output goes when
    // the view ends.
    const DecryptionReuse reuse;
    if (entry.encrypted && !EnsureBackupPassword(entry)) {
        return;
    }
    CViewWnd viewer(*owner_, *this, selected_,
                    messages ? CViewWnd::kMessages : CViewWnd::kContacts);
    if (viewer.Create(owner_, 550, 350) != 0) {
        viewer.ShowModal();
    }
    viewer.WaitForWorker();
    // The listing may have found what the counts said was not there (or the other way round).
    if (!(ItunesSource() && entry.encrypted) || CountsOf(selected_).Known()) {
        const Counts counts = CountsOf(selected_);
        viewSms_->SetEnabled(counts.messages != 0);
        viewContacts_->SetEnabled(counts.contacts != 0);
    }
}

void CVrtWndRestore::OnViewSms(UiLib::TNotifyUI&) {
    View(true);
}

void CVrtWndRestore::OnViewContacts(UiLib::TNotifyUI&) {
    View(false);
}

void CVrtWndRestore::OnStart(UiLib::TNotifyUI&) {
    CMainWnd& main = *owner_;
    if (selected_ < 0) {
        CMessageBox::Show(CMessageBox::Warning, &main, L"Warning",
                          L"No file found, Please back up first.", 500, 220);
        return;
    }
    const BackupEntry entry = entries_[static_cast<size_t>(selected_)];
    // A restore by category decrypts the backup's databases: the check's decryption serves it,
    // and its plain output goes when the restore (or the user) has ended it. A whole restore
    // decrypts nothing, so its check keeps nothing.
    std::optional<DecryptionReuse> reuse;
    if (ChosenCategories() != Full) {
        reuse.emplace();
    }
    if (entry.encrypted && !EnsureBackupPassword(entry)) {
        return;
    }
    if (main.IsDeviceEncrypted() && main.AskDevicePassword() != UiLib::IDOK) {
        return;
    }
    const uint32_t categories = ChosenCategories();
    lastResult_ = RunRestoreWindow(main, entry, categories, source_, main.GetDevicePassword());
}

}  // namespace tolvane
