#include "UILanguage.h"

#if JUCE_MAC
 #include <CoreFoundation/CoreFoundation.h>
#endif

namespace UILanguage
{

namespace
{
    juce::StringArray getTypefaceCandidates (const juce::String& languageIdentifier)
    {
       #if JUCE_MAC || JUCE_WINDOWS
        if (languageIdentifier.startsWith ("zh"))  return { "PingFang SC" };
        if (languageIdentifier.startsWith ("ja"))  return { "Arial Unicode MS" };
       #else
        // JUCE's FreeType list skips .ttc collections, where Debian keeps Noto CJK,
        // so single-file faces follow as fallbacks.
        if (languageIdentifier.startsWith ("zh"))  return { "Noto Sans CJK SC", "Droid Sans Fallback" };
        if (languageIdentifier.startsWith ("ja"))  return { "Noto Sans CJK JP", "IPAGothic", "Droid Sans Fallback" };
       #endif

        return {};
    }

    juce::String getEnvironment (const char* name)
    {
        return juce::SystemStats::getEnvironmentVariable (name, {});
    }
}

//==============================================================================
juce::String getPreferredLanguage()
{
   #if JUCE_MAC
    juce::String first;

    if (auto languages = CFLocaleCopyPreferredLanguages())
    {
        if (CFArrayGetCount (languages) > 0)
            first = juce::String::fromCFString ((CFStringRef) CFArrayGetValueAtIndex (languages, 0));

        CFRelease (languages);
    }

    return first;
   #else
    return fromLocaleVariables (getEnvironment ("LANGUAGE"), getEnvironment ("LC_ALL"),
                                getEnvironment ("LC_MESSAGES"), getEnvironment ("LANG"));
   #endif
}

juce::String fromLocaleVariables (const juce::String& language, const juce::String& lcAll,
                                  const juce::String& lcMessages, const juce::String& lang)
{
    auto locale = language.upToFirstOccurrenceOf (":", false, false).trim();

    for (auto* next : { &lcAll, &lcMessages, &lang })
        if (locale.isEmpty())
            locale = next->trim();

    locale = locale.upToFirstOccurrenceOf (".", false, false)
                   .upToFirstOccurrenceOf ("@", false, false);

    if (locale == "C" || locale == "POSIX")
        return {};

    return locale.replaceCharacter ('_', '-');
}

Texts getTexts (const juce::String& languageIdentifier)
{
    if (languageIdentifier.startsWith ("ja"))  return Texts::japanese;
    if (languageIdentifier.startsWith ("zh"))  return Texts::simplifiedChinese;

    return Texts::english;
}

juce::String chooseTypeface (const juce::String& languageIdentifier, const juce::StringArray& installedFaces)
{
    const auto candidates = getTypefaceCandidates (languageIdentifier);

   #if JUCE_MAC || JUCE_WINDOWS
    juce::ignoreUnused (installedFaces);
    return candidates[0];
   #else
    // A face the framework cannot load would draw no text at all.
    for (const auto& face : candidates)
        if (installedFaces.contains (face))
            return face;

    return {};
   #endif
}

void applyDefaultTypeface()
{
    const auto language = getPreferredLanguage();

    // Most users need no face, and so no scan of the installed fonts.
    if (getTypefaceCandidates (language).isEmpty())
        return;

    const auto face = chooseTypeface (language, juce::Font::findAllTypefaceNames());

    if (face.isNotEmpty())
        juce::Desktop::getInstance().getDefaultLookAndFeel().setDefaultSansSerifTypefaceName (face);
}

} // namespace UILanguage
