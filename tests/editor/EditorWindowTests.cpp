// These tests need a real X server: ctest runs them under xvfb-run.

#include "PanelReading.h"

#include <gtest/gtest.h>

namespace
{
    const juce::File screenshots { VOBREL_SCREENSHOT_DIR };

    /** Grabs the whole X screen with ImageMagick, as a person would see it. */
    juce::Image grabScreen()
    {
        screenshots.createDirectory();
        const auto file = screenshots.getChildFile ("screen.png");
        file.deleteFile();

        juce::ChildProcess import;

        if (! import.start (juce::StringArray { "import", "-window", "root", file.getFullPathName() })
             || ! import.waitForProcessToFinish (20000) || import.getExitCode() != 0)
            return {};

        return juce::ImageFileFormat::loadFrom (file);
    }

    class EditorWindowTest : public ::testing::Test
    {
    protected:
        ~EditorWindowTest() override      { close(); }

        void close()    { closeEditor (processor, editor); }

        VobrelAudioProcessorEditor& openOnDesktop()
        {
            close();
            editor = openEditor (processor);
            editor->setTopLeftPosition (40, 60);
            editor->addToDesktop (0);
            editor->setVisible (true);
            return *editor;
        }

        /** The panel's area of a screen grab, also saved as a PNG for people to look at. */
        juce::Image grabPanel (const juce::String& name)
        {
            const auto screen = grabScreen();

            if (! screen.isValid())
                return {};

            const auto panel = screen.getClippedImage (editor->getScreenBounds()).createCopy();
            juce::FileOutputStream out (screenshots.getChildFile ("panel-" + name + ".png"));

            if (out.openedOk())
            {
                out.setPosition (0);
                out.truncate();
                juce::PNGImageFormat().writeImageToStream (panel, out);
            }

            return panel;
        }

        /** Runs the message loop until the next composition has been delivered. */
        bool deliverUpdate()
        {
            return pumpUntil ([this] { return ! editor->isUpdatePending(); }, 2000);
        }

        VobrelAudioProcessor processor;
        std::unique_ptr<VobrelAudioProcessorEditor> editor;
    };
}

//==============================================================================
TEST_F (EditorWindowTest, ScreenFollowsTheEngine)
{
    auto& e = openOnDesktop();
    ASSERT_TRUE (pumpUntil ([&] { return e.isShowing(); }, 5000));
    ASSERT_EQ (e.getScreenBounds(), juce::Rectangle<int> (40, 60, 850, 156));

    struct Step
    {
        const char* name;
        std::function<void (VobrelAudioProcessor&)> change;
        std::function<void (PanelLooks&)> expect;
    };

    const Step steps[]
    {
        { "fresh", [] (auto&) {}, [] (auto&) {} },
        { "armed-sidechain-take-b",
          [] (auto& p) { p.recordArmed = true; p.useSidechainInput = true; p.slotHasData[1] = true; },
          [] (auto& l) { l.record = l.sidechain = Look::lit; l.slots[1] = Look::holdsTake; } },
        { "slot-b-selected-playing",
          [] (auto& p) { p.recordArmed = false; p.currentSlot = 1; p.playActive = true; },
          [] (auto& l) { l.record = Look::unlit; l.play = Look::lit; l.slots = { Look::unlit, Look::selected, Look::unlit, Look::unlit }; } },
        { "power-off",
          [] (auto& p) { p.powerOn = false; },
          [] (auto& l) { l = PanelLooks(); } }
    };

    auto expected = PanelLooks::fresh();

    for (const auto& step : steps)
    {
        SCOPED_TRACE (step.name);
        step.change (processor);
        step.expect (expected);

        // Two 50 ms ticks and the paint that follows, unless the machine is busy:
        // how soon is the refresh's own business, checked without a screen.
        PanelLooks seen;

        for (int attempt = 0; attempt < 25; ++attempt)
        {
            pump (120);
            const auto panel = grabPanel (step.name);
            ASSERT_TRUE (panel.isValid()) << "import -window root failed";
            seen = readPanel (panel);

            if (seen == expected)
                break;
        }

        EXPECT_EQ (seen, expected);
    }
}

TEST_F (EditorWindowTest, AtMostOneCompositionIsPending)
{
    processor.playPaused = true;
    auto& e = openOnDesktop();                     // composition 1 of the dark phase
    e.stopTimer();                                 // ticks by hand from here
    ASSERT_TRUE (pumpUntil ([&] { return e.isShowing(); }, 5000));

    for (int i = 0; i < 10; ++i)
        e.timerCallback();

    EXPECT_TRUE (e.isUpdatePending());
    ASSERT_TRUE (deliverUpdate());

    // Ten ticks made one composition: the lamp turns on at the seventh, not before.
    auto playLamp = [&] { return readPanel (EditorTestAccess::panel (e)).play; };
    EXPECT_EQ (playLamp(), Look::unlit);           // 2

    for (int composition = 3; composition <= 6; ++composition)
    {
        e.timerCallback();
        ASSERT_TRUE (deliverUpdate());
        EXPECT_EQ (playLamp(), Look::unlit) << composition;
    }

    e.timerCallback();
    ASSERT_TRUE (deliverUpdate());
    EXPECT_EQ (playLamp(), Look::lit);             // 7
}

TEST_F (EditorWindowTest, OpeningAndClosingTwoHundredTimesLeavesNothingBehind)
{
    processor.playPaused = true;

    for (int i = 0; i < 200; ++i)
    {
        auto& e = openOnDesktop();

        // Close with a composition pending, and every tenth time after live ticks.
        if (i % 10 == 0)
            pump (60);

        e.timerCallback();
        ASSERT_TRUE (e.isShowing()) << i;
        ASSERT_TRUE (e.isUpdatePending()) << i;

        close();
        ASSERT_EQ (processor.getActiveEditor(), nullptr);
    }

    // Anything left behind would fire into freed editors here.
    pump (300);

    // And the processor still makes working editors.
    auto& e = openOnDesktop();
    EXPECT_TRUE (pumpUntil ([&] { return e.isShowing(); }, 5000));
}
