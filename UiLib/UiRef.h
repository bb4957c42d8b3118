// A weak reference to a control for other threads: a worker keeps UiRef<CProgressUI> instead
// of the pointer, and each use runs under the framework's lock only while the control exists.
// A progress window closed (and deleted) while its worker still reports is then harmless.
//
//   UiRef<CProgressUI> bar(pm.FindControl("progress"));      // user interface thread
//   bar.With([&](CProgressUI& b) { b.SetValue(percent); });   // any thread; false when gone
//
// Controls go under the lock when the framework deletes them (a container emptied, a window's
// tree, CSubtreeSlot); code that deletes a tree itself does so holding a UiGuard.
#pragma once

#include <memory>
#include <utility>

#include "UiLib/CControlUI.h"
#include "UiLib/UiLock.h"

namespace UiLib {

template <class T>
class UiRef {
  public:
    UiRef() = default;
    // Null, or a control of another class, makes an empty reference.
    explicit UiRef(CControlUI* control) {
        UiGuard guard;
        control_ = dynamic_cast<T*>(control);
        if (control_ != nullptr) {
            alive_ = control_->AliveToken();
        }
    }

    // Runs fn(control) under the lock while the control exists; false when it is gone.
    template <class F>
    bool With(F&& fn) const {
        UiGuard guard;
        if (control_ == nullptr || alive_.expired()) {
            return false;
        }
        std::forward<F>(fn)(*control_);
        return true;
    }
    bool Alive() const {
        UiGuard guard;
        return control_ != nullptr && !alive_.expired();
    }

  private:
    T* control_ = nullptr;
    std::weak_ptr<int> alive_;
};

}  // namespace UiLib
