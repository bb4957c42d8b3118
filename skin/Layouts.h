// The typed accessors generated from the layouts at build time (target tolvane_layouts): one
// header per layout, "skin/layouts/<file>.h", with the class <File>Layout (underscores dropped,
// "menu_assist.xml" gives MenuAssistLayout), and this table of every layout's named controls,
// for the check that each resolves to the class its accessor returns.
#pragma once

#include <cstddef>
#include <span>

namespace UiLib {
class CControlUI;
}

namespace tolvane::skin {

struct GeneratedControl {
    const char* name;
    const char* element;
    // Whether a control is of the class the accessor returns.
    bool (*isKind)(UiLib::CControlUI* control);
    // The generated accessor, run over a tree: true when it finds the control.
    bool (*viaAccessor)(UiLib::CControlUI* root);
};

struct GeneratedLayout {
    const char* file;  // "xml\\ElementPhone.xml"
    const GeneratedControl* controls;
    size_t count;
};

std::span<const GeneratedLayout> GeneratedLayouts();

}  // namespace tolvane::skin
