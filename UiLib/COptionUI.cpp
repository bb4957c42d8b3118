#include "UiLib/COptionUI.h"

#include <string_view>

#include "UiLib/CContainerUI.h"
#include "UiLib/Painter.h"
#include "UiLib/UiLock.h"
#include "UiLib/Values.h"

namespace UiLib {
namespace {

void CollectGroup(CControlUI* node, const std::string& group, std::vector<COptionUI*>& out) {
    if (auto* option = dynamic_cast<COptionUI*>(node); option != nullptr) {
        if (option->GetGroup() == group) {
            out.push_back(option);
        }
    }
    if (CContainerUI* c = node->AsContainer()) {
        for (int i = 0; i < c->GetCount(); ++i) {
            CollectGroup(c->GetItemAt(i), group, out);
        }
    }
}

}  // namespace

bool COptionUI::IsSelected() const {
    UiGuard guard;
    return selected_;
}

std::string COptionUI::GetGroup() const {
    UiGuard guard;
    return group_;
}

void COptionUI::SetGroup(const std::string& group) {
    UiGuard guard;
    group_ = group;
}

void COptionUI::Selected(bool selected) {
    UiGuard guard;
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    Invalidate();
    if (group_.empty()) {
        SendNotify("selectchanged");
        return;
    }
    if (!selected) {
        return;  // a radio button that loses its selection says nothing
    }
    CControlUI* root = this;
    while (root->GetParent() != nullptr) {
        root = root->GetParent();
    }
    std::vector<COptionUI*> members;
    CollectGroup(root, group_, members);
    for (COptionUI* other : members) {
        if (other != this) {
            other->Selected(false);
        }
    }
    SendNotify("selectchanged");
}

bool COptionUI::Activate() {
    UiGuard guard;
    if (!CControlUI::Activate()) {
        return false;
    }
    SendNotify("click");
    Selected(group_.empty() ? !selected_ : true);
    return true;
}

bool COptionUI::SetAttribute(const std::string& name, const std::string& value) {
    UiGuard guard;
    const std::string_view key = name;
    if (key == "group") {
        group_ = value;
    } else if (key == "selected") {
        // Selection from the layout is part of building the tree: no notification yet.
        if (auto b = ParseBool(value)) {
            selected_ = *b;
        } else {
            ReportBadValue(name, value);
        }
    } else if (key == "selectedimage") {
        selectedImage_ = value;
    } else if (key == "selectedhotimage") {
        selectedHotImage_ = value;
    } else if (key == "selecteddisabledimage") {
        selectedDisabledImage_ = value;
    } else if (key == "halfselectedimage") {
        halfSelectedImage_ = value;
    } else if (key == "halfselectedhotimage") {
        halfSelectedHotImage_ = value;
    } else if (key == "selectedtextcolor") {
        if (auto c = ParseColor(value)) {
            selectedTextColor_ = *c;
        } else {
            ReportBadValue(name, value);
        }
    } else {
        return CButtonUI::SetAttribute(name, value);
    }
    return true;
}

Color COptionUI::CurrentTextColor() const {
    if (selected_ && enabled_ && selectedTextColor_ != 0) {
        return selectedTextColor_;
    }
    return CButtonUI::CurrentTextColor();
}

void COptionUI::PaintStatusImage(Painter& painter) {
    if (selected_) {
        const std::string* image = &selectedImage_;
        if (!enabled_ && !selectedDisabledImage_.empty()) {
            image = &selectedDisabledImage_;
        } else if (enabled_ && (buttonState_ & UISTATE_HOT) != 0 && !selectedHotImage_.empty()) {
            image = &selectedHotImage_;
        }
        if (!image->empty()) {
            painter.DrawImage(rcItem_, *image);
            if (!foreImage_.empty()) {
                painter.DrawImage(rcItem_, foreImage_);
            }
            return;
        }
    }
    CButtonUI::PaintStatusImage(painter);
}

}  // namespace UiLib
