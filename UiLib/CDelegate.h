// Binding a member function (or any callable) to a control's notifications.
//
//   button->Bind("click", CDelegate(this, &CMainWnd::OnBackHome));
//
// The bound function receives the notification; the owner of the member function must outlive
// the control (windows bind their own members to their own controls).
#pragma once

#include <functional>
#include <utility>

#include "UiLib/TNotifyUI.h"

namespace UiLib {

class CDelegate {
  public:
    CDelegate() = default;
    template <class T>
    CDelegate(T* object, void (T::*method)(TNotifyUI&))
        : fn_([object, method](TNotifyUI& msg) { (object->*method)(msg); }), object_(object) {}
    template <class T>
    CDelegate(T* object, bool (T::*method)(TNotifyUI&))
        : fn_([object, method](TNotifyUI& msg) { (object->*method)(msg); }), object_(object) {}
    explicit CDelegate(std::function<void(TNotifyUI&)> fn) : fn_(std::move(fn)) {}

    explicit operator bool() const { return static_cast<bool>(fn_); }
    void operator()(TNotifyUI& msg) const {
        if (fn_) {
            fn_(msg);
        }
    }
    // The object a member function was bound to (for unbinding everything of one owner).
    const void* Object() const { return object_; }

  private:
    std::function<void(TNotifyUI&)> fn_;
    const void* object_ = nullptr;
};

template <class T, class M>
CDelegate MakeDelegate(T* object, M method) {
    return CDelegate(object, method);
}

}  // namespace UiLib
