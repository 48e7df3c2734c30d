#pragma once

// Xlib stays in XScreen.cpp: its macros (None, Bool, Status...) clash with JUCE.

#include <cstdint>
#include <vector>

namespace xscreen
{
    /** Opens a connection to $DISPLAY that stays open for the program's life and
        creates the window-manager atoms that a bare Xvfb lacks. False without a display. */
    bool connect();

    enum class Found { none, clipped, whole };

    /** Looks under the host's window `top` for the deepest viewable w x h window made
        by another X client (the plug-in's own connection). Gives its root coordinates,
        and whether all of it lies inside its ancestors or some is clipped away. */
    Found findForeignWindowOfSize (unsigned long top, int w, int h, int& x, int& y);

    /** The screen's pixels in a rectangle, row by row, as 0xRRGGBB. */
    bool grab (int x, int y, int w, int h, std::vector<std::uint32_t>& pixels);
}
