#pragma once

#include "UILanguage.h"

//==============================================================================
/** The modal question shown while a newer version is known: open the maker's
    web page now, or check later.

    Run it with runModalLoop(); it answers one of the Result values.
*/
class UpdatePrompt final : public juce::AlertWindow
{
public:
    enum Result
    {
        dismissed   = 0,   // Escape
        openWebPage = 1,
        checkLater  = 2
    };

    explicit UpdatePrompt (UILanguage::Texts);

private:
    struct Wording;
    static Wording getWording (UILanguage::Texts);
    explicit UpdatePrompt (const Wording&);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdatePrompt)
};
