#include "ui/CMessageBox.h"

#include <map>

#include "app/AppSettings.h"
#include "ui/WindowSettings.h"

namespace tolvane {
namespace {

struct KindInfo {
    const char* layout;
    const wchar_t* titleKey;
    const wchar_t* defaultTitle;
};

KindInfo InfoOf(CMessageBox::Kind kind) {
    switch (kind) {
        case CMessageBox::Error:
            return {"MessageBox_Error.xml", L"MSG0401", L"Error"};
        case CMessageBox::Confirm:
            return {"MessageBox_Confirm.xml", L"MSG0402", L"Confirm"};
        case CMessageBox::Warning:
            return {"MessageBox_Warning.xml", L"MSG0405", L"Warning"};
        case CMessageBox::Question:
            return {"MessageBox_Question.xml", L"MSG0404", L"Question"};
        case CMessageBox::Information:
        default:
            return {"MessageBox_Information.xml", L"MSG0403", L"Information"};
    }
}

}  // namespace

std::string CMessageBox::LayoutOf(Kind kind) {
    return InfoOf(kind).layout;
}

std::wstring CMessageBox::TitleKeyOf(Kind kind) {
    return InfoOf(kind).titleKey;
}

CMessageBox::CMessageBox(Kind kind) : kind_(kind) {
    // Escape answers like Cancel; Enter goes to the focused control and closes nothing.
    SetCloseOnKey(UiLib::VK_ESCAPE, UiLib::IDCANCEL);
}

std::string CMessageBox::GetSkinFile() {
    return "xml\\" + LayoutOf(kind_);
}

void CMessageBox::InitWindow() {
    // The button texts of the language file, before the caller's title and text are set.
    ApplyTexts(WindowSettings().Section("MessageBox"));
}

UiLib::UINT CMessageBox::Show(Kind kind, UiLib::WindowImplBase* owner,
                              const std::optional<std::wstring>& title, const std::wstring& text,
                              int width, int height) {
    const std::map<std::wstring, std::wstring>& messages = WindowSettings().Section("Messages");
    std::wstring shownTitle;
    if (title) {
        shownTitle = *title;
    } else {
        const KindInfo info = InfoOf(kind);
        const auto it = messages.find(info.titleKey);
        shownTitle = it != messages.end() && !it->second.empty() ? it->second : info.defaultTitle;
    }

    CMessageBox box(kind);
    if (box.CreatePopup(owner, width, height) == 0) {
        return UiLib::IDCANCEL;  // no window can be shown: answered as a refusal
    }
    if (UiLib::CControlUI* label = box.pm_.FindControl("title")) {
        label->SetText(shownTitle);
    }
    if (UiLib::CControlUI* message = box.pm_.FindControl("message")) {
        message->SetText(text);
    }
    box.CenterWindow();
    return box.ShowModal();
}

}  // namespace tolvane
