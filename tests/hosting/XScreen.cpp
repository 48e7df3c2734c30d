#include "XScreen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <functional>

namespace
{
    Display* display = nullptr;
}

namespace xscreen
{
bool connect()
{
    if (display == nullptr)
        display = XOpenDisplay (nullptr);

    if (display == nullptr)
        return false;

    // Xvfb runs no window manager, so atoms that one would create are missing and
    // JUCE's peers (the host's and the plug-in's own) would get BadAtom. Kept alive
    // by this connection: the server forgets atoms when its last client leaves.
    for (auto* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "_NET_WM_PING",
                        "WM_CHANGE_STATE", "WM_STATE", "_NET_WM_WINDOW_TYPE",
                        "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN" })
        XInternAtom (display, name, False);

    XSync (display, False);
    return true;
}

Found findForeignWindowOfSize (unsigned long top, int w, int h, int& x, int& y)
{
    if (display == nullptr)
        return Found::none;

    struct Area { int x, y, w, h; };

    // X gives each client its own range of resource ids; Xvfb's ranges are 2^21 wide.
    constexpr unsigned long clientBits = ~0x1fffffUL;
    const auto host = top & clientBits;

    auto result = Found::none;
    int bestDepth = -1;

    // `clip` is what the ancestors leave visible, in root coordinates.
    std::function<void (Window, int, Area)> visit = [&] (Window window, int depth, Area clip)
    {
        XWindowAttributes attributes {};

        if (XGetWindowAttributes (display, window, &attributes) == 0 || attributes.map_state != IsViewable)
            return;

        Window child = 0;
        int rx = 0, ry = 0;

        if (! XTranslateCoordinates (display, window, DefaultRootWindow (display), 0, 0, &rx, &ry, &child))
            return;

        const Area area { rx, ry, attributes.width, attributes.height };

        if (area.w == w && area.h == h && (window & clientBits) != host && depth > bestDepth)
        {
            const bool inside = area.x >= clip.x && area.y >= clip.y
                                 && area.x + area.w <= clip.x + clip.w && area.y + area.h <= clip.y + clip.h;
            x = rx;
            y = ry;
            bestDepth = depth;
            result = inside ? Found::whole : Found::clipped;
        }

        const auto left = std::max (area.x, clip.x), topEdge = std::max (area.y, clip.y);
        const Area next { left, topEdge,
                          std::max (0, std::min (area.x + area.w, clip.x + clip.w) - left),
                          std::max (0, std::min (area.y + area.h, clip.y + clip.h) - topEdge) };

        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;

        if (XQueryTree (display, window, &root, &parent, &children, &count) == 0)
            return;

        for (unsigned int i = 0; i < count; ++i)
            visit (children[i], depth + 1, next);

        if (children != nullptr)
            XFree (children);
    };

    XSync (display, False);
    const auto screen = DefaultScreenOfDisplay (display);
    visit ((Window) top, 0, Area { 0, 0, WidthOfScreen (screen), HeightOfScreen (screen) });
    return result;
}

bool grab (int x, int y, int w, int h, std::vector<std::uint32_t>& pixels)
{
    if (display == nullptr)
        return false;

    XImage* image = XGetImage (display, DefaultRootWindow (display), x, y, (unsigned int) w, (unsigned int) h,
                               AllPlanes, ZPixmap);

    if (image == nullptr)
        return false;

    auto shiftOf = [] (unsigned long mask)
    {
        int shift = 0;

        while (mask != 0 && (mask & 1) == 0)
        {
            mask >>= 1;
            ++shift;
        }

        return shift;
    };

    const auto rs = shiftOf (image->red_mask), gs = shiftOf (image->green_mask), bs = shiftOf (image->blue_mask);
    pixels.resize ((size_t) w * (size_t) h);

    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
        {
            const auto p = XGetPixel (image, i, j);
            const auto r = (std::uint32_t) ((p & image->red_mask) >> rs) & 0xff;
            const auto g = (std::uint32_t) ((p & image->green_mask) >> gs) & 0xff;
            const auto b = (std::uint32_t) ((p & image->blue_mask) >> bs) & 0xff;
            pixels[(size_t) j * (size_t) w + (size_t) i] = (r << 16) | (g << 8) | b;
        }

    XDestroyImage (image);
    return true;
}
}
