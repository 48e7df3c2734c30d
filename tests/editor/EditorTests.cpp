#include "PanelReading.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
    class EditorTest : public ::testing::Test
    {
    protected:
        ~EditorTest() override      { close(); }

        VobrelAudioProcessorEditor& open()
        {
            close();
            editor = openEditor (processor);
            return *editor;
        }

        void close()    { closeEditor (processor, editor); }

        /** One composition, as the posted update runs it. */
        PanelLooks compose()
        {
            editor->handleAsyncUpdate();
            return shown();
        }

        PanelLooks shown() const            { return readPanel (EditorTestAccess::panel (*editor)); }
        juce::ImageButton& key (Key k)      { return button (*editor, k); }

        /** The play lamp over the next n compositions, e.g. "..##" for dark, dark, lit, lit. */
        std::string playLamp (int n)
        {
            std::string seen;

            for (int i = 0; i < n; ++i)
                seen += compose().play == Look::lit ? '#' : '.';

            return seen;
        }

        VobrelAudioProcessor processor;
        std::unique_ptr<VobrelAudioProcessorEditor> editor;
    };

    juce::Image artwork (const char* data, int size)   { return juce::ImageCache::getFromMemory (data, size); }

    juce::Image snapshot (juce::Component& c)          { return c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f); }
}

//==============================================================================
TEST_F (EditorTest, ProcessorCreatesAFixedPanelWithTwelveButtons)
{
    ASSERT_TRUE (processor.hasEditor());
    auto& e = open();

    {
        // What a host gets: the same panel, registered as the active editor.
        VobrelAudioProcessor hosted;
        std::unique_ptr<juce::AudioProcessorEditor> made (hosted.createEditorIfNeeded());
        EXPECT_NE (dynamic_cast<VobrelAudioProcessorEditor*> (made.get()), nullptr);
        EXPECT_EQ (hosted.getActiveEditor(), made.get());
        hosted.editorBeingDeleted (made.get());
    }

    EXPECT_EQ (e.getWidth(), 850);
    EXPECT_EQ (e.getHeight(), 156);
    EXPECT_FALSE (e.isResizable());
    ASSERT_EQ (e.getNumChildComponents(), 12);

    const juce::MouseCursor pointingHand (juce::MouseCursor::PointingHandCursor);

    for (int i = 0; i < 12; ++i)
    {
        SCOPED_TRACE (i);
        auto& b = key ((Key) i);
        EXPECT_TRUE (b.getName().isEmpty());
        EXPECT_TRUE (b.getMouseCursor() == pointingHand);
        EXPECT_FALSE (b.getClickingTogglesState());
        EXPECT_EQ (b.getRadioGroupId(), 0);
        EXPECT_TRUE (b.getTooltip().isEmpty());
        EXPECT_EQ (b.isVisible(), (Key) i != Key::badge);
        EXPECT_EQ (b.getNormalImage().isValid(), (Key) i == Key::badge);
    }

    auto& badge = key (Key::badge);
    EXPECT_TRUE (badge.getToggleState());
    EXPECT_EQ (badge.getNormalImage().getBounds(), juce::Rectangle<int> (54, 55));
    EXPECT_NE (dynamic_cast<CustomLookAndFeel_NoticationBtn*> (&badge.getLookAndFeel()), nullptr);
}

