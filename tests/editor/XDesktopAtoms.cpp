#include <X11/Xlib.h>

#include <initializer_list>

/** Xvfb runs no window manager, so atoms such as WM_STATE, which one would
    create, do not exist; JUCE's peer then asks about atom None and the server
    answers BadAtom. Creating them makes the bare server look like a desktop.
    The connection stays open so that the server does not reset and forget them.
*/
void createWindowManagerAtoms()
{
    static Display* const display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return;

    for (auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING",
                        "WM_CHANGE_STATE", "WM_STATE", "_NET_WM_WINDOW_TYPE",
                        "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN" })
        XInternAtom (display, name, False);

    XSync (display, False);
}
