// Real input and window facts through the X server, for the GTK tests: XTest pointer and key
// events (they go through the server's grabs, as a user's would) and what the server knows of a
// window. Kept apart from the tests because the X headers define names that clash with them.
#pragma once

#include <string>
#include <vector>

namespace uilibtest::x {

void MovePointer(int x, int y);
void Click(int x, int y);
// A key by its keysym name ("Escape", "Return").
void PressKey(const std::string& keysym);

struct WindowFacts {
    bool viewable = false;
    bool overrideRedirect = false;  // placed by the program, not by the window manager
    int x = 0;                      // top-left corner on the screen
    int y = 0;
    std::vector<int> iconSides;  // the sides of the icons in _NET_WM_ICON
};
WindowFacts Facts(unsigned long window);

}  // namespace uilibtest::x
