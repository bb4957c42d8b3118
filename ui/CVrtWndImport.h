// The import tab (tab 3): puts messages and contacts from exports (sms.csv, contacts.csv) or from
// database files taken from a phone onto the phone. "Import SMS" and "Import Contacts" pick the
// files with the open-file dialog; "Start Import" imports what the two fields name, in the modal
// progress window CProWndImport. A field counts as filled when its text is neither empty nor its
// own tip text ("SMS file", "Contact file").
#pragma once

#include <cstdint>
#include <string>

#include "UiLib/CEditUI.h"
#include "UiLib/TNotifyUI.h"
#include "ui/CVrtWndBase.h"

namespace tolvane {

class CVrtWndImport : public CVrtWndBase {
  public:
    void Init() override;

    // The categories the filled fields choose: Sms and/or Contacts (0 when neither is filled).
    uint32_t ChosenCategories() const;
    // The ProgressResult of the last start: 0 before one and when nothing started, 3 for a
    // field naming no file.
    uint32_t LastResult() const { return lastResult_; }

    // True when `edit` holds a text that is neither empty nor its tip text.
    static bool IsFilled(const UiLib::CEditUI& edit);

  private:
    void OnChooseSms(UiLib::TNotifyUI& msg);
    void OnChooseContacts(UiLib::TNotifyUI& msg);
    void OnStart(UiLib::TNotifyUI& msg);
    // The open-file dialog owned by the main window; the chosen path goes into `edit`.
    void ChooseInto(UiLib::CEditUI* edit, const std::wstring& filterName);
    // The text of a filled field, empty otherwise.
    static std::wstring FilledText(const UiLib::CEditUI* edit);

    UiLib::CControlUI* phoneBox_ = nullptr;
    UiLib::CControlUI* start_ = nullptr;
    UiLib::CEditUI* editSms_ = nullptr;
    UiLib::CEditUI* editContact_ = nullptr;
    UiLib::CControlUI* chooseSms_ = nullptr;
    UiLib::CControlUI* chooseContact_ = nullptr;
    uint32_t lastResult_ = 0;
};

}  // namespace tolvane
