// A notification of a control: "click", "selectchanged", "itemselect", "itemclick", "windowinit",
// "timer", "tabselect", "textchanged", "setfocus", "killfocus", "return".
#pragma once

#include <string>

#include "UiLib/UiTypes.h"
#include "UiLib/WinDefs.h"

namespace UiLib {

class CControlUI;

struct TNotifyUI {
    std::string sType;
    std::string sVirtualWnd;  // the nearest enclosing container's virtualwnd, or empty
    CControlUI* pSender = nullptr;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    Point ptMouse;
};

// Receives every notification of a window (windows and tab panels implement it).
class INotifyUI {
  public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

// Sees window messages before the window does; setting `handled` claims the message.
class IMessageFilterUI {
  public:
    virtual ~IMessageFilterUI() = default;
    virtual LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) = 0;
};

}  // namespace UiLib
