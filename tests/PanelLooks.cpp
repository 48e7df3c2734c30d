#include "PanelLooks.h"

namespace
{
    /** Reads pixels through one BitmapData rather than one per pixel. */
    struct Pixels
    {
        explicit Pixels (const juce::Image& i) : image (i), data (image, juce::Image::BitmapData::readOnly) {}

        juce::uint32 at (int x, int y) const    { return data.getPixelColour (x, y).getARGB(); }

        juce::Image image;
        juce::Image::BitmapData data;
    };

    /** True when the panel, from (x, y) on, shows exactly the given image. */
    bool shows (const Pixels& panel, int x, int y, const juce::Image& image)
    {
        const Pixels expected (image);

        for (int j = 0; j < image.getHeight(); ++j)
            for (int i = 0; i < image.getWidth(); ++i)
                if (panel.at (x + i, y + j) != expected.at (i, j))
                    return false;

        return true;
    }

    struct Spot
    {
        int x, y;
        int lit, holdsTake;   // artwork numbers; holdsTake 0 except for slot keys
    };

    const Spot powerSpot { 59, 52, 11, 0 }, sidechainSpot { 161, 122, 13, 0 }, deleteSpot { 224, 122, 13, 0 },
               recordSpot { 597, 52, 12, 0 }, playSpot { 659, 52, 10, 0 }, stopSpot { 722, 52, 14, 0 };
    const Spot slotSpots[] { { 326, 52, 2, 3 }, { 388, 52, 4, 5 }, { 451, 52, 6, 7 }, { 513, 52, 8, 9 } };

    Look lookAt (const Pixels& panel, const PanelArt& art, const Spot& spot)
    {
        const auto& lit = art[(size_t) spot.lit];
        const auto unlit = art[1].getClippedImage ({ spot.x, spot.y, lit.getWidth(), lit.getHeight() });

        if (shows (panel, spot.x, spot.y, unlit))
            return Look::unlit;

        if (shows (panel, spot.x, spot.y, lit))
            return spot.holdsTake != 0 ? Look::selected : Look::lit;

        if (spot.holdsTake != 0 && shows (panel, spot.x, spot.y, art[(size_t) spot.holdsTake]))
            return Look::holdsTake;

        return Look::other;
    }

    const char* name (Look look)
    {
        switch (look)
        {
            case Look::unlit:      return "unlit";
            case Look::lit:        return "lit";
            case Look::selected:   return "selected";
            case Look::holdsTake:  return "holdsTake";
            case Look::other:      return "OTHER";
        }

        return "?";
    }
}

//==============================================================================
PanelLooks PanelLooks::fresh()
{
    PanelLooks looks;
    looks.power = Look::lit;
    looks.slots[0] = Look::selected;
    return looks;
}

std::ostream& operator<< (std::ostream& out, const PanelLooks& p)
{
    return out << "{ power " << name (p.power)
               << ", slots " << name (p.slots[0]) << "/" << name (p.slots[1]) << "/"
                             << name (p.slots[2]) << "/" << name (p.slots[3])
               << ", sidechain " << name (p.sidechain) << ", delete " << name (p.deleteKey)
               << ", record " << name (p.record) << ", play " << name (p.play) << ", stop " << name (p.stop)
               << ", rest " << (p.restIsBaseArt ? "base art" : "DIFFERS") << " }";
}

PanelLooks readPanel (const juce::Image& image, const PanelArt& art)
{
    PanelLooks looks;

    if (image.getBounds() != art[1].getBounds())
    {
        looks.restIsBaseArt = false;
        return looks;
    }

    const Pixels panel (image), base (art[1]);

    looks.power     = lookAt (panel, art, powerSpot);
    looks.sidechain = lookAt (panel, art, sidechainSpot);
    looks.deleteKey = lookAt (panel, art, deleteSpot);
    looks.record    = lookAt (panel, art, recordSpot);
    looks.play      = lookAt (panel, art, playSpot);
    looks.stop      = lookAt (panel, art, stopSpot);

    for (size_t i = 0; i < std::size (slotSpots); ++i)
        looks.slots[i] = lookAt (panel, art, slotSpots[i]);

    juce::RectangleList<int> keys;

    for (const auto* s : { &powerSpot, &sidechainSpot, &deleteSpot, &recordSpot, &playSpot, &stopSpot,
                           &slotSpots[0], &slotSpots[1], &slotSpots[2], &slotSpots[3] })
        keys.add ({ s->x, s->y, art[(size_t) s->lit].getWidth(), art[(size_t) s->lit].getHeight() });

    for (int y = 0; y < image.getHeight() && looks.restIsBaseArt; ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (! keys.containsPoint ({ x, y }) && panel.at (x, y) != base.at (x, y))
            {
                looks.restIsBaseArt = false;
                break;
            }

    return looks;
}

bool samePixels (const juce::Image& a, const juce::Image& b)
{
    return a.getBounds() == b.getBounds() && shows (Pixels (a), 0, 0, b);
}
