#include "UiLib/CSubtreeSlot.h"

namespace UiLib {

CSubtreeSlot::~CSubtreeSlot() {
    UiGuard guard;
    if (CControlUI* root = Current(); root != nullptr && root->GetParent() == nullptr) {
        delete root;
    }
}

CControlUI* CSubtreeSlot::Current() const {
    return alive_.expired() ? nullptr : root_;
}

bool CSubtreeSlot::HasSubtree() const {
    UiGuard guard;
    return Current() != nullptr;
}

CControlUI* CSubtreeSlot::Replace(CContainerUI* container, CControlUI* root) {
    UiGuard guard;
    if (CControlUI* old = Current()) {
        if (CControlUI* parent = old->GetParent(); parent != nullptr && parent->AsContainer()) {
            parent->AsContainer()->Remove(old);
        } else {
            delete old;  // not in a tree: the slot owned it alone
        }
    }
    root_ = root;
    alive_ = root != nullptr ? root->AliveToken() : std::weak_ptr<int>();
    if (root != nullptr && container != nullptr) {
        container->Add(root);
    }
    return root;
}

}  // namespace UiLib
