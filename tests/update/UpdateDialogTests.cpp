// The update prompt and the About box on a real X server, clicked and keyed
// through it; ctest runs each test under its own xvfb-run.

#include "../editor/GlyphCheck.h"
#include "DialogDriver.h"
#include "UpdateTesting.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

namespace
{
    using Answer = DialogDriver::Answer;

    const juce::File screenshots { VOBREL_SCREENSHOT_DIR };

    /** Sets LANGUAGE alone for one test (nothing at all for an empty name),
        and puts the locale variables back afterwards. */
    class Language
    {
    public:
        explicit Language (const char* language)
        {
            for (auto* name : names)
                if (auto* value = std::getenv (name))
                    saved.set (name, value);

            for (auto* name : names)
                ::unsetenv (name);

            if (*language != 0)
                ::setenv ("LANGUAGE", language, 1);
        }

        ~Language()
        {
            for (auto* name : names)
            {
                if (saved.containsKey (name))
                    ::setenv (name, saved[name].toRawUTF8(), 1);
                else
                    ::unsetenv (name);
            }
        }

    private:
        static constexpr const char* names[] { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" };
        juce::StringPairArray saved;
    };

    /** Grabs the whole X screen with ImageMagick, as a person would see it. */
    juce::Image grabScreen (const juce::String& name)
    {
        screenshots.createDirectory();
        const auto file = screenshots.getChildFile (name + ".png");
        file.deleteFile();

        juce::ChildProcess import;

        if (! import.start (juce::StringArray { "import", "-window", "root", file.getFullPathName() }, 0)
             || ! import.waitForProcessToFinish (20000) || import.getExitCode() != 0)
            return {};

        return juce::ImageFileFormat::loadFrom (file);
    }

    void save (const juce::Image& image, const juce::String& name)
    {
        const auto file = screenshots.getChildFile (name + ".png");
        file.deleteFile();
        juce::FileOutputStream out (file);

        if (out.openedOk())
            juce::PNGImageFormat().writeImageToStream (image, out);
    }

    //==============================================================================
    class DialogTest : public ::testing::Test
    {
    protected:
        /** An editor on the desktop, asking a server that answers status. */
        VobrelAudioProcessorEditor& openOnDesktop (const juce::String& status)
        {
            server = std::make_unique<TestServer> (juce::StringArray { "--status", status });
            EXPECT_TRUE (server->isRunning()) << server->getStartError();

            editor = std::make_unique<VobrelAudioProcessorEditor> (processor, server->getBaseUrl());
            UpdateTestAccess::replaceBrowser (*editor, [this] (const juce::URL& page) { opened.add (page.toString (true)); });

            editor->setTopLeftPosition (40, 60);
            editor->addToDesktop (0);
            editor->setVisible (true);

            EXPECT_TRUE (pumpUntil ([this] { return editor->isShowing() && isViewableOnX (*editor); }, 5000));
            EXPECT_TRUE (waitForCheck (*editor));
            return *editor;
        }

        /** Waits (bounded) for the timer to show the badge. */
        bool waitForBadge()
        {
            return pumpUntil ([this] { return UpdateTestAccess::badge (*editor).isVisible(); }, 2000);
        }

        /** Clicks at a point of the panel through the X server and answers
            the dialogs that follow; returns what was seen. */
        std::vector<DialogDriver::Seen> clickAndAnswer (juce::Point<int> inPanel, std::vector<Answer> answers,
                                                       std::function<void (juce::AlertWindow&, int)> onShown = {})
        {
            DialogDriver driver (std::move (answers));
            driver.onShown = std::move (onShown);
            driver.settleMs = (driver.onShown != nullptr ? 300 : 0);

            EXPECT_TRUE (clickOnScreen (editor->localPointToGlobal (inPanel)));
            EXPECT_TRUE (pumpUntil ([&] { return driver.isDone(); }, 30000));
            EXPECT_TRUE (driver.getProblems().isEmpty()) << driver.getProblems().joinIntoString ("; ");

            return driver.getSeen();
        }

        static juce::Point<int> logoPoint()      { return { 720, 24 }; }    // clear of the badge
        static juce::Point<int> badgePoint()     { return { 802, 18 }; }
        static juce::Point<int> sharedPoint()    { return { 797, 15 }; }    // logo and badge overlap

        VobrelAudioProcessor processor;
        std::unique_ptr<TestServer> server;
        std::unique_ptr<VobrelAudioProcessorEditor> editor;
        juce::StringArray opened;
    };

    bool isAboutBox (const DialogDriver::Seen& d)       { return d.buttons == juce::StringArray { "  OK  " }; }
    bool isUpdatePrompt (const DialogDriver::Seen& d)   { return d.buttons.size() == 2; }

