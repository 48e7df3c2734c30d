#include "PanelReading.h"
#include "../TestHost.h"

#include <gtest/gtest.h>

namespace
{
    enum class Situation { idle, armed, recording, playing, paused, powerOff };

    const char* nameOf (Situation s)
    {
        const char* names[] = { "idle", "armed", "recording", "playing", "paused", "power off" };
        return names[(int) s];
    }

    /** A host, its processor's editor, and clicks on the editor's keys. */
    struct Rig
    {
        Rig()     { editor = openEditor (host.processor()); }
        ~Rig()    { closeEditor (host.processor(), editor); }

        void click (Key k)                     { editor->buttonClicked (&button (*editor, k)); }
        VobrelAudioProcessor& proc()           { return host.processor(); }
        CDSP& dsp()                            { return host.recorder(); }

        juce::AudioBuffer<float> roll (juce::int64 time, int seed = 7)    { return host.block (makeSignal (2, 512, seed), {}, true, time); }
        juce::AudioBuffer<float> halt (juce::int64 time = 0, int seed = 7) { return host.block (makeSignal (2, 512, seed), {}, false, time); }

        /** Slot A holds a 1024-frame take recorded from host time 0; the host is stopped. */
        void recordTakeIntoA()
        {
            click (Key::record);
            roll (0, 1);
            roll (512, 2);
            halt();
            ASSERT_TRUE (proc().slotHasData[0]);
        }

        void enter (Situation s)
        {
            recordTakeIntoA();

            switch (s)
            {
                case Situation::idle:       break;
                case Situation::armed:      click (Key::record); break;
                case Situation::recording:  click (Key::record); roll (5000); break;
                case Situation::playing:    click (Key::play); halt(); break;
                case Situation::paused:     click (Key::play); halt(); click (Key::play); break;
                case Situation::powerOff:   click (Key::power); break;
            }

            ASSERT_EQ (s == Situation::recording, dsp().isRecording) << nameOf (s);
            ASSERT_EQ (s == Situation::playing || s == Situation::paused, dsp().playbackStarted) << nameOf (s);
        }

        TestHost host;
        std::unique_ptr<VobrelAudioProcessorEditor> editor;
    };

    class ControlActions : public ::testing::Test, protected Rig {};

    const Situation everySituation[] = { Situation::idle, Situation::armed, Situation::recording,
                                          Situation::playing, Situation::paused, Situation::powerOff };
}

//==============================================================================
TEST_F (ControlActions, SlotKeysSelectOnlyWhenIdleWithPowerOn)
{
    for (auto s : everySituation)
    {
        Rig t;
        t.enter (s);
        t.click (Key::slotC);
        EXPECT_EQ (t.proc().currentSlot, s == Situation::idle ? 2 : 0) << nameOf (s);
    }

    click (Key::slotD);
    click (Key::slotB);
    click (Key::slotB);   // the selected key again stores the same index
    EXPECT_EQ (proc().currentSlot, 1);
}

TEST_F (ControlActions, RecordOnlyArmsAndOnlyWhileNothingRuns)
{
    for (auto s : everySituation)
    {
        Rig t;
        t.enter (s);
        const bool wasArmed = t.proc().recordArmed;
        t.click (Key::record);

        // Ignored while playing (or recording, which is armed anyway); arms otherwise, power off included.
        const bool expectArmed = s != Situation::playing;
        EXPECT_EQ ((bool) t.proc().recordArmed, expectArmed || wasArmed) << nameOf (s);
    }

    // A take's first storage is ready before a block can start it.
    click (Key::record);
    roll (0);
    EXPECT_TRUE (dsp().isRecording);
    EXPECT_EQ (dsp().blocks.FallbackAllocations(), 0u);
}

TEST_F (ControlActions, PlayStartsPausesAndResumes)
{
    struct Expected { bool playActive, playPaused, manualPlay; };

    for (auto s : everySituation)
    {
        Rig t;
        t.enter (s);
        const bool manualBefore = t.proc().manualPlay;
        t.click (Key::play);

        Expected e {};
        switch (s)
        {
            case Situation::idle:
            case Situation::powerOff:   e = { true, false, true }; break;
            case Situation::armed:      e = { false, false, false }; break;
            case Situation::recording:  e = { true, false, false }; break;
            case Situation::playing:    e = { false, true, manualBefore }; break;
            case Situation::paused:     e = { true, false, manualBefore }; break;
        }

        SCOPED_TRACE (nameOf (s));
        EXPECT_EQ ((bool) t.proc().playActive, e.playActive);
        EXPECT_EQ ((bool) t.proc().playPaused, e.playPaused);
        EXPECT_EQ (t.dsp().isPaused, e.playPaused);
        EXPECT_EQ ((bool) t.proc().manualPlay, e.manualPlay);
    }
}

TEST_F (ControlActions, DeleteClearsTheSelectedSlotExceptDuringATake)
{
    for (auto s : everySituation)
    {
        Rig t;
        t.enter (s);
        const auto lengthBefore = t.dsp().slotLeft (0).Size();
        t.click (Key::deleteKey);

        SCOPED_TRACE (nameOf (s));

        if (s == Situation::recording)
        {
            EXPECT_EQ (t.dsp().slotLeft (0).Size(), lengthBefore);
            EXPECT_TRUE (t.dsp().isRecording);
            continue;
        }

        EXPECT_FALSE (t.proc().slotHasData[0]);
        EXPECT_EQ (t.dsp().slotLeft (0).Size(), 0);
        EXPECT_EQ (t.dsp().slotLeft (0).Capacity() + t.dsp().slotRight (0).Capacity(), 0);
        EXPECT_EQ (t.dsp().slotStartTime[0], 0);
        EXPECT_EQ (t.dsp().playbackStarted, s == Situation::playing || s == Situation::paused);
    }
}

