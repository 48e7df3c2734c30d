#include "GlyphCheck.h"

#include <cstring>
#include <map>

namespace
{
    constexpr int glyphSize = 64;

    /** One character alone, large, at a fixed origin. */
    juce::Image draw (const juce::Typeface::Ptr& face, juce::juce_wchar character)
    {
        juce::Image image (juce::Image::ARGB, glyphSize, glyphSize, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::black);
        g.setFont (juce::Font (face).withHeight (40.0f));
        g.drawSingleLineText (juce::String::charToString (character), 8, 48);
        return image;
    }

    bool same (const juce::Image& a, const juce::Image& b)
    {
        const juce::Image::BitmapData pa (a, juce::Image::BitmapData::readOnly), pb (b, juce::Image::BitmapData::readOnly);

        for (int y = 0; y < glyphSize; ++y)
            if (std::memcmp (pa.getLinePointer (y), pb.getLinePointer (y), (size_t) (glyphSize * pa.pixelStride)) != 0)
                return false;

        return true;
    }

    bool blank (const juce::Image& image)
    {
        return same (image, juce::Image (juce::Image::ARGB, glyphSize, glyphSize, true));
    }

    juce::String describe (juce::juce_wchar c)
    {
        return "'" + juce::String::charToString (c) + "' (U+" + juce::String::toHexString ((int) c).paddedLeft ('0', 4).toUpperCase() + ")";
    }
}

juce::StringArray findGlyphFaults (const juce::Typeface::Ptr& face, const juce::String& text)
{
    // A noncharacter: no face maps it, so this is what a missing glyph looks like.
    const auto missing = draw (face, 0x10fffe);

    std::map<juce::juce_wchar, juce::Image> drawn;
    juce::StringArray faults;

    for (auto p = text.getCharPointer(); ! p.isEmpty(); ++p)
    {
        const auto c = *p;

        if (juce::CharacterFunctions::isWhitespace (c) || drawn.count (c) != 0)
            continue;

        const auto image = draw (face, c);

        if (blank (image))
            faults.add (describe (c) + " draws nothing");
        else if (same (image, missing))
            faults.add (describe (c) + " is the missing-glyph box");
        else
            for (const auto& [other, otherImage] : drawn)
                if (same (image, otherImage))
                    faults.add (describe (c) + " looks exactly like " + describe (other));

        drawn[c] = image;
    }

    return faults;
}
