// The base of the typed layout accessors generated at build time from the skin's layouts
// (tools/LayoutGen.cpp, target tolvane_layouts): one class per layout file with one method per
// named control, returning it with the class its element makes.
//
//   tolvane::skin::VrtWndBackupLayout ui(pm_);      // over a window's whole tree
//   ui.RdPart_Backup()->Selected(true);             // COptionUI*
//   tolvane::skin::ElementPhoneLayout card(root);   // over a subtree (the phone card)
//
// Each call looks the control up by name (so it follows trees that change); a control that is
// missing or of another class is reported and gives null, and stops a debug build at once.
#pragma once

#include <string>

namespace UiLib {

class CControlUI;
class CPaintManagerUI;

class LayoutAccessor {
  public:
    explicit LayoutAccessor(CPaintManagerUI& manager) : manager_(&manager) {}
    explicit LayoutAccessor(CControlUI* root) : root_(root) {}
    explicit LayoutAccessor(CControlUI& root) : root_(&root) {}

  protected:
    template <class T>
    T* Find_(const char* file, const char* name, const char* cppClass) const {
        CControlUI* control = Lookup_(name);
        T* typed = dynamic_cast<T*>(control);
        if (typed == nullptr) {
            Missing_(file, name, cppClass, control != nullptr);
        }
        return typed;
    }

  private:
    CControlUI* Lookup_(const char* name) const;
    static void Missing_(const char* file, const char* name, const char* cppClass, bool wrongKind);

    CPaintManagerUI* manager_ = nullptr;
    CControlUI* root_ = nullptr;
};

}  // namespace UiLib
