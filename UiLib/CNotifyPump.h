// Routes notifications: those raised inside a container whose `virtualwnd` names a registered
// pump go to that pump; the rest go to this object's own HandleNotify.
#pragma once

#include <map>
#include <string>

#include "UiLib/TNotifyUI.h"

namespace UiLib {

class CNotifyPump {
  public:
    virtual ~CNotifyPump() = default;

    // Registers `pump` for the notifications of the virtual window `name`; false when the name is
    // taken or the pump is null.
    bool AddVirtualWnd(const std::string& name, CNotifyPump* pump);
    bool RemoveVirtualWnd(const std::string& name);
    CNotifyPump* FindVirtualWnd(const std::string& name) const;

    // Delivers `msg` to the registered pump of its virtual window, or to HandleNotify.
    void NotifyPump(TNotifyUI& msg);

    // The notifications meant for this object itself.
    virtual void HandleNotify(TNotifyUI& msg);

  private:
    std::map<std::string, CNotifyPump*> virtualWnds_;
};

}  // namespace UiLib
