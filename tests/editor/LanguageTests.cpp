#include "GlyphCheck.h"
#include "PanelReading.h"
#include "editor/InstalledFace.h"
#include "editor/UILanguage.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
    /** Sets the locale variables for one test and puts the old ones back. */
    class LocaleEnvironment
    {
    public:
        LocaleEnvironment (const char* language, const char* lcAll, const char* lcMessages, const char* lang)
        {
            for (auto* name : names)
                if (auto* value = std::getenv (name))
                    saved.set (name, value);

            set ("LANGUAGE", language);
            set ("LC_ALL", lcAll);
            set ("LC_MESSAGES", lcMessages);
            set ("LANG", lang);
        }

        ~LocaleEnvironment()
        {
            for (auto* name : names)
                set (name, saved.containsKey (name) ? saved[name].toRawUTF8() : nullptr);
        }

    private:
        static void set (const char* name, const char* value)
        {
            if (value != nullptr)
                ::setenv (name, value, 1);
            else
                ::unsetenv (name);
        }

        static constexpr const char* names[] { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" };
        juce::StringPairArray saved;
    };

    struct EditorScope
    {
        explicit EditorScope (VobrelAudioProcessor& p) : processor (p), editor (openEditor (p)) {}
        ~EditorScope()      { closeEditor (processor, editor); }

        VobrelAudioProcessor& processor;
        std::unique_ptr<VobrelAudioProcessorEditor> editor;
    };

    /** The face that the default look-and-feel draws ordinary text with. */
    juce::String defaultFaceName()
    {
        return juce::Desktop::getInstance().getDefaultLookAndFeel().getTypefaceForFont (juce::Font (14.0f))->getName();
    }

    /** Back to the framework's own default face. */
    void resetDefaultFace()
    {
        auto& lookAndFeel = juce::Desktop::getInstance().getDefaultLookAndFeel();
        lookAndFeel.setDefaultSansSerifTypefaceName ({});
        lookAndFeel.setDefaultSansSerifTypeface (nullptr);
    }

    juce::String nameOf (const juce::Typeface::Ptr& face)
    {
        return face != nullptr ? face->getName() : "<none>";
    }
}

//==============================================================================
TEST (UILanguage, LocaleVariablesGiveTheFirstPreferredLanguage)
{
    struct Case { const char* language; const char* lcAll; const char* lcMessages; const char* lang; const char* expected; };

    const Case cases[]
    {
        { "", "", "", "ja_JP.UTF-8", "ja-JP" },
        { "zh_TW:en_US:en", "", "", "en_US.UTF-8", "zh-TW" },
        { "", "", "", "en_GB.UTF-8", "en-GB" },
        { "", "", "", "fr", "fr" },
        { "", "", "", "de_DE@euro", "de-DE" },
        { "", "", "", "C", "" },
        { "", "", "", "C.UTF-8", "" },
        { "", "", "", "POSIX", "" },
        { "", "", "", "", "" },
        { ":fr", "ja_JP.UTF-8", "", "en_GB", "ja-JP" },      // LANGUAGE's first item is empty
        { "", "C", "", "ja_JP.UTF-8", "" },                  // LC_ALL wins over LANG
        { "", "", "zh_CN.GB2312", "en_GB.UTF-8", "zh-CN" }   // so does LC_MESSAGES
    };

    for (const auto& c : cases)
        EXPECT_EQ (UILanguage::fromLocaleVariables (c.language, c.lcAll, c.lcMessages, c.lang), c.expected)
            << c.language << " | " << c.lcAll << " | " << c.lcMessages << " | " << c.lang;
}

TEST (UILanguage, PreferredLanguageReadsTheEnvironment)
{
    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, "ja_JP.UTF-8");
        EXPECT_EQ (UILanguage::getPreferredLanguage(), "ja-JP");
    }
    {
        LocaleEnvironment env ("zh_TW:en", nullptr, nullptr, "en_GB.UTF-8");
        EXPECT_EQ (UILanguage::getPreferredLanguage(), "zh-TW");
    }
    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ (UILanguage::getPreferredLanguage(), "");
    }
}

TEST (UILanguage, TextsTestJapaneseThenChineseCaseIncluded)
{
    using UILanguage::Texts;

    EXPECT_EQ (UILanguage::getTexts ("ja-JP"), Texts::japanese);
    EXPECT_EQ (UILanguage::getTexts ("zh-Hant-TW"), Texts::simplifiedChinese);
    EXPECT_EQ (UILanguage::getTexts ("zh-CN"), Texts::simplifiedChinese);

    for (auto* other : { "en-GB", "fr-FR", "de", "", "JA-JP", "Zh-CN", "j" })
        EXPECT_EQ (UILanguage::getTexts (other), Texts::english) << other;
}