TEST_F (EditorTest, ButtonsCoverTheirKeysAndOnlyLogoAndBadgeOverlap)
{
    auto& e = open();
    e.setVisible (true);   // hit tests need it; without a desktop it still is not showing

    const std::pair<Key, juce::Rectangle<int>> expected[]
    {
        { Key::power, { 59, 52, 59, 48 } },
        { Key::slotA, { 326, 52, 54, 55 } },      { Key::slotB, { 388, 52, 54, 55 } },
        { Key::slotC, { 451, 52, 54, 55 } },      { Key::slotD, { 513, 52, 54, 55 } },
        { Key::sidechain, { 161, 122, 55, 18 } }, { Key::deleteKey, { 224, 122, 55, 18 } },
        { Key::record, { 597, 52, 54, 55 } },     { Key::play, { 659, 52, 54, 55 } },
        { Key::stop, { 722, 52, 54, 55 } },       { Key::logo, { 684, 7, 121, 35 } },
        { Key::badge, { 790, 6, 24, 24 } }
    };

    for (const auto& [k, bounds] : expected)
        EXPECT_EQ (key (k).getBounds(), bounds) << (int) k;

    EXPECT_EQ (key (Key::power).getBounds().withZeroOrigin(),
               artwork (BinaryData::temp11, BinaryData::temp11Size).getBounds());

    for (int i = 0; i < 12; ++i)
    {
        const auto bounds = key ((Key) i).getBounds();
        EXPECT_TRUE (e.getLocalBounds().contains (bounds)) << i;

        for (int j = i + 1; j < 12; ++j)
        {
            const bool mayOverlap = i == (int) Key::logo && j == (int) Key::badge;
            EXPECT_TRUE (mayOverlap || ! bounds.intersects (key ((Key) j).getBounds())) << i << " overlaps " << j;
        }

        // Nothing in a control area is transparent to clicks.
        if ((Key) i != Key::badge)
        {
            for (auto corner : { bounds.getTopLeft(), bounds.getBottomRight() - juce::Point<int> (1, 1) })
                EXPECT_EQ (e.getComponentAt (corner), &key ((Key) i)) << i;
        }
    }

    // In the rectangle the two share, the badge takes the click only while it shows.
    const juce::Point<int> shared (797, 20);
    EXPECT_EQ (e.getComponentAt (shared), &key (Key::logo));
    key (Key::badge).setVisible (true);
    EXPECT_EQ (e.getComponentAt (shared), &key (Key::badge));
}

TEST_F (EditorTest, BadgeIsARedDiscWithAWhiteMarkInEveryState)
{
    open();
    auto& badge = key (Key::badge);
    badge.setVisible (true);

    const auto look = snapshot (badge);
    auto at = [&look] (int x, int y) { return look.getPixelAt (x, y); };

    EXPECT_EQ (at (12, 8),  juce::Colours::white);   // bar
    EXPECT_EQ (at (12, 15), juce::Colours::red);     // gap between bar and dot
    EXPECT_EQ (at (12, 19), juce::Colours::white);   // dot
    EXPECT_EQ (at (4, 12),  juce::Colours::red);

    for (auto corner : { juce::Point<int> (0, 0), { 23, 0 }, { 0, 23 }, { 23, 23 } })
        EXPECT_EQ (at (corner.x, corner.y).getAlpha(), 0) << corner.toString();

    for (auto edge : { juce::Point<int> (11, 0), { 23, 11 }, { 11, 23 }, { 0, 11 } })
        EXPECT_GT (at (edge.x, edge.y).getAlpha(), 0) << edge.toString();

    badge.setState (juce::Button::buttonOver);
    EXPECT_TRUE (samePixels (snapshot (badge), look));
    badge.setState (juce::Button::buttonDown);
    EXPECT_TRUE (samePixels (snapshot (badge), look));
    badge.setToggleState (false, juce::dontSendNotification);
    EXPECT_TRUE (samePixels (snapshot (badge), look));
}

//==============================================================================
TEST_F (EditorTest, FreshInstanceShowsPowerAndSlotAOnly)
{
    open();
    EXPECT_EQ (shown(), PanelLooks::fresh());   // the constructor's own composition
    EXPECT_EQ (compose(), PanelLooks::fresh());
}

TEST_F (EditorTest, PowerOffShowsTheBareBaseArt)
{
    processor.useSidechainInput = true;
    processor.recordArmed = true;
    processor.playActive = true;
    processor.slotHasData[1] = true;
    open();

    key (Key::deleteKey).setState (juce::Button::buttonDown);
    key (Key::stop).setState (juce::Button::buttonDown);
    processor.powerOn = false;
    compose();

    EXPECT_TRUE (samePixels (EditorTestAccess::panel (*editor), baseArt()));
}

TEST_F (EditorTest, PowerOffNeitherAdvancesNorResetsTheBlink)
{
    processor.playPaused = true;
    open();                                       // composition 1 of the dark phase
    EXPECT_EQ (playLamp (2), "..");               // 2 and 3

    processor.powerOn = false;
    playLamp (10);
    processor.powerOn = true;

    EXPECT_EQ (playLamp (4), "...#");             // 4, 5, 6 dark; then lit
}

