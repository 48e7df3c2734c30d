#include "PanelReading.h"
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

    /** One character drawn in a face, or a null image when nothing was drawn. */
    juce::Image glyph (const juce::String& face, juce::juce_wchar character)
    {
        juce::Image image (juce::Image::ARGB, 40, 40, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::black);
        g.setFont (juce::Font (face, 30.0f, juce::Font::plain));
        g.drawSingleLineText (juce::String::charToString (character), 5, 32);

        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);

        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                if (pixels.getPixelColour (x, y).getAlpha() > 0)
                    return image;

        return {};
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

TEST (UILanguage, TypefaceIsAnInstalledFaceForChineseAndJapaneseOnly)
{
    const juce::StringArray fallbacksOnly { "DejaVu Sans", "Droid Sans Fallback", "IPAGothic" };
    EXPECT_EQ (UILanguage::chooseTypeface ("zh-Hans-CN", fallbacksOnly), "Droid Sans Fallback");
    EXPECT_EQ (UILanguage::chooseTypeface ("ja-JP", fallbacksOnly), "IPAGothic");

    const juce::StringArray withNoto { "Noto Sans CJK JP", "Noto Sans CJK SC", "IPAGothic", "Droid Sans Fallback" };
    EXPECT_EQ (UILanguage::chooseTypeface ("zh-TW", withNoto), "Noto Sans CJK SC");
    EXPECT_EQ (UILanguage::chooseTypeface ("ja", withNoto), "Noto Sans CJK JP");

    for (auto* other : { "en-GB", "fr", "", "ZH-cn", "JA" })
        EXPECT_EQ (UILanguage::chooseTypeface (other, withNoto), "") << other;

    EXPECT_EQ (UILanguage::chooseTypeface ("ja-JP", { "DejaVu Sans" }), "");
}

TEST (UILanguage, ChosenFacesOnThisSystemDrawTheirScripts)
{
    const auto installed = juce::Font::findAllTypefaceNames();

    // Distinct glyphs, not one missing-glyph box drawn twice.
    for (auto [language, first, second] : { std::tuple { "zh-CN", 0x65b0, 0x7248 },     // 新 版
                                            std::tuple { "ja-JP", 0x3042, 0x30d0 } })   // あ バ
    {
        const auto face = UILanguage::chooseTypeface (language, installed);
        ASSERT_TRUE (face.isNotEmpty()) << language << ": no CJK face that JUCE can load (scripts/setup installs them)";

        const auto a = glyph (face, (juce::juce_wchar) first), b = glyph (face, (juce::juce_wchar) second);
        ASSERT_TRUE (a.isValid() && b.isValid()) << face;
        EXPECT_FALSE (samePixels (a, b)) << face;
    }
}

TEST (UILanguage, EditorSetsTheDefaultFaceForJapaneseButNotForEnglish)
{
    VobrelAudioProcessor processor;
    auto& lookAndFeel = juce::Desktop::getInstance().getDefaultLookAndFeel();
    lookAndFeel.setDefaultSansSerifTypefaceName ({});
    const auto frameworkDefault = defaultFaceName();

    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, "en_GB.UTF-8");
        EditorScope editor (processor);
        EXPECT_EQ (defaultFaceName(), frameworkDefault);
    }
    {
        LocaleEnvironment env (nullptr, nullptr, nullptr, "ja_JP.UTF-8");
        EditorScope editor (processor);
        const auto expected = UILanguage::chooseTypeface ("ja-JP", juce::Font::findAllTypefaceNames());
        ASSERT_TRUE (expected.isNotEmpty());
        EXPECT_EQ (defaultFaceName(), expected);
    }
    {
        // Nothing undoes it: a later English editor leaves the face as it is.
        LocaleEnvironment env (nullptr, nullptr, nullptr, "en_GB.UTF-8");
        EditorScope editor (processor);
        EXPECT_NE (defaultFaceName(), frameworkDefault);
    }

    lookAndFeel.setDefaultSansSerifTypefaceName ({});
}
