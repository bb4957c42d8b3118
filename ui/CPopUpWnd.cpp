#include "ui/CPopUpWnd.h"

#include <utility>

#include "app/AppSettings.h"
#include "ui/WindowSettings.h"

namespace tolvane {

CPopUpWnd::CPopUpWnd(std::string skinFile) : skinFile_(std::move(skinFile)) {}

CPopUpWnd::~CPopUpWnd() = default;

UiLib::WindowHandle CPopUpWnd::Create(UiLib::WindowImplBase* owner, int width, int height) {
    return CreatePopup(owner, width, height);
}

std::string CPopUpWnd::GetLanguageSection() const {
    std::string name = skinFile_;
    if (const size_t slash = name.find_last_of("\\/"); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
        name.resize(name.size() - 4);
    }
    return name;
}

std::wstring CPopUpWnd::Message(const std::wstring& key, const std::wstring& fallback) const {
    const auto it = messages_.find(key);
    return it == messages_.end() || it->second.empty() ? fallback : it->second;
}

const AppSettings& CPopUpWnd::Settings() const {
    return WindowSettings();
}

void CPopUpWnd::HandleNotify(UiLib::TNotifyUI& msg) {
    if (msg.sType == "windowinit") {
        messages_ = Settings().Section("Messages");
        ApplyTexts(Settings().Section(GetLanguageSection()));
        OnWindowInit();
        return;
    }
    WindowImplBase::HandleNotify(msg);
}

}  // namespace tolvane