    //==============================================================================
    /** Raw UTF-8, no framework types: gtest keeps the values past JUCE's leak check. */
    struct ExpectedTexts
    {
        const char* language;
        const char* promptTitle;
        const char* promptMessage;
        const char* yes;
        const char* no;
        const char* aboutTitle;
        std::array<const char*, 4> labels;
    };

    ExpectedTexts english (const char* language)
    {
        return { language, "New Vobrel is released", "Do you want to get the new version ? ",
                 "Yes, open the webpage", "No, check later", "About Vobrel",
                 { "Sound design : ", "UI Design : ", "Development : ", "Distribute : " } };
    }

    ExpectedTexts japanese (const char* language)
    {
        return { language, "新しいバージョンのVobrelがリリースされています",
                 "Webサイトから新しいバージョンを入手しますか？ ", "はい", "いいえ", "Vobrelについて",
                 { "サウンドデザイン : ", "UIデザイン : ", "開発 : ", "販売 : " } };
    }

    ExpectedTexts chinese (const char* language)
    {
        return { language, "新Vobrel发布", "你想获得新版本吗？", "是的", "没有", "关于Vobrel",
                 { "声音设计 : ", "UI设计 : ", "发展 : ", "销售 : " } };
    }

    void PrintTo (const ExpectedTexts& t, std::ostream* out)     { *out << "LANGUAGE=" << t.language; }

    juce::String u (const char* text)     { return juce::String::fromUTF8 (text); }

    juce::String expectedAboutMessage (const ExpectedTexts& t)
    {
        const char* const names[] { MakerInfo::soundDesign, MakerInfo::uiDesign,
                                    MakerInfo::development, MakerInfo::distribution };
        juce::String message ("Version:1.0.2\n\n");

        for (int i = 0; i < 4; ++i)
            message << u (t.labels[(size_t) i]) << names[i] << "\n";

        return message + "\n" + MakerInfo::copyrightLine;
    }

