#pragma once

#include "UILanguage.h"

//==============================================================================
/** The modal About box: the version, the credits and the copyright line,
    with one "  OK  " button. Run it with runModalLoop().
*/
class AboutBox final : public juce::AlertWindow
{
public:
    explicit AboutBox (UILanguage::Texts);

private:
    /** The message: "Version:" and the version, an empty line, one line per
        credit, an empty line and the copyright line (no line break after it). */
    static juce::String getMessage (UILanguage::Texts);
    static juce::String getTitle (UILanguage::Texts);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutBox)
};
