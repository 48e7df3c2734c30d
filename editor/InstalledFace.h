#pragma once

#include <juce_graphics/juce_graphics.h>

//==============================================================================
/** An installed font face, found by family name and loaded from memory.

    JUCE 7's own font list on Linux skips .ttc/.otc collections, where most
    distributions keep their CJK faces (Noto Sans CJK among them). These
    functions find a family through fontconfig, whatever file holds it, and
    cut its face out of a collection so that JUCE's FreeType typeface can
    load it. Linux only.
*/
namespace InstalledFace
{
    /** Where a family's regular face lives: a file and the face's index in it. */
    struct Location
    {
        juce::File file;
        int index = 0;
    };

    /** What fontconfig lists for the family's regular upright face; an empty
        file when the family is not installed. */
    Location find (const juce::String& family);

    /** Face number index of a TrueType/OpenType font file or collection, as a
        font file of its own. Empty when the data is not such a file, the face
        does not exist, or a table lies outside the data.
    */
    juce::MemoryBlock extractFace (juce::InputStream& fontFile, int index);

    /** The family's regular face, ready to draw with; nullptr when it is not
        installed or FreeType cannot read it. */
    juce::Typeface::Ptr load (const juce::String& family);
}
