// The window-message vocabulary of the framework: message numbers, keys, hit-test results and
// dialog results keep the values the windows of the program post and compare with.
#pragma once

#include <cstdint>

namespace UiLib {

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// A window as other threads see it: a number that stays valid (and unused by any other window)
// after the window is gone, so posting to a closed window is harmless.
using WindowHandle = uint64_t;

enum : UINT {
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_NCHITTEST = 0x0084,
    WM_NCLBUTTONDBLCLK = 0x00A3,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSCOMMAND = 0x0112,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_MOUSEWHEEL = 0x020A,
    WM_KILLFOCUS = 0x0008,
    WM_USER = 0x0400,
};

enum : WPARAM {
    SC_CLOSE = 0xF060,
};

// The lParam of the WM_CLOSE that a close from the window manager (Alt+F4, the taskbar, the
// system menu) turns into; a WM_CLOSE posted by the program carries 0.
enum : LPARAM {
    CLOSE_FROM_SYSTEM = 0x53434C53,
};

// Virtual key codes of the keys the framework handles itself.
enum : WPARAM {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_ESCAPE = 0x1B,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_DELETE = 0x2E,
};

enum : LRESULT {
    HTCLIENT = 1,
    HTCAPTION = 2,
};

enum : int {
    IDOK = 1,
    IDCANCEL = 2,
};

}  // namespace UiLib
