// The restore tab (tab 2): lists the backups of one source (the application's own, or those of
// the other backup program on this computer), shows how many messages and contacts the chosen
// one holds, opens the viewer on them, and restores it whole or only its messages and/or
// contacts in the modal progress window CProWndRestore.
//
// The counts of a backup are listed once per build of the list and kept in the count cache;
// the viewer lists the backup again and rewrites them (from its worker thread, hence the lock).
// An encrypted backup of the other program shows no counts until a view has listed it with its
// password.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "UiLib/COptionUI.h"
#include "UiLib/TNotifyUI.h"
#include "store/Catalogue.h"
#include "ui/CVrtWndBase.h"

namespace UiLib {
class CListUI;
class CLabelUI;
}  // namespace UiLib

namespace tolvane {

class BackupEngine;

// Which backups the restore tab lists.
enum class RestoreSource : int {
    OwnBackups = 0,     // the application's own backups
    ItunesBackups = 1,  // the other backup program's backups on this computer
};

class CVrtWndRestore : public CVrtWndBase {
  public:
    // The numbers of messages and contacts of a backup; both 0 until it has been counted.
    struct Counts {
        int messages = 0;
        int contacts = 0;
        bool Known() const { return messages != 0 || contacts != 0; }
    };

    void Init() override;
    void SetSource(RestoreSource source) { source_ = source; }
    RestoreSource Source() const { return source_; }
    // Rebuilds the list of backups of the current source and selects the first.
    void RebuildBackupList();

    const std::vector<BackupEntry>& Entries() const { return entries_; }
    // The index of the selected entry, -1 when none is.
    int SelectedIndex() const { return selected_; }
    Counts CountsOf(int index) const;
    // The categories the options choose: Sms and/or Contacts in partial mode, else Full.
    uint32_t ChosenCategories() const;
    // The ProgressResult of the last run started here (0 before one).
    uint32_t LastResult() const { return lastResult_; }

    // The password a listing of `entry` needs (the backup password for an encrypted backup of
    // the other program, else none) and whether it is one of the other program's.
    std::string ListingPassword(const BackupEntry& entry) const;
    bool ItunesSource() const { return source_ == RestoreSource::ItunesBackups; }
    // Stores the counts of entry `index` as a listing found them and, when it is the selected
    // one, writes them into the count labels. Any thread.
    void StoreCounts(int index, Counts counts);

  private:
    void OnStart(UiLib::TNotifyUI& msg);
    void OnPartialMode(UiLib::TNotifyUI& msg);
    void OnFullMode(UiLib::TNotifyUI& msg);
    void OnKeepSms(UiLib::TNotifyUI& msg);
    void OnKeepContacts(UiLib::TNotifyUI& msg);
    void OnViewSms(UiLib::TNotifyUI& msg);
    void OnViewContacts(UiLib::TNotifyUI& msg);
    void OnItemSelect(UiLib::TNotifyUI& msg);

    void KeepOne(UiLib::COptionUI* option);
    void ResetOptions();
    void ShowCounts();
    void WriteCounts(Counts counts);
    // Lists the selected entry on the user interface thread (the engine under the device lock).
    void ListSelected();
    // An encrypted backup: its password is known and right, or the password window got it.
    bool EnsureBackupPassword(const BackupEntry& entry);
    void View(bool messages);

    UiLib::CControlUI* start_ = nullptr;
    UiLib::CListUI* list_ = nullptr;
    UiLib::COptionUI* part_ = nullptr;
    UiLib::COptionUI* full_ = nullptr;
    UiLib::COptionUI* sms_ = nullptr;
    UiLib::COptionUI* contacts_ = nullptr;
    UiLib::COptionUI* others_[6] = {};  // calendar, call logs, apps, photos, music, videos
    UiLib::CLabelUI* title_ = nullptr;
    UiLib::CLabelUI* smsCount_ = nullptr;
    UiLib::CLabelUI* contactsCount_ = nullptr;
    UiLib::CControlUI* viewSms_ = nullptr;
    UiLib::CControlUI* viewContacts_ = nullptr;

    std::vector<BackupEntry> entries_;
    int selected_ = -1;
    mutable std::mutex countsLock_;  // guards counts_ (the viewer's worker writes them)
    std::vector<Counts> counts_;
    RestoreSource source_ = RestoreSource::OwnBackups;
    uint32_t lastResult_ = 0;
};

}  // namespace tolvane
