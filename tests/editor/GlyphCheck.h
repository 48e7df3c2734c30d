#pragma once

#include <juce_graphics/juce_graphics.h>

//==============================================================================
/** What is wrong with the way a face draws a text, one line per fault: a
    character drawn as the face's missing-glyph box, drawn as nothing at all,
    or drawn exactly like another character of the text. Empty when every
    character that is not white space has a glyph of its own.
*/
juce::StringArray findGlyphFaults (const juce::Typeface::Ptr& face, const juce::String& text);
