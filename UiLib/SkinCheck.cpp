#include "UiLib/SkinCheck.h"

#include <memory>

#include "UiLib/CContainerUI.h"
#include "UiLib/CDialogBuilder.h"
#include "UiLib/CMenuElementUI.h"
#include "UiLib/CPaintManagerUI.h"

namespace UiLib {
namespace {

void Collect(CControlUI* c, std::set<std::string>& names) {
    if (c == nullptr) {
        return;
    }
    const std::string name = c->GetName();
    if (!name.empty()) {
        names.insert(name);
    }
    if (auto* item = dynamic_cast<CMenuElementUI*>(c)) {
        for (int i = 0; i < item->GetSubItemCount(); ++i) {
            Collect(item->GetSubItemAt(i), names);
        }
    }
    if (CContainerUI* container = c->AsContainer()) {
        for (int i = 0; i < container->GetCount(); ++i) {
            Collect(container->GetItemAt(i), names);
        }
    }
}

}  // namespace

std::set<std::string> CollectControlNames(const std::string& layoutFile) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.Create(layoutFile, &pm));
    std::set<std::string> names;
    Collect(root.get(), names);
    return names;
}

std::vector<std::string> MissingControlNames(const std::string& layoutFile,
                                             const std::vector<std::string>& wanted) {
    const std::set<std::string> names = CollectControlNames(layoutFile);
    std::vector<std::string> missing;
    for (const auto& w : wanted) {
        if (!names.contains(w)) {
            missing.push_back(w);
        }
    }
    return missing;
}

std::vector<std::string> MissingStyles(const std::string& layoutFile,
                                       const std::vector<std::string>& wanted) {
    CPaintManagerUI pm;
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> root(builder.Create(layoutFile, &pm));
    std::vector<std::string> missing;
    for (const auto& w : wanted) {
        if (pm.GetStyle(w) == nullptr) {
            missing.push_back(w);
        }
    }
    return missing;
}

}  // namespace UiLib
