#include "PanelReading.h"

#include <BinaryData.h>

namespace
{
    juce::Image art (const char* data, int size)    { return juce::ImageCache::getFromMemory (data, size); }

    /** Reads pixels through one BitmapData rather than one per pixel. */
    struct Pixels
    {
        explicit Pixels (const juce::Image& i) : image (i), data (image, juce::Image::BitmapData::readOnly) {}

        juce::uint32 at (int x, int y) const    { return data.getPixelColour (x, y).getARGB(); }

        juce::Image image;
        juce::Image::BitmapData data;
    };

    /** True when panel, from (x, y) on, shows exactly the given image. */
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
        juce::Image lit, holdsTake;   // holdsTake: slot keys only
    };

    Look lookAt (const Pixels& panel, const Pixels& base, const Spot& spot)
    {
        const auto unlit = base.image.getClippedImage ({ spot.x, spot.y, spot.lit.getWidth(), spot.lit.getHeight() });

        if (shows (panel, spot.x, spot.y, unlit))
            return Look::unlit;

        if (shows (panel, spot.x, spot.y, spot.lit))
            return spot.holdsTake.isValid() ? Look::selected : Look::lit;

        if (spot.holdsTake.isValid() && shows (panel, spot.x, spot.y, spot.holdsTake))
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
std::unique_ptr<VobrelAudioProcessorEditor> openEditor (VobrelAudioProcessor& processor)
{
    // Its update check goes to a closed local port, not to the maker's server.
    return std::make_unique<VobrelAudioProcessorEditor> (processor, "http://127.0.0.1:9");
}

void closeEditor (VobrelAudioProcessor& processor, std::unique_ptr<VobrelAudioProcessorEditor>& editor)
{
    if (editor != nullptr)
        processor.editorBeingDeleted (editor.get());

    editor.reset();
}

juce::ImageButton& button (VobrelAudioProcessorEditor& editor, Key key)
{
    auto* b = dynamic_cast<juce::ImageButton*> (editor.getChildComponent ((int) key));
    jassert (b != nullptr);
    return *b;
}

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

juce::Image baseArt()
{
    return art (BinaryData::temp1, BinaryData::temp1Size);
}

PanelLooks readPanel (const juce::Image& image)
{
    const Pixels panel (image), base (baseArt());

    auto spot = [] (int x, int y, const char* lit, int litSize, const char* take = nullptr, int takeSize = 0)
    {
        return Spot { x, y, art (lit, litSize), take != nullptr ? art (take, takeSize) : juce::Image() };
    };

    const Spot power     = spot (59,  52,  BinaryData::temp11, BinaryData::temp11Size);
    const Spot sidechain = spot (161, 122, BinaryData::temp13, BinaryData::temp13Size);
    const Spot deleteKey = spot (224, 122, BinaryData::temp13, BinaryData::temp13Size);
    const Spot record    = spot (597, 52,  BinaryData::temp12, BinaryData::temp12Size);
    const Spot play      = spot (659, 52,  BinaryData::temp10, BinaryData::temp10Size);
    const Spot stop      = spot (722, 52,  BinaryData::temp14, BinaryData::temp14Size);
    const Spot slots[]   { spot (326, 52, BinaryData::temp2, BinaryData::temp2Size, BinaryData::temp3, BinaryData::temp3Size),
                           spot (388, 52, BinaryData::temp4, BinaryData::temp4Size, BinaryData::temp5, BinaryData::temp5Size),
                           spot (451, 52, BinaryData::temp6, BinaryData::temp6Size, BinaryData::temp7, BinaryData::temp7Size),
                           spot (513, 52, BinaryData::temp8, BinaryData::temp8Size, BinaryData::temp9, BinaryData::temp9Size) };

    PanelLooks looks;

    if (image.getWidth() != base.image.getWidth() || image.getHeight() != base.image.getHeight())
    {
        looks.restIsBaseArt = false;
        return looks;
    }

    looks.power     = lookAt (panel, base, power);
    looks.sidechain = lookAt (panel, base, sidechain);
    looks.deleteKey = lookAt (panel, base, deleteKey);
    looks.record    = lookAt (panel, base, record);
    looks.play      = lookAt (panel, base, play);
    looks.stop      = lookAt (panel, base, stop);

    for (size_t i = 0; i < std::size (slots); ++i)
        looks.slots[i] = lookAt (panel, base, slots[i]);

    juce::RectangleList<int> keys;

    for (const auto* s : { &power, &sidechain, &deleteKey, &record, &play, &stop, &slots[0], &slots[1], &slots[2], &slots[3] })
        keys.add ({ s->x, s->y, s->lit.getWidth(), s->lit.getHeight() });

    for (int y = 0; y < image.getHeight() && looks.restIsBaseArt; ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (! keys.containsPoint ({ x, y }) && panel.at (x, y) != base.at (x, y))
                looks.restIsBaseArt = false;

    return looks;
}

bool samePixels (const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;

    return shows (Pixels (a), 0, 0, b);
}

bool pumpUntil (const std::function<bool()>& condition, int maxMs)
{
    for (int waited = 0; waited < maxMs && ! condition(); waited += 10)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    return condition();
}

void pump (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}