TEST_F (ControlActions, StopPowerAndSidechainActInEverySituation)
{
    for (auto s : everySituation)
    {
        for (auto k : { Key::stop, Key::power, Key::sidechain })
        {
            Rig t;
            t.enter (s);
            const bool powerBefore = t.proc().powerOn, sidechainBefore = t.proc().useSidechainInput;
            t.click (k);

            SCOPED_TRACE (std::string (nameOf (s)) + " / key " + std::to_string ((int) k));
            EXPECT_EQ ((bool) t.proc().useSidechainInput, k == Key::sidechain ? ! sidechainBefore : sidechainBefore);
            EXPECT_EQ ((bool) t.proc().powerOn, k == Key::power ? ! powerBefore : powerBefore);

            // Stop, and power switched off, run the stop sequence; a take in progress is kept.
            if (k == Key::stop || (k == Key::power && powerBefore))
            {
                EXPECT_FALSE (t.proc().recordArmed || t.proc().playActive || t.proc().manualPlay || t.proc().playPaused);
                EXPECT_TRUE (t.dsp().holdPlayback);
                EXPECT_FALSE (t.dsp().isRecording || t.dsp().playbackStarted || t.dsp().isPaused);
                EXPECT_TRUE (t.proc().slotHasData[0]);
            }
        }
    }
}

//==============================================================================
TEST_F (ControlActions, PlayAndDeleteOnEmptyOrBusySlotsAreIgnoredSilently)
{
    click (Key::slotB);
    click (Key::play);   // slot B holds nothing
    EXPECT_FALSE (proc().playActive);
    EXPECT_FALSE (proc().manualPlay);

    click (Key::deleteKey);   // clearing an empty slot is accepted
    EXPECT_EQ (dsp().slotStartTime[1], 0);

    click (Key::record);
    click (Key::record);   // a second Record changes nothing and never disarms
    EXPECT_TRUE (proc().recordArmed);
    click (Key::slotA);    // locked while armed, even before the host plays
    EXPECT_EQ (proc().currentSlot, 1);
}

TEST_F (ControlActions, DeletingThePlayingSlotSilencesItUntilStop)
{
    enter (Situation::playing);
    EXPECT_FALSE (bitIdentical (halt (512, 3), makeSignal (2, 512, 3)));

    click (Key::deleteKey);
    EXPECT_TRUE (bitIdentical (halt (1024, 3), makeSignal (2, 512, 3)));
    EXPECT_TRUE (proc().playActive);

    click (Key::play);   // the slot is empty now
    EXPECT_TRUE (proc().playActive);
    click (Key::slotB);  // still locked
    EXPECT_EQ (proc().currentSlot, 0);

    click (Key::stop);
    click (Key::slotB);
    EXPECT_EQ (proc().currentSlot, 1);
}

TEST_F (ControlActions, StopWithTheHostRollingHoldsEvenAPlayStart)
{
    recordTakeIntoA();
    const auto take = makeSignal (2, 512, 1);

    EXPECT_TRUE (bitIdentical (roll (0), take));   // the host plays the take
    click (Key::stop);
    EXPECT_TRUE (bitIdentical (roll (512), makeSignal (2, 512, 7)));

    click (Key::play);
    EXPECT_TRUE (proc().playActive);
    EXPECT_TRUE (bitIdentical (roll (1024), makeSignal (2, 512, 7)));   // still held

    // Once the host has been seen stopped, the take plays on with the host stopped.
    EXPECT_TRUE (bitIdentical (halt (0), take));
    EXPECT_TRUE (bitIdentical (halt (0), makeSignal (2, 512, 2)));

    // Recording is not held: Record after a Stop starts at the next rolling block.
    click (Key::stop);
    click (Key::record);
    roll (9000);
    EXPECT_TRUE (dsp().isRecording);
}

TEST_F (ControlActions, PowerOffDuringATakeKeepsItAndPowerOnStartsNothing)
{
    enter (Situation::recording);
    click (Key::power);
    EXPECT_TRUE (proc().slotHasData[0]);
    EXPECT_EQ (dsp().slotLeft (0).Size(), 512);

    // With power off the other controls still work, but no audio is processed.
    click (Key::play);
    EXPECT_TRUE (proc().playActive);
    EXPECT_TRUE (bitIdentical (halt (0, 4), makeSignal (2, 512, 4)));

    click (Key::power);
    EXPECT_FALSE (proc().recordArmed);
    EXPECT_TRUE (bitIdentical (halt (0, 4), makeSignal (2, 512, 7)));   // the Play start is heard now
}

TEST_F (ControlActions, ActionsTakeEffectWithNoBlocksBeingProcessed)
{
    recordTakeIntoA();

    // No block runs between these clicks: each has taken effect when the handler returns.
    click (Key::play);
    EXPECT_TRUE (proc().playActive);
    click (Key::stop);
    EXPECT_FALSE (proc().playActive);
    click (Key::deleteKey);
    EXPECT_FALSE (proc().slotHasData[0]);
}
