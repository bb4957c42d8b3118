// Binding a member function (or any callable) to a control's notifications.
//
//   button->Bind("click", CDelegate(this, &CMainWnd::OnBackHome));
//
// A handler returning void lets the notification go on to the next handler and then to the
// window (its Notify, virtual windows, HandleNotify and the default click handling). A handler
// returning bool claims it with true: nothing after it sees the notification; false lets it go
// on, e.g. to the window's default close of "closebtn" and "cancelbtn".
//
// The owner of the member function must outlive the control (windows bind their own members to
// their own controls).
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

#include "UiLib/TNotifyUI.h"

namespace UiLib {

class CDelegate {
  public:
    CDelegate() = default;
    template <class T>
    CDelegate(T* object, void (T::*method)(TNotifyUI&))
        : fn_([object, method](TNotifyUI& msg) {
              (object->*method)(msg);
              return false;
          }),
          object_(object) {}
    template <class T>
    CDelegate(T* object, bool (T::*method)(TNotifyUI&))
        : fn_([object, method](TNotifyUI& msg) { return (object->*method)(msg); }),
          object_(object) {}
    // Any callable taking the notification, returning void (goes on) or bool (true claims it).
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, CDelegate> &&
                                                std::is_invocable_v<F&, TNotifyUI&>>>
    explicit CDelegate(F fn) {
        if constexpr (std::is_same_v<std::invoke_result_t<F&, TNotifyUI&>, bool>) {
            fn_ = std::move(fn);
        } else {
            fn_ = [fn = std::move(fn)](TNotifyUI& msg) mutable {
                fn(msg);
                return false;
            };
        }
    }

    explicit operator bool() const { return static_cast<bool>(fn_); }
    // True when the handler claimed the notification.
    bool operator()(TNotifyUI& msg) const { return fn_ ? fn_(msg) : false; }
    // The object a member function was bound to (for unbinding everything of one owner).
    const void* Object() const { return object_; }

  private:
    std::function<bool(TNotifyUI&)> fn_;
    const void* object_ = nullptr;
};

template <class T, class M>
CDelegate MakeDelegate(T* object, M method) {
    return CDelegate(object, method);
}

}  // namespace UiLib