    std::string languageName (const ::testing::TestParamInfo<ExpectedTexts>& p)
    {
        return *p.param.language == 0 ? "Unset" : p.param.language;
    }
}

//==============================================================================
TEST_F (DialogTest, LogoWithNoUpdateKnownShowsOnlyTheAboutBox)
{
    const Language language ("en_GB");
    auto& e = openOnDesktop ("204");
    ASSERT_FALSE (UpdateTestAccess::newVersionAvailable (e));
    ASSERT_FALSE (UpdateTestAccess::badge (e).isVisible());

    // The logo, and the corner that the hidden badge would cover.
    for (auto point : { logoPoint(), sharedPoint() })
    {
        const auto seen = clickAndAnswer (point, { Answer::firstButton });
        ASSERT_EQ (seen.size(), 1u);
        EXPECT_TRUE (isAboutBox (seen[0]));
        EXPECT_EQ (seen[0].title, "About Vobrel");
    }

    EXPECT_TRUE (opened.isEmpty());
}

TEST_F (DialogTest, BadgeOffersTheWebPageUntilTheUserSaysYes)
{
    const Language language ("en_GB");
    auto& e = openOnDesktop ("202");
    ASSERT_TRUE (waitForBadge());

    // Escape: nothing opens, the About box follows.
    auto seen = clickAndAnswer (badgePoint(), { Answer::escapeKey, Answer::firstButton });
    ASSERT_EQ (seen.size(), 2u);
    EXPECT_TRUE (isUpdatePrompt (seen[0]));
    EXPECT_TRUE (isAboutBox (seen[1]));
    EXPECT_TRUE (opened.isEmpty());

    // The question comes again; "No, check later" opens nothing either.
    seen = clickAndAnswer (badgePoint(), { Answer::secondButton, Answer::returnKey });
    ASSERT_EQ (seen.size(), 2u);
    EXPECT_TRUE (isUpdatePrompt (seen[0]));
    EXPECT_TRUE (isAboutBox (seen[1]));
    EXPECT_TRUE (opened.isEmpty());

    EXPECT_TRUE (UpdateTestAccess::newVersionAvailable (e));
    pump (2 * VobrelAudioProcessorEditor::refreshIntervalMs);
    EXPECT_TRUE (UpdateTestAccess::badge (e).isVisible());

    // The logo asks too while an update is known; "Yes" opens the maker's page once.
    seen = clickAndAnswer (logoPoint(), { Answer::firstButton, Answer::firstButton });
    ASSERT_EQ (seen.size(), 2u);
    EXPECT_TRUE (isUpdatePrompt (seen[0]));
    EXPECT_TRUE (isAboutBox (seen[1]));
    EXPECT_EQ (opened, juce::StringArray { MakerInfo::webPage });

    // And still asks after a yes.
    seen = clickAndAnswer (badgePoint(), { Answer::secondButton, Answer::firstButton });
    ASSERT_EQ (seen.size(), 2u);
    EXPECT_TRUE (isUpdatePrompt (seen[0]));
    EXPECT_EQ (opened.size(), 1);
}

TEST_F (DialogTest, ClosingTheViewWhileThePromptIsOpenOpensNothing)
{
    const Language language ("en_GB");
    openOnDesktop ("202");
    ASSERT_TRUE (waitForBadge());

    // The host closes the view under the open prompt; then the user says yes.
    const auto seen = clickAndAnswer (badgePoint(), { Answer::firstButton },
                                      [this] (juce::AlertWindow&, int) { editor.reset(); });
    ASSERT_EQ (seen.size(), 1u);
    EXPECT_TRUE (isUpdatePrompt (seen[0]));
    EXPECT_TRUE (opened.isEmpty());
    EXPECT_EQ (editor, nullptr);
}

TEST_F (DialogTest, ScreenshotOfThePanelWithTheBadge)
{
    auto& e = openOnDesktop ("202");
    ASSERT_TRUE (waitForBadge());
    pump (4 * VobrelAudioProcessorEditor::refreshIntervalMs);   // painted and on screen

    const auto screen = grabScreen ("screen-with-badge");
    ASSERT_TRUE (screen.isValid()) << "import -window root failed";

    const auto panel = screen.getClippedImage (e.getScreenBounds()).createCopy();
    save (panel, "panel-with-badge");
    ASSERT_EQ (panel.getBounds(), juce::Rectangle<int> (0, 0, 850, 156));

    // The badge at (790, 6): red disc, white bar and dot on its centre line.
    auto at = [&] (int x, int y) { return panel.getPixelAt (790 + x, 6 + y); };
    EXPECT_EQ (at (12, 1),  juce::Colours::red) << "disc top";
    EXPECT_EQ (at (1, 12),  juce::Colours::red) << "disc left";
    EXPECT_EQ (at (22, 12), juce::Colours::red) << "disc right";
    EXPECT_EQ (at (12, 22), juce::Colours::red) << "disc bottom";
    EXPECT_EQ (at (12, 8),  juce::Colours::white) << "bar";
    EXPECT_EQ (at (12, 19), juce::Colours::white) << "dot";
    EXPECT_EQ (at (12, 15), juce::Colours::red) << "between bar and dot";
    EXPECT_NE (at (0, 0),   juce::Colours::red) << "corner shows the panel";
}

//==============================================================================
class DialogTextTest : public DialogTest,
                       public ::testing::WithParamInterface<ExpectedTexts> {};

TEST_P (DialogTextTest, PromptAndAboutBoxSpeakTheLanguage)
{
    const auto& expected = GetParam();
    const Language language (expected.language);
    const auto name = juce::String ("dialogs-") + languageName ({ expected, 0 });

    openOnDesktop ("202");
    ASSERT_TRUE (waitForBadge());

    const auto seen = clickAndAnswer (badgePoint(), { Answer::secondButton, Answer::firstButton },
                                      [&] (juce::AlertWindow&, int index)
                                      {
                                          grabScreen (name + (index == 0 ? "-prompt" : "-about"));
                                      });
    ASSERT_EQ (seen.size(), 2u);

    const auto& prompt = seen[0];
    EXPECT_EQ (prompt.title, u (expected.promptTitle));
    EXPECT_EQ (prompt.message, u (expected.promptMessage));
    EXPECT_EQ (prompt.buttons, juce::StringArray (u (expected.yes), u (expected.no)));
    EXPECT_EQ (prompt.icon, juce::MessageBoxIconType::WarningIcon);

    const auto& about = seen[1];
    EXPECT_EQ (about.title, u (expected.aboutTitle));
    EXPECT_EQ (about.message, expectedAboutMessage (expected));
    EXPECT_EQ (about.buttons, juce::StringArray { "  OK  " });
    EXPECT_EQ (about.icon, juce::MessageBoxIconType::NoIcon);

    EXPECT_TRUE (opened.isEmpty());

    // Every character of both, the warning icon's "!" included, in the face
    // that the editor chose: no box, and no two characters alike.
    juce::String shown ("!");

    for (const auto& dialog : seen)
        shown << dialog.title << dialog.message << dialog.buttons.joinIntoString ({});

    const auto face = juce::Desktop::getInstance().getDefaultLookAndFeel().getTypefaceForFont (juce::Font (14.0f));
    EXPECT_EQ (findGlyphFaults (face, shown).joinIntoString ("; "), "") << face->getName();
}

INSTANTIATE_TEST_SUITE_P (Languages, DialogTextTest,
                          ::testing::Values (japanese ("ja_JP"), chinese ("zh_TW"), english ("en_GB"),
                                             english ("fr"), english ("")),
                          languageName);
