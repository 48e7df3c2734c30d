#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/** The user interface language: the first entry of the system's list of
    preferred languages, and what the editor makes of it.
*/
namespace UILanguage
{
    /** Which of the editor's text sets to show. */
    enum class Texts
    {
        english,
        japanese,
        simplifiedChinese
    };

    /** Entry 0 of the preferred-languages list, e.g. "ja-JP" or "zh-Hans-CN";
        empty when the list is empty.

        On macOS this is Core Foundation's list. On Linux it is the language that
        the POSIX locale variables name (see fromLocaleVariables).
    */
    juce::String getPreferredLanguage();

    /** The identifier that the locale variables name: LANGUAGE's first ':' item,
        else LC_ALL, else LC_MESSAGES, else LANG, without codeset or modifier and
        with '-' between language and territory ("ja_JP.UTF-8" gives "ja-JP").
        "C", "POSIX" and nothing at all give an empty string.
    */
    juce::String fromLocaleVariables (const juce::String& language, const juce::String& lcAll,
                                      const juce::String& lcMessages, const juce::String& lang);

    /** "ja..." gives Japanese, else "zh..." simplified Chinese, else English.
        The prefixes are compared exactly, case included.
    */
    Texts getTexts (const juce::String& languageIdentifier);

    /** The sans-serif faces to try for a language, best first: Chinese ones
        for "zh...", Japanese ones for "ja...", and none (keep the framework's
        default) for anything else.
    */
    juce::StringArray getTypefaceCandidates (const juce::String& languageIdentifier);

   #if JUCE_LINUX || JUCE_BSD
    /** The first candidate face for the language that is installed and
        readable, loaded; nullptr when there is none.
    */
    juce::Typeface::Ptr loadTypeface (const juce::String& languageIdentifier);
   #endif

    /** Sets the default look-and-feel's sans-serif face for the preferred
        language, or leaves it alone. It is never undone. Message thread only.
    */
    void applyDefaultTypeface();
}
