#include "UiLib/LayoutAccessor.h"

#include <cassert>

#include "UiLib/CControlUI.h"
#include "UiLib/CPaintManagerUI.h"
#include "UiLib/Diagnostics.h"

namespace UiLib {

CControlUI* LayoutAccessor::Lookup_(const char* name) const {
    if (manager_ != nullptr) {
        return manager_->FindControl(name);
    }
    return root_ != nullptr ? root_->FindControl(name) : nullptr;
}

void LayoutAccessor::Missing_(const char* file, const char* name, const char* cppClass,
                              bool wrongKind) {
    ReportFault(std::string(file) + ": control " + name +
                (wrongKind ? std::string(" is not a ") + cppClass : std::string(" is missing")));
    assert(false && "a control of the layout is missing or of another class");
}

}  // namespace UiLib
