#include "UILanguage.h"

#if JUCE_MAC
 #include <CoreFoundation/CoreFoundation.h>
#endif

#if JUCE_LINUX || JUCE_BSD
 #include "InstalledFace.h"
#endif

namespace UILanguage
{

namespace
{
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

juce::StringArray getTypefaceCandidates (const juce::String& languageIdentifier)
{
   #if JUCE_MAC || JUCE_WINDOWS
    if (languageIdentifier.startsWith ("zh"))  return { "PingFang SC" };
    if (languageIdentifier.startsWith ("ja"))  return { "Arial Unicode MS" };
   #else
    // Hei (sans-serif) faces that draw Latin as well: JUCE has no per-glyph
    // fallback, so the product name and credits come from the same face.
    // Droid Sans Fallback has no Latin at all; it only keeps the language's own
    // script readable where nothing better is installed.
    if (languageIdentifier.startsWith ("zh"))  return { "Noto Sans CJK SC", "WenQuanYi Micro Hei", "Droid Sans Fallback" };
    if (languageIdentifier.startsWith ("ja"))  return { "Noto Sans CJK JP", "IPAPGothic", "Droid Sans Fallback" };
   #endif

    return {};
}

#if JUCE_LINUX || JUCE_BSD
juce::Typeface::Ptr loadTypeface (const juce::String& languageIdentifier)
{
    for (const auto& family : getTypefaceCandidates (languageIdentifier))
        if (auto face = InstalledFace::load (family))
            return face;

    return nullptr;
}
#endif

void applyDefaultTypeface()
{
    const auto language = getPreferredLanguage();
    const auto candidates = getTypefaceCandidates (language);

    // Most users need no face, and so no look at the installed fonts.
    if (candidates.isEmpty())
        return;

    auto& lookAndFeel = juce::Desktop::getInstance().getDefaultLookAndFeel();

   #if JUCE_LINUX || JUCE_BSD
    // A CJK face is megabytes: load it once, not for every editor.
    if (candidates.contains (lookAndFeel.getTypefaceForFont (juce::Font())->getName()))
        return;

    if (auto face = loadTypeface (language))
        lookAndFeel.setDefaultSansSerifTypeface (face);
   #else
    lookAndFeel.setDefaultSansSerifTypefaceName (candidates[0]);
   #endif
}

} // namespace UILanguage
