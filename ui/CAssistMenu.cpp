#include "ui/CAssistMenu.h"

#include "UiLib/CMenuElementUI.h"
#include "UiLib/CMenuUI.h"
#include "app/AppSettings.h"
#include "platform/Strings.h"
#include "ui/UiMessages.h"
#include "ui/WindowSettings.h"

namespace tolvane {

using namespace UiLib;

CAssistMenu* CAssistMenu::Open(WindowImplBase* owner, CControlUI* anchor) {
    auto* menu = new CAssistMenu();
    const Rect rc = anchor != nullptr ? anchor->GetPos() : Rect{};
    if (!menu->Init(owner, "xml\\menu_assist.xml", owner->ClientToScreen({rc.left, rc.bottom}),
                    anchor)) {
        return nullptr;  // Init deleted it
    }
    return menu;
}

bool CAssistMenu::MessageOf(const std::string& item, UINT& msg, WPARAM& wParam) {
    struct Entry {
        const char* name;
        UINT msg;
        WPARAM wParam;
    };
    static constexpr Entry kItems[] = {
        {"item_settings", UM_SETTINGS, 0}, {"item_help", UM_OPEN_LINK, 1},
        {"item_faq", UM_OPEN_LINK, 2},     {"item_about", UM_OPEN_LINK, 5},
        {"item_support", UM_OPEN_LINK, 6}, {"item_exit", WM_CLOSE, 1},
    };
    for (const Entry& e : kItems) {
        if (item == e.name) {
            msg = e.msg;
            wParam = e.wParam;
            return true;
        }
    }
    return false;
}

void CAssistMenu::HandleNotify(TNotifyUI& msg) {
    if (msg.sType == "windowinit") {
        const AppSettings& settings = WindowSettings();
        ApplyTexts(settings.Section("MenuWnd"));
        FillLanguages();
    }
    CMenuWindow::HandleNotify(msg);
}

void CAssistMenu::FillLanguages() {
    auto* item = dynamic_cast<CMenuElementUI*>(pm_.FindControl("item_language"));
    if (item == nullptr) {
        return;
    }
    const AppSettings& settings = WindowSettings();
    item->RemoveAllSubItems();
    for (const auto& [name, display] : settings.LanguageList()) {
        auto* sub = new CMenuElementUI();
        sub->SetName("lang_" + platform::WideToUtf8(name));
        sub->SetText(display);
        sub->SetFixedHeight(32);
        if (name == settings.LanguageName()) {
            sub->SetBkImage("file='Controls.png' source='359,38,375,54' dest='0,4,16,20'");
        }
        item->AddSubItem(sub);
    }
}

void CAssistMenu::OnMenuItemClick(CMenuElementUI* item) {
    UINT msg = 0;
    WPARAM wParam = 0;
    if (item != nullptr && MessageOf(item->GetName(), msg, wParam)) {
        PostToOwner(msg, wParam);
    }
}

}  // namespace tolvane
