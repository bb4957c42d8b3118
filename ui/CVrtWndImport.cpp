#include "ui/CVrtWndImport.h"

#include "UiLib/CDelegate.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "skin/layouts/VrtWndImport.h"
#include "store/DataCategory.h"
#include "ui/CMainWnd.h"
#include "ui/CMessageBox.h"
#include "ui/CProWndImport.h"

namespace tolvane {

using UiLib::CDelegate;
using UiLib::CEditUI;

void CVrtWndImport::Init() {
    skin::VrtWndImportLayout ui(*pm_);
    phoneBox_ = ui.VLayoutPhone_3();
    start_ = ui.BtnCopyImport();
    editSms_ = ui.EditSMS();
    editContact_ = ui.EditContact();
    chooseSms_ = ui.BtnImportSMS();
    chooseContact_ = ui.BtnImportContact();

    chooseSms_->Bind("click", CDelegate(this, &CVrtWndImport::OnChooseSms));
    chooseContact_->Bind("click", CDelegate(this, &CVrtWndImport::OnChooseContacts));
    start_->Bind("click", CDelegate(this, &CVrtWndImport::OnStart));
}

bool CVrtWndImport::IsFilled(const CEditUI& edit) {
    const std::wstring text = edit.GetText();
    return !text.empty() && text != edit.GetTipValue();
}

std::wstring CVrtWndImport::FilledText(const CEditUI* edit) {
    return edit != nullptr && IsFilled(*edit) ? edit->GetText() : std::wstring();
}

uint32_t CVrtWndImport::ChosenCategories() const {
    return (!FilledText(editSms_).empty() ? Sms : 0u) |
           (!FilledText(editContact_).empty() ? Contacts : 0u);
}

void CVrtWndImport::ChooseInto(CEditUI* edit, const std::wstring& filterName) {
    const auto chosen = owner_->ChooseFile(L"Open", filterName, L"*.*");
    if (!chosen) {
        return;  // cancelled: the field keeps what it had
    }
    edit->SetText(*chosen);
    start_->SetEnabled(true);
}

void CVrtWndImport::OnChooseSms(UiLib::TNotifyUI&) {
    ChooseInto(editSms_, L"SMS files (*.*)");
}

void CVrtWndImport::OnChooseContacts(UiLib::TNotifyUI&) {
    ChooseInto(editContact_, L"Contact files (*.*)");
}

void CVrtWndImport::OnStart(UiLib::TNotifyUI&) {
    lastResult_ = 0;
    CMainWnd& main = *owner_;
    const uint32_t categories = ChosenCategories();
    if (categories == 0) {
        CMessageBox::Show(CMessageBox::Information, &main, L"Information",
                          L"Please select back file first!", 500, 220);
        return;
    }
    // A typed path (the fields are edits) may name nothing: say so before the phone is touched.
    for (const std::wstring& path : {FilledText(editSms_), FilledText(editContact_)}) {
        if (!path.empty() && !platform::FileExists(platform::PathToBytes(path))) {
            lastResult_ = kProgressFailed;
            CMessageBox::Show(
                CMessageBox::Information, &main, L"Information",
                L"The file \"" + path + L"\" cannot be found. Please select it again.", 500, 220);
            return;
        }
    }
    if (main.IsDeviceEncrypted() && main.AskDevicePassword() != UiLib::IDOK) {
        return;  // the password window was given up: nothing starts
    }
    lastResult_ = RunImportWindow(main, categories, main.GetDevicePassword(), FilledText(editSms_),
                                  FilledText(editContact_));
}

}  // namespace tolvane
