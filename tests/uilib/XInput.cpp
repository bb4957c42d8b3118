#include "tests/uilib/XInput.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace uilibtest::x {
namespace {

Display* Server() {
    return gdk_x11_display_get_xdisplay(gdk_display_get_default());
}

}  // namespace

void MovePointer(int x, int y) {
    XTestFakeMotionEvent(Server(), -1, x, y, CurrentTime);
    XFlush(Server());
}

void Click(int x, int y) {
    MovePointer(x, y);
    XTestFakeButtonEvent(Server(), 1, True, CurrentTime);
    XTestFakeButtonEvent(Server(), 1, False, CurrentTime);
    XFlush(Server());
}

void PressKey(const std::string& keysym) {
    const KeyCode code = XKeysymToKeycode(Server(), XStringToKeysym(keysym.c_str()));
    XTestFakeKeyEvent(Server(), code, True, CurrentTime);
    XTestFakeKeyEvent(Server(), code, False, CurrentTime);
    XFlush(Server());
}

WindowFacts Facts(unsigned long window) {
    WindowFacts facts;
    Display* d = Server();
    XWindowAttributes attributes;
    if (window == 0 || XGetWindowAttributes(d, window, &attributes) == 0) {
        return facts;
    }
    facts.viewable = attributes.map_state == IsViewable;
    facts.overrideRedirect = attributes.override_redirect != 0;
    Window child;
    XTranslateCoordinates(d, window, attributes.root, 0, 0, &facts.x, &facts.y, &child);
    Atom type;
    int format;
    unsigned long count;
    unsigned long after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_ICON", False), 0, 1 << 20, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        // width, height, then width * height pixels, for each icon (longs on the client side).
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i + 2 <= count;) {
            const unsigned long w = longs[i];
            const unsigned long h = longs[i + 1];
            facts.iconSides.push_back(static_cast<int>(w));
            i += 2 + w * h;
        }
        XFree(data);
    }
    return facts;
}

}  // namespace uilibtest::x
