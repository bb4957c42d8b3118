#include "UiLib/CNotifyPump.h"

namespace UiLib {

bool CNotifyPump::AddVirtualWnd(const std::string& name, CNotifyPump* pump) {
    if (pump == nullptr || name.empty()) {
        return false;
    }
    return virtualWnds_.emplace(name, pump).second;
}

bool CNotifyPump::RemoveVirtualWnd(const std::string& name) {
    return virtualWnds_.erase(name) > 0;
}

CNotifyPump* CNotifyPump::FindVirtualWnd(const std::string& name) const {
    auto it = virtualWnds_.find(name);
    return it == virtualWnds_.end() ? nullptr : it->second;
}

void CNotifyPump::NotifyPump(TNotifyUI& msg) {
    if (!msg.sVirtualWnd.empty()) {
        if (CNotifyPump* pump = FindVirtualWnd(msg.sVirtualWnd); pump != nullptr && pump != this) {
            pump->NotifyPump(msg);
            return;
        }
    }
    HandleNotify(msg);
}

void CNotifyPump::HandleNotify(TNotifyUI& /*msg*/) {}

}  // namespace UiLib
