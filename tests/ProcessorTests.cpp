#include "TestHost.h"

#include <gtest/gtest.h>

namespace
{
    /** Puts the engine into one of the situations the stop sequence must handle. */
    enum class Situation { idle, armed, recording, playing, paused, held };

    void enter (TestHost& host, Situation situation)
    {
        auto& p = host.processor();
        const auto signal = makeSignal (2, 2048, 1);

        if (situation == Situation::idle)
            return;

        if (situation == Situation::held)
        {
            host.act ([] (auto& proc) { proc.stopAll(); });
            host.block (slice (signal, 0, 64), {}, true, 0);  // host still rolling: the hold stays
            return;
        }

        host.act ([] (auto& proc) { proc.recordArmed = true; });
        if (situation == Situation::armed)
            return;

        host.run (signal, {}, true, 1000);
        if (situation == Situation::recording)
            return;

        host.block (slice (signal, 0, 64), {}, false, 0);   // host stops: take ends, hold lifts
        host.run (signal, {}, true, 1000);                  // host plays: take plays
        EXPECT_TRUE (p.dsp->playbackStarted);

        if (situation == Situation::paused)
            host.act ([] (auto& proc)
            {
                proc.dsp->isPaused = true;
                proc.playPaused = true;
                proc.playActive = false;
            });
    }
}

//==============================================================================
TEST (Processor, StartsWithPowerOnAndEverythingElseClear)
{
    VobrelAudioProcessor p;

    EXPECT_TRUE (p.powerOn);
    EXPECT_FALSE (p.useSidechainInput || p.recordArmed || p.playActive || p.manualPlay || p.playPaused);
    EXPECT_EQ (p.currentSlot, 0);

    for (auto& flag : p.slotHasData)
        EXPECT_FALSE (flag);

    ASSERT_NE (p.dsp, nullptr);
    EXPECT_FALSE (p.dsp->isRecording || p.dsp->playbackStarted || p.dsp->holdPlayback);
    EXPECT_EQ (p.dsp->blocks.BlocksInUse(), 0u);
}

TEST (StopAll, EndsARunningTakeAndMarksItsSlot)
{
    TestHost host;
    host.act ([] (auto& p) { p.currentSlot = 2; });
    enter (host, Situation::recording);

    auto& p = host.processor();
    const auto length = p.dsp->slotLeft (2).Size();
    const auto start = p.dsp->slotStartTime[2];
    ASSERT_GT (length, 0);

    host.act ([] (auto& proc) { proc.stopAll(); });

    EXPECT_TRUE (p.slotHasData[2]);
    EXPECT_FALSE (p.slotHasData[0] || p.slotHasData[1] || p.slotHasData[3]);
    EXPECT_FALSE (p.recordArmed || p.playActive || p.manualPlay || p.playPaused);
    EXPECT_FALSE (p.dsp->isRecording || p.dsp->playbackStarted || p.dsp->isPaused);
    EXPECT_TRUE (p.dsp->holdPlayback);
    EXPECT_EQ (p.dsp->lastRecordTime, 0);
    EXPECT_EQ (p.dsp->slotLeft (2).Size(), length);
    EXPECT_EQ (p.dsp->slotStartTime[2], start);
}

TEST (StopAll, LeavesTheSameStateFromEverySituation)
{
    for (auto situation : { Situation::idle, Situation::armed, Situation::recording,
                            Situation::playing, Situation::paused, Situation::held })
    {
        TestHost host;
        auto& p = host.processor();
        host.act ([] (auto& proc) { proc.useSidechainInput = true; });
        enter (host, situation);

        const bool hadTake = p.slotHasData[0] || situation == Situation::recording;
        const auto position = p.dsp->position;

        host.act ([] (auto& proc) { proc.stopAll(); });

        SCOPED_TRACE ((int) situation);
        EXPECT_FALSE (p.recordArmed || p.playActive || p.manualPlay || p.playPaused);
        EXPECT_FALSE (p.dsp->isRecording || p.dsp->playbackStarted || p.dsp->isPaused);
        EXPECT_TRUE (p.dsp->holdPlayback);
        EXPECT_EQ (p.dsp->lastRecordTime, 0);
        EXPECT_EQ ((bool) p.slotHasData[0], hadTake);
        EXPECT_EQ (p.dsp->position, position);
        EXPECT_TRUE (p.powerOn);
        EXPECT_TRUE (p.useSidechainInput);
        EXPECT_EQ (p.currentSlot, 0);
    }
}

TEST (StopAll, WhileArmedMarksNoSlotAndKeepsOtherTakes)
{
    TestHost host;
    auto& p = host.processor();
    host.act ([] (auto& proc) { proc.slotHasData[3] = true; proc.recordArmed = true; });

    host.act ([] (auto& proc) { proc.stopAll(); });

    EXPECT_FALSE (p.slotHasData[0]);
    EXPECT_TRUE (p.slotHasData[3]);
    EXPECT_FALSE (p.recordArmed);
}

TEST (StopAll, ATakeThatStoredNoFrameLeavesItsSlotEmpty)
{
    TestHost host;
    auto& p = host.processor();
    p.dsp->blocks.SetBlockLimit (0);   // no memory from the take's first frame on
    enter (host, Situation::recording);
    ASSERT_TRUE (p.dsp->isRecording);

    host.act ([] (auto& proc) { proc.stopAll(); });
    EXPECT_FALSE (p.slotHasData[0]);

    host.block (makeSignal (2, 64, 1), {}, false, 0);
    host.block (makeSignal (2, 64, 1), {}, true, 0);
    EXPECT_FALSE (p.playActive) << "nothing to play";
}

TEST (StopAll, PausedPlaybackAlignsAfreshNextTime)
{
    TestHost host;
    auto& p = host.processor();
    enter (host, Situation::paused);

    host.act ([] (auto& proc) { proc.stopAll(); });
    EXPECT_FALSE (p.dsp->isPaused);
    EXPECT_FALSE (p.playPaused);

    // The hold lifts on a stopped block; the next rolling block aligns to its own position.
    const auto signal = makeSignal (2, 512, 3);
    host.block (signal, {}, false, 0);
    const auto out = host.block (signal, {}, true, 1000 + 300);

    EXPECT_TRUE (p.dsp->playbackStarted);
    EXPECT_EQ (p.dsp->position, 300 + 512);
    EXPECT_EQ (out.getSample (0, 0), makeSignal (2, 2048, 1).getSample (0, 300));
}