TEST (UILanguage, ChineseAndJapaneseGetAHeiFaceFromTheNotoCollection)
{
    // Both live in a .ttc, which JUCE's own font list cannot load.
    EXPECT_EQ (nameOf (UILanguage::loadTypeface ("zh-Hans-CN")), "Noto Sans CJK SC") << "scripts/setup installs fonts-noto-cjk";
    EXPECT_EQ (nameOf (UILanguage::loadTypeface ("zh-TW")), "Noto Sans CJK SC");
    EXPECT_EQ (nameOf (UILanguage::loadTypeface ("ja-JP")), "Noto Sans CJK JP");

    for (auto* other : { "en-GB", "fr", "", "ZH-cn", "JA" })
        EXPECT_EQ (UILanguage::loadTypeface (other), nullptr) << other;
}

TEST (UILanguage, ChosenFacesDrawTheirScriptAndLatinWithGlyphsOfTheirOwn)
{
    // The product name and the credits are Latin: without per-glyph fallback,
    // the same face must draw them.
    for (auto [language, sample] : { std::pair { "zh-CN", "\u65b0\u7248Vobrel 1.0.2 !?:" },          // 新版
                                     std::pair { "ja-JP", "\u3042\u30d0Vobrel 1.0.2 !?:\uff1f" } })  // あバ？
    {
        const auto face = UILanguage::loadTypeface (language);
        ASSERT_NE (face, nullptr) << language;
        EXPECT_EQ (findGlyphFaults (face, juce::String (juce::CharPointer_UTF8 (sample))).joinIntoString ("; "), "") << language;
    }
}

TEST (InstalledFace, DamagedFontFilesGiveNoFace)
{
    const auto location = InstalledFace::find ("Noto Sans CJK SC");
    ASSERT_TRUE (location.file.existsAsFile());
    juce::MemoryBlock collection;
    ASSERT_TRUE (location.file.loadFileAsData (collection));

    auto extract = [] (const juce::MemoryBlock& data, int index)
    {
        juce::MemoryInputStream in (data, false);
        return InstalledFace::extractFace (in, index);
    };

    EXPECT_GT (extract (collection, location.index).getSize(), 1000000u);
    EXPECT_TRUE (extract (collection, -1).isEmpty());
    EXPECT_TRUE (extract (collection, 1000).isEmpty());

    // Cut short anywhere: in the header, in a table directory, or in the tables.
    for (size_t size : { (size_t) 0, (size_t) 3, (size_t) 13, (size_t) 300, (size_t) 600, collection.getSize() / 2 })
        EXPECT_TRUE (extract (juce::MemoryBlock (collection.getData(), size), location.index).isEmpty()) << size;

    // A face count far beyond the data, and a table directory that runs on
    // into other faces' directories and tables.
    auto damaged = collection;
    damaged[8] = (char) 0x7f;
    EXPECT_TRUE (extract (damaged, 0x7f000000).isEmpty());

    damaged = collection;
    const auto firstDirectory = (size_t) juce::ByteOrder::bigEndianInt (collection.begin() + 12);
    damaged[firstDirectory + 4] = (char) 0xff;
    damaged[firstDirectory + 5] = (char) 0xff;
    EXPECT_TRUE (extract (damaged, 0).isEmpty());
}

TEST (UILanguage, EditorSetsTheDefaultFaceForJapaneseButNotForEnglish)
{
    VobrelAudioProcessor processor;
    resetDefaultFace();
    const auto frameworkDefault = defaultFaceName();

    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, "en_GB.UTF-8");
        EditorScope editor (processor);
        EXPECT_EQ (defaultFaceName(), frameworkDefault);
    }
    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, "ja_JP.UTF-8");
        EditorScope editor (processor);
        EXPECT_EQ (defaultFaceName(), "Noto Sans CJK JP");
    }
    {
        // Nothing undoes it: a later English editor leaves the face as it is.
        LocaleEnvironment env (nullptr, nullptr, nullptr, "en_GB.UTF-8");
        EditorScope editor (processor);
        EXPECT_EQ (defaultFaceName(), "Noto Sans CJK JP");
    }

    resetDefaultFace();
}
