// A control subtree that window code replaces while other threads update it: the phone card is
// rebuilt at every tab switch while the connection timer writes its labels.
//
// Replace (any thread, usually the user interface thread) deletes the current subtree and puts
// the new one in place; With (any thread) runs a function on the current subtree under the
// framework's lock. So a subtree is never used after it was deleted, an update never lands
// half in the old and half in the new one, and painting sees either whole.
//
//   card_.Replace(container, CDialogBuilder().Create("xml\\ElementPhone.xml", &pm_));
//   card_.With([&](CControlUI& root) { root.FindControl("LblStatus")->SetText(L"Connected"); });
//   card_.WithParts<tolvane::skin::ElementPhoneLayout>([&](auto& card) { card.LblStatus()->...; });
//
// Look the parts up inside the function (by name or through a generated layout accessor), never
// keep pointers from it: after the next Replace they are gone. Lock order: a thread may hold its
// own locks when it calls With (the device lock, a progress lock); the function must not wait
// for the user interface thread, and nothing holding the framework's lock waits for those locks.
#pragma once

#include <memory>
#include <utility>

#include "UiLib/CContainerUI.h"
#include "UiLib/UiLock.h"

namespace UiLib {

class CSubtreeSlot {
  public:
    CSubtreeSlot() = default;
    // A subtree in a tree stays there (the tree owns it); one held alone is deleted.
    ~CSubtreeSlot();
    CSubtreeSlot(const CSubtreeSlot&) = delete;
    CSubtreeSlot& operator=(const CSubtreeSlot&) = delete;

    // Deletes the current subtree (from whatever container holds it) and adds `root` (owned from
    // here by `container`) as the last child of `container`. A null root only removes. Returns
    // the new root.
    CControlUI* Replace(CContainerUI* container, CControlUI* root);
    // Removes and deletes the current subtree.
    void Clear() { Replace(nullptr, nullptr); }

    // Runs fn(root) under the framework's lock; false (fn not called) when there is no subtree,
    // also when it was deleted with its container.
    template <class F>
    bool With(F&& fn) const {
        UiGuard guard;
        CControlUI* root = Current();
        if (root == nullptr) {
            return false;
        }
        std::forward<F>(fn)(*root);
        return true;
    }
    // The same through an accessor made from the root (a generated layout class).
    template <class Parts, class F>
    bool WithParts(F&& fn) const {
        return With([&](CControlUI& root) {
            Parts parts(&root);
            std::forward<F>(fn)(parts);
        });
    }
    bool HasSubtree() const;

  private:
    CControlUI* Current() const;  // under the lock
    CControlUI* root_ = nullptr;
    std::weak_ptr<int> alive_;
};

}  // namespace UiLib