TEST_F (EditorTest, SlotKeysShowSelectionOverTakes)
{
    processor.slotHasData[0] = true;
    processor.slotHasData[2] = true;
    processor.currentSlot = 2;
    open();

    auto expected = PanelLooks::fresh();
    expected.slots = { Look::holdsTake, Look::unlit, Look::selected, Look::unlit };
    EXPECT_EQ (compose(), expected);

    // Out of range: no slot looks selected, the takes still show.
    processor.currentSlot = 7;
    expected.slots = { Look::holdsTake, Look::unlit, Look::holdsTake, Look::unlit };
    EXPECT_EQ (compose(), expected);
}

TEST_F (EditorTest, SwitchLampsAndHeldKeysLight)
{
    open();
    processor.useSidechainInput = true;
    processor.recordArmed = true;
    key (Key::deleteKey).setState (juce::Button::buttonDown);

    auto expected = PanelLooks::fresh();
    expected.sidechain = expected.record = expected.deleteKey = Look::lit;
    EXPECT_EQ (compose(), expected);

    // Held stop during steady playback: both lamps.
    processor.useSidechainInput = false;
    processor.recordArmed = false;
    processor.playActive = true;
    key (Key::deleteKey).setState (juce::Button::buttonNormal);
    key (Key::stop).setState (juce::Button::buttonDown);

    expected = PanelLooks::fresh();
    expected.play = expected.stop = Look::lit;
    EXPECT_EQ (compose(), expected);

    key (Key::stop).setState (juce::Button::buttonNormal);
    expected.stop = Look::unlit;
    EXPECT_EQ (compose(), expected);
}

//==============================================================================
TEST_F (EditorTest, PausedPlayLampBlinksSixDarkSixLit)
{
    // With or without playActive, a pause blinks.
    for (bool active : { false, true })
    {
        processor.playActive = active;
        processor.playPaused = true;
        open();   // a new editor: its own composition is the first dark one

        EXPECT_EQ (playLamp (23), ".....######......######") << active;
        close();
    }
}

TEST_F (EditorTest, SteadyPlayResetsTheBlinkSoAPauseStartsDark)
{
    processor.playPaused = true;
    open();
    EXPECT_EQ (playLamp (8), ".....###");          // well into the lit phase

    processor.playPaused = false;
    processor.playActive = true;
    EXPECT_EQ (playLamp (2), "##");

    processor.playActive = false;
    processor.playPaused = true;
    EXPECT_EQ (playLamp (8), "......##");
}

TEST_F (EditorTest, HeldStopDuringPauseShowsThePhaseOnceThenDark)
{
    processor.playPaused = true;
    open();
    EXPECT_EQ (playLamp (7), ".....##");           // lit phase

    key (Key::stop).setState (juce::Button::buttonDown);
    auto looks = compose();
    EXPECT_EQ (looks.play, Look::lit);
    EXPECT_EQ (looks.stop, Look::lit);

    looks = compose();
    EXPECT_EQ (looks.play, Look::unlit);
    EXPECT_EQ (looks.stop, Look::lit);
    EXPECT_EQ (playLamp (3), "...");

    // Released: the blink starts over from dark.
    key (Key::stop).setState (juce::Button::buttonNormal);
    EXPECT_EQ (playLamp (7), "......#");
}

//==============================================================================
TEST_F (EditorTest, HiddenEditorComposesNothingButFollowsTheUpdateFlag)
{
    processor.playPaused = true;
    auto& e = open();
    ASSERT_FALSE (e.isShowing());

    processor.recordArmed = true;
    pump (300);                                   // about six ticks

    EXPECT_EQ (shown().record, Look::unlit);      // nothing composed
    EXPECT_FALSE (e.isUpdatePending());

    // Blink frozen after the constructor's composition: five more dark, then lit.
    EXPECT_EQ (playLamp (6), ".....#");

    EditorTestAccess::setNewVersionAvailable (e, true);
    EXPECT_TRUE (pumpUntil ([&] { return key (Key::badge).isVisible(); }, 1000));

    EditorTestAccess::setNewVersionAvailable (e, false);
    EXPECT_TRUE (pumpUntil ([&] { return ! key (Key::badge).isVisible(); }, 1000));
}

TEST_F (EditorTest, PaintBlitsTheComposedPanel)
{
    processor.recordArmed = true;
    auto& e = open();

    juce::Image screen (juce::Image::ARGB, 850, 156, true);
    {
        juce::Graphics g (screen);
        e.paint (g);
    }

    EXPECT_TRUE (samePixels (screen, EditorTestAccess::panel (e)));
    EXPECT_EQ (readPanel (screen).record, Look::lit);
}
