// The control elements of the layout files and the classes the layout loader makes of them.
// The layout accessor generator (tools/LayoutGen.cpp) reads this table; a test checks that
// CDialogBuilder::CreateControl makes exactly these classes.
#pragma once

#include <string_view>

namespace UiLib {

struct ElementKind {
    const char* element;   // as the layouts write it
    const char* cppClass;  // the class CDialogBuilder makes (namespace UiLib)
    const char* header;    // where it is declared
    const char* uiClass;   // what its GetClass() says
    bool container;        // holds child controls
};

inline constexpr ElementKind kElementKinds[] = {
    {"Control", "CControlUI", "UiLib/CControlUI.h", "ControlUI", false},
    {"Container", "CContainerUI", "UiLib/CContainerUI.h", "ContainerUI", true},
    {"VerticalLayout", "CVerticalLayoutUI", "UiLib/CVerticalLayoutUI.h", "VerticalLayoutUI", true},
    {"HorizontalLayout", "CHorizontalLayoutUI", "UiLib/CHorizontalLayoutUI.h", "HorizontalLayoutUI",
     true},
    {"TabLayout", "CTabLayoutUI", "UiLib/CTabLayoutUI.h", "TabLayoutUI", true},
    {"Label", "CLabelUI", "UiLib/CLabelUI.h", "LabelUI", false},
    {"Text", "CTextUI", "UiLib/CTextUI.h", "TextUI", false},
    {"Button", "CButtonUI", "UiLib/CButtonUI.h", "ButtonUI", false},
    {"Option", "COptionUI", "UiLib/COptionUI.h", "OptionUI", false},
    {"Edit", "CEditUI", "UiLib/CEditUI.h", "EditUI", false},
    {"Progress", "CProgressUI", "UiLib/CProgressUI.h", "ProgressUI", false},
    {"List", "CListUI", "UiLib/CListUI.h", "ListUI", true},
    {"ListContainerElement", "CListContainerElementUI", "UiLib/CListContainerElementUI.h",
     "ListContainerElementUI", true},
    {"ButtonGif", "CButtonGifUI", "UiLib/CButtonGifUI.h", "ButtonGifUI", false},
    {"Menu", "CMenuUI", "UiLib/CMenuUI.h", "MenuUI", true},
    {"MenuElement", "CMenuElementUI", "UiLib/CMenuElementUI.h", "MenuElementUI", true},
};

// Elements of a layout that are not controls: resources of the window.
inline bool IsLayoutResourceElement(std::string_view element) {
    return element == "Font" || element == "Default" || element == "Styles" || element == "Style" ||
           element == "ActionScript" || element == "Image";
}

inline const ElementKind* FindElementKind(std::string_view element) {
    for (const ElementKind& k : kElementKinds) {
        if (element == k.element) {
            return &k;
        }
    }
    return nullptr;
}

}  // namespace UiLib
