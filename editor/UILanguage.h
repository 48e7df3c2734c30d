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

    /** The sans-serif face to use for a language: a Chinese face for "zh...",
        a Japanese one for "ja...", and an empty string (keep the framework's
        default) for anything else or when no suitable face is installed.
        installedFaces is what juce::Font::findAllTypefaceNames() lists.
    */
    juce::String chooseTypeface (const juce::String& languageIdentifier,
                                 const juce::StringArray& installedFaces);

    /** Sets the default look-and-feel's sans-serif face for the preferred
        language, or leaves it alone. It is never undone. Message thread only.
    */
    void applyDefaultTypeface();
}
