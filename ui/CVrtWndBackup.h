// The backup tab (tab 1): a backup of the messages and/or contacts, or a full backup, started
// with "BtnCopyBackup" and run in the modal progress window CProWndBackup.
#pragma once

#include <cstdint>

#include "UiLib/COptionUI.h"
#include "UiLib/TNotifyUI.h"
#include "ui/CVrtWndBase.h"

namespace tolvane {

class CVrtWndBackup : public CVrtWndBase {
  public:
    void Init() override;

    // The categories the options choose: Sms and/or Contacts in partial mode, else Full.
    uint32_t ChosenCategories() const;
    // The ProgressResult of the last run started here (0 before one).
    uint32_t LastResult() const { return lastResult_; }

  private:
    void OnPartialMode(UiLib::TNotifyUI& msg);
    void OnFullMode(UiLib::TNotifyUI& msg);
    void OnKeepSms(UiLib::TNotifyUI& msg);
    void OnKeepContacts(UiLib::TNotifyUI& msg);
    void OnStart(UiLib::TNotifyUI& msg);
    // Keep one of the two: in partial mode, unselecting the last of SMS and Contacts selects
    // `option` again.
    void KeepOne(UiLib::COptionUI* option);

    UiLib::CControlUI* phoneBox_ = nullptr;
    UiLib::COptionUI* part_ = nullptr;
    UiLib::COptionUI* full_ = nullptr;
    UiLib::COptionUI* sms_ = nullptr;
    UiLib::COptionUI* contacts_ = nullptr;
    UiLib::COptionUI* others_[6] = {};  // calendar, call logs, apps, photos, music, videos
    UiLib::CControlUI* start_ = nullptr;
    uint32_t lastResult_ = 0;
};

}  // namespace tolvane
