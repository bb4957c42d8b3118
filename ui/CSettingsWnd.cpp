#include "ui/CSettingsWnd.h"

#include <cstdio>

#include "app/AppSettings.h"
#include "platform/Errors.h"
#include "skin/layouts/SettingsWnd.h"
#include "ui/CMessageBox.h"
#include "ui/IMainWnd.h"

namespace tolvane {
namespace {

// Why a folder cannot be used, in the user's words, for the errors folder creation meets.
const wchar_t* ReasonKey(int32_t error) {
    switch (error) {
        case platform::kErrorAccessDenied:
            return L"FolderAccessDenied";
        case platform::kErrorWriteProtect:
            return L"FolderReadOnly";
        case platform::kErrorDiskFull:
            return L"FolderDiskFull";
        case platform::kErrorPathNotFound:
        case platform::kErrorAlreadyExists:
            return L"FolderIsAFile";
        case platform::kErrorFilenameTooLong:
            return L"FolderTooLong";
        default:
            return L"FolderFailed";
    }
}

const wchar_t* DefaultReason(int32_t error) {
    switch (error) {
        case platform::kErrorAccessDenied:
            return L"You are not allowed to create or write files there.";
        case platform::kErrorWriteProtect:
            return L"The disk is read-only.";
        case platform::kErrorDiskFull:
            return L"The disk is full.";
        case platform::kErrorPathNotFound:
        case platform::kErrorAlreadyExists:
            return L"A part of the path is a file, not a folder.";
        case platform::kErrorFilenameTooLong:
            return L"The path is too long.";
        default:
            return L"Files cannot be written there.";
    }
}

}  // namespace

CSettingsWnd::CSettingsWnd() : CPopUpWnd("xml\\SettingsWnd.xml") {
    SetCloseOnKey(UiLib::VK_ESCAPE, UiLib::IDCANCEL);
}

void CSettingsWnd::OnWindowInit() {
    skin::SettingsWndLayout ui(pm_);
    std::wstring shown = ReadUserFolder(Settings().Config());
    if (shown.empty() && GetMainWnd() != nullptr) {
        shown = GetMainWnd()->GetUserBackupFolder();
    }
    if (shown.empty() && GetMainWnd() != nullptr) {
        shown = GetMainWnd()->GetDefaultBackupRoot();
    }
    if (UiLib::CEditUI* edit = ui.EditFolder()) {
        edit->SetText(shown);
    }
    if (UiLib::CButtonUI* browse = ui.BtnBrowes()) {
        browse->Bind("click", UiLib::CDelegate(this, &CSettingsWnd::OnBrowse));
    }
    if (UiLib::CButtonUI* ok = ui.BtnOK()) {
        ok->Bind("click", UiLib::CDelegate(this, &CSettingsWnd::OnOk));
    }
    if (UiLib::CButtonUI* cancel = ui.BtnCancel()) {
        cancel->Bind("click", UiLib::CDelegate(this, &CSettingsWnd::OnCancel));
    }
}

void CSettingsWnd::OnBrowse(UiLib::TNotifyUI& /*msg*/) {
    skin::SettingsWndLayout ui(pm_);
    UiLib::CEditUI* edit = ui.EditFolder();
    if (edit == nullptr) {
        return;
    }
    const auto chosen = ChooseFolder(
        Message(L"SelectBackupFolder", L"Select backup folder location."), edit->GetText());
    if (chosen) {
        edit->SetText(*chosen);
    }
}

void CSettingsWnd::OnCancel(UiLib::TNotifyUI& /*msg*/) {
    Close(UiLib::IDCANCEL);
}

void CSettingsWnd::ReportUnusableFolder(const std::wstring& folder, int32_t error) {
    std::printf("backup folder unusable %d\n", error);
    std::wstring text;
    if (error == 0) {
        text = Message(L"FolderNotFullPath",
                       L"Please enter the full path of the backup folder (beginning with \"/\").");
    } else {
        text = Message(L"FolderUnusable", L"The backup folder cannot be created or written to:") +
               L"\n" + folder + L"\n" + Message(ReasonKey(error), DefaultReason(error));
    }
    CMessageBox::Show(CMessageBox::Information, this, Message(L"MSG0403", L"Information"), text,
                      500, 220);
}

void CSettingsWnd::OnOk(UiLib::TNotifyUI& /*msg*/) {
    skin::SettingsWndLayout ui(pm_);
    UiLib::CEditUI* edit = ui.EditFolder();
    IMainWnd* main = GetMainWnd();
    if (edit == nullptr || main == nullptr) {
        Close(UiLib::IDCANCEL);
        return;
    }
    std::wstring folder = edit->GetText();
    if (folder.empty()) {
        // The default folder is made by the first backup, as when nothing was ever set.
        folder = main->GetDefaultBackupRoot();
    } else {
        if (folder.front() != L'/' && folder.front() != L'\\') {
            ReportUnusableFolder(folder, 0);  // relative to wherever the program was started
            return;
        }
        if (const int32_t error = PrepareBackupFolder(folder); error != 0) {
            ReportUnusableFolder(folder, error);
            return;
        }
    }
    if (const int32_t error = WriteUserFolder(Settings().Config(), folder); error != 0) {
        CMessageBox::Show(CMessageBox::Information, this, Message(L"MSG0403", L"Information"),
                          Message(L"SettingsNotSaved",
                                  L"The setting could not be saved: config.ini cannot be "
                                  L"written."),
                          500, 220);
        return;
    }
    main->SetUserBackupFolder(folder);
    Close(UiLib::IDOK);
}

}  // namespace tolvane
