#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/** The editor's own look-and-feel family. */
class CustomLookAndFeel : public juce::LookAndFeel_V3
{
public:
    CustomLookAndFeel() = default;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLookAndFeel)
};

//==============================================================================
/** Draws the update badge: a red disc with a white exclamation mark.

    The button's image only makes juce::ImageButton call drawImageButton at
    all; it is never drawn, so the badge looks the same in every state.
*/
class CustomLookAndFeel_NoticationBtn final : public CustomLookAndFeel
{
public:
    CustomLookAndFeel_NoticationBtn() = default;
    ~CustomLookAndFeel_NoticationBtn() override = default;

    void drawImageButton (juce::Graphics&, juce::Image*,
                          int imageX, int imageY, int imageW, int imageH,
                          const juce::Colour& overlayColour, float imageOpacity,
                          juce::ImageButton&) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CustomLookAndFeel_NoticationBtn)
};
