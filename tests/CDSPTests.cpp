#include "CDSP.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>

namespace
{
    struct Frame
    {
        double left, right;
    };

    /** A recorder with its own has-data flags, stepped one frame at a time. */
    struct Rig
    {
        CDSP dsp;
        std::array<std::atomic<bool>, 4> filled {};

        Frame step (double inL, double inR, bool record, bool play, bool hostPlaying,
                    std::int64_t hostTime, int slot = 0, bool mono = false)
        {
            Frame out { -1.0, -1.0 };
            dsp.DoProcess (inL, inR, &out.left, &out.right, record, play, hostPlaying,
                           hostTime, slot, filled.data(), mono);
            return out;
        }

        /** Records n frames (left k, right -k, offset by base) from host time start,
            then ends the take as the stop sequence would. */
        void recordTake (int slot, std::int64_t start, int n, double base = 0.0)
        {
            for (int k = 0; k < n; ++k)
                step (base + k, -(base + k), true, false, true, start, slot);

            dsp.isRecording = false;
            dsp.playbackStarted = false;
            dsp.lastRecordTime = 0;
            filled[(size_t) slot] = true;
        }
    };

    double takeLeft (const CDSP& dsp, int slot, std::int64_t i)   { return dsp.slotLeft (slot)[i]; }
}

//==============================================================================
TEST (CDSP, StartsInTheZeroState)
{
    CDSP dsp;
    EXPECT_EQ (dsp.position, 0);
    EXPECT_FALSE (dsp.isRecording || dsp.playbackStarted || dsp.holdPlayback || dsp.isPaused);
    EXPECT_EQ (dsp.lastRecordTime, 0);

    for (int s = 0; s < 4; ++s)
    {
        EXPECT_EQ (dsp.slotStartTime[s], 0);
        EXPECT_EQ (dsp.slotLeft (s).Capacity() + dsp.slotRight (s).Capacity(), 0);
    }

    EXPECT_EQ (dsp.currentLeft, &dsp.slotLeft (0));
    EXPECT_EQ (dsp.currentRight, &dsp.slotRight (0));
    EXPECT_EQ (dsp.blocks.BlocksInUse(), 0u);
}

TEST (CDSP, FirstRecordedFrameStartsTheTakeAndPassesThrough)
{
    Rig rig;
    const auto out = rig.step (0.25, -0.5, true, false, true, 4800, 2);

    EXPECT_TRUE (rig.dsp.isRecording);
    EXPECT_EQ (rig.dsp.slotStartTime[2], 4800);
    EXPECT_EQ (rig.dsp.position, 1);
    EXPECT_EQ (rig.dsp.lastRecordTime, 4800);
    EXPECT_EQ (out.left, 0.25);
    EXPECT_EQ (out.right, -0.5);
    ASSERT_EQ (rig.dsp.slotLeft (2).Size(), 1);
    EXPECT_EQ (rig.dsp.slotRight (2)[0], -0.5);
    EXPECT_EQ (rig.dsp.currentLeft, &rig.dsp.slotLeft (2));
}

TEST (CDSP, NewTakeReplacesTheOldOneAtItsFirstFrame)
{
    Rig rig;
    rig.recordTake (1, 1000, 50);

    rig.step (9.0, -9.0, true, false, true, 7000, 1);

    EXPECT_EQ (rig.dsp.slotLeft (1).Size(), 1);
    EXPECT_EQ (rig.dsp.slotRight (1).Size(), 1);
    EXPECT_EQ (takeLeft (rig.dsp, 1, 0), 9.0);
    EXPECT_EQ (rig.dsp.slotStartTime[1], 7000);
}

TEST (CDSP, RecordingWinsOverPlaybackAndNeedsTheHostPlaying)
{
    Rig rig;
    rig.recordTake (0, 0, 10);

    // Armed with the host stopped: nothing is recorded, the take plays.
    const auto played = rig.step (0.5, 0.5, true, true, false, 3);
    EXPECT_FALSE (rig.dsp.isRecording);
    EXPECT_EQ (played.left, 3.0);

    // Armed with the host playing: a new take, heard as the input.
    const auto recorded = rig.step (0.5, 0.5, true, true, true, 3);
    EXPECT_TRUE (rig.dsp.isRecording);
    EXPECT_EQ (recorded.left, 0.5);
    EXPECT_EQ (rig.dsp.slotLeft (0).Size(), 1);
}

//==============================================================================
TEST (CDSP, PlaybackAlignsToTheHostTimelineOnce)
{
    const std::int64_t S = 96000;

    struct Case { std::int64_t hostTime; double firstFrame, secondFrame; };
    for (auto c : { Case { S + 99, 99, 0 }, Case { S + 100, 0, 1 }, Case { S + 250, 0, 1 },
                    Case { S - 1, 0, 1 }, Case { S + 40, 40, 41 } })
    {
        Rig rig;
        rig.recordTake (0, S, 100);

        EXPECT_EQ (rig.step (0, 0, false, false, true, c.hostTime).left, c.firstFrame) << c.hostTime;
        // A later jump of the host position does not realign.
        EXPECT_EQ (rig.step (0, 0, false, false, true, c.hostTime + 5000).left, c.secondFrame) << c.hostTime;
        EXPECT_TRUE (rig.dsp.playbackStarted);
    }
}

TEST (CDSP, AlignmentSurvivesExtremeHostTimes)
{
    Rig rig;
    rig.recordTake (0, std::numeric_limits<std::int64_t>::min(), 10);
    EXPECT_EQ (rig.step (0, 0, false, true, true, std::numeric_limits<std::int64_t>::max()).left, 0.0);

    Rig other;
    other.recordTake (0, std::numeric_limits<std::int64_t>::max(), 10);
    EXPECT_EQ (other.step (0, 0, false, true, true, std::numeric_limits<std::int64_t>::min()).left, 0.0);
}

TEST (CDSP, PlaybackLoopsWithoutAGap)
{
    Rig rig;
    rig.recordTake (0, 0, 5);

    std::vector<double> heard;
    for (int k = 0; k < 12; ++k)
    {
        const auto out = rig.step (100, 100, false, true, false, 0);
        heard.push_back (out.left);
        EXPECT_EQ (out.right, -out.left);
    }

    EXPECT_EQ (heard, (std::vector<double> { 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1 }));
}

TEST (CDSP, OneFrameTakePlaysThatFrameEveryStep)
{
    Rig rig;
    rig.recordTake (3, 10, 1, 0.75);

    for (int k = 0; k < 4; ++k)
        EXPECT_EQ (rig.step (0, 0, false, false, true, 11 + k, 3).left, 0.75);

    EXPECT_EQ (rig.dsp.position, 0);
}

TEST (CDSP, TakeAcrossManyStorageBlocksPlaysBackExactly)
{
    Rig rig;
    const int n = (int) CSampleSequence::kChunkFrames * 3 + 17;
    rig.recordTake (0, 0, n);

    EXPECT_EQ (rig.dsp.slotLeft (0).Size(), n);
    for (int k = 0; k < n; ++k)
    {
        const auto out = rig.step (0, 0, false, true, false, 0);
        ASSERT_EQ (out.left, (double) k);
        ASSERT_EQ (out.right, -(double) k);
    }

    EXPECT_EQ (rig.step (0, 0, false, true, false, 0).left, 0.0);
}

TEST (CDSP, PlaybackFollowsThePositionIntoAnyStorageBlock)
{
    Rig rig;
    const auto n = CSampleSequence::kChunkFrames + 100;
    rig.recordTake (0, 0, (int) n);

    // Aligned into the second block, then paused until the position has wrapped into the first.
    const auto start = CSampleSequence::kChunkFrames + 10;
    EXPECT_EQ (rig.step (0, 0, false, true, false, start).left, (double) start);
    rig.dsp.isPaused = true;

    for (int k = 0; k < 100; ++k)
        rig.step (0, 0, false, false, false, 0);

    rig.dsp.isPaused = false;
    EXPECT_EQ (rig.step (0, 0, false, true, false, 0).right, -(double) (start + 101 - n));
}

TEST (CDSP, PauseLetsThePositionRunOnAndPassesTheInput)
{
    Rig rig;
    rig.recordTake (0, 0, 4);

    EXPECT_EQ (rig.step (9, 9, false, true, false, 0).left, 0.0);
    rig.dsp.isPaused = true;

    // Paused: input heard, position still advancing and wrapping, even with play and host off.
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ (rig.step (9, 8, false, false, false, 0).left, 9.0);

    EXPECT_EQ (rig.dsp.position, 2);
    rig.dsp.isPaused = false;
    EXPECT_EQ (rig.step (9, 9, false, true, false, 0).left, 2.0);
}

TEST (CDSP, NothingPlaysWhileHeldOrWithoutATake)
{
    Rig rig;
    rig.recordTake (0, 0, 4);

    rig.dsp.holdPlayback = true;
    const auto held = rig.step (0.5, 0.25, true, true, false, 2);
    EXPECT_EQ (held.left, 0.5);
    EXPECT_EQ (held.right, 0.25);
    EXPECT_FALSE (rig.dsp.playbackStarted);
    EXPECT_EQ (rig.dsp.position, 4);

    rig.dsp.holdPlayback = false;
    rig.filled[0] = false;
    EXPECT_EQ (rig.step (0.5, 0.25, false, true, true, 2).left, 0.5);
    EXPECT_FALSE (rig.dsp.playbackStarted);
}

TEST (CDSP, ClearedFlagDuringPlaybackPassesTheInputAndFreezesThePosition)
{
    Rig rig;
    rig.recordTake (0, 0, 10);
    rig.step (0, 0, false, true, false, 0);
    rig.step (0, 0, false, true, false, 0);

    rig.filled[0] = false;
    EXPECT_EQ (rig.step (7, 7, false, true, true, 0).left, 7.0);
    EXPECT_EQ (rig.dsp.position, 2);
    EXPECT_TRUE (rig.dsp.playbackStarted);
}

TEST (CDSP, EmptyFilledSlotBehavesAsPausedInsteadOfReadingOutside)
{
    Rig rig;
    rig.filled[1] = true;  // a broken invariant must still not read outside the take

    EXPECT_EQ (rig.step (0.5, 0.5, false, true, true, 0, 1).left, 0.5);
    EXPECT_EQ (rig.dsp.position, 0);
}

TEST (CDSP, MonoWritesOnlyTheLeftOutputButRecordsBothInputs)
{
    Rig rig;
    const auto out = rig.step (0.5, 0.25, true, false, true, 0, 0, true);
    EXPECT_EQ (out.left, 0.5);
    EXPECT_EQ (out.right, -1.0);
    EXPECT_EQ (rig.dsp.slotRight (0)[0], 0.25);

    rig.recordTake (0, 0, 0);
    const auto played = rig.step (9, 9, false, true, false, 0, 0, true);
    EXPECT_EQ (played.left, 0.5);
    EXPECT_EQ (played.right, -1.0);
}

TEST (CDSP, SlotChangeMovesTheCurrentPairEvenWhenIdle)
{
    Rig rig;
    rig.recordTake (0, 0, 3, 10);
    rig.recordTake (2, 0, 3, 20);

    // Slot 0 has been read, then playback is stopped and slot 2 selected.
    EXPECT_EQ (rig.step (0, 0, false, true, false, 0, 0).left, 10.0);
    rig.dsp.playbackStarted = false;

    rig.step (0, 0, false, false, false, 0, 2);
    EXPECT_EQ (rig.dsp.currentLeft, &rig.dsp.slotLeft (2));
    EXPECT_EQ (rig.dsp.currentRight, &rig.dsp.slotRight (2));

    EXPECT_EQ (rig.step (0, 0, false, true, false, 0, 2).left, 20.0);
}

TEST (CDSP, SlotOutsideTheRangePassesThrough)
{
    Rig rig;
    const auto out = rig.step (0.5, 0.25, true, true, true, 0, 7);
    EXPECT_EQ (out.left, 0.5);
    EXPECT_EQ (out.right, 0.25);
    EXPECT_FALSE (rig.dsp.isRecording);
}

//==============================================================================
TEST (CDSP, ClearSlotEmptiesAndReleasesOnlyThatSlot)
{
    Rig rig;
    rig.recordTake (1, 500, 40000);
    rig.recordTake (2, 0, 10);
    rig.dsp.position = 17;

    rig.dsp.ClearSlot (3);  // an empty slot: nothing changes
    rig.dsp.ClearSlot (1);

    EXPECT_EQ (rig.dsp.slotLeft (1).Size(), 0);
    EXPECT_EQ (rig.dsp.slotLeft (1).Capacity(), 0);
    EXPECT_EQ (rig.dsp.slotRight (1).Capacity(), 0);
    EXPECT_EQ (rig.dsp.slotStartTime[1], 500);
    EXPECT_EQ (rig.dsp.position, 17);
    EXPECT_EQ (rig.dsp.slotLeft (2).Size(), 10);

    // The released storage is freed by the pool's worker, not by the caller.
    rig.dsp.blocks.WaitUntilIdle();
    const auto inUse = rig.dsp.blocks.BlocksInUse();
    rig.dsp.ClearSlot (2);
    rig.dsp.blocks.WaitUntilIdle();
    EXPECT_LT (rig.dsp.blocks.BlocksInUse(), inUse);
}

TEST (CDSP, DeletedAndReRecordedTakeIsReadAfresh)
{
    Rig rig;
    rig.recordTake (0, 0, 10);
    rig.step (0, 0, false, true, false, 0);

    // Deleted between blocks as the editor does, with playback left started; then a shorter take.
    rig.dsp.slotStartTime[0] = 0;
    rig.dsp.ClearSlot (0);
    rig.filled[0] = false;
    rig.recordTake (0, 0, 3, 50);

    std::vector<double> heard;
    for (int k = 0; k < 7; ++k)
        heard.push_back (rig.step (0, 0, false, true, false, 0).left);

    EXPECT_EQ (heard, (std::vector<double> { 50, 51, 52, 50, 51, 52, 50 }));
}

TEST (CDSP, TakeKeepsWhatItHasWhenMemoryRunsOut)
{
    Rig rig;
    rig.dsp.blocks.Prime();

    // The spares only: room for the take's directories and two blocks per channel.
    rig.dsp.blocks.SetBlockLimit (rig.dsp.blocks.BlocksInUse());
    const int n = (int) CSampleSequence::kChunkFrames * 4;

    for (int k = 0; k < n; ++k)
    {
        const auto out = rig.step (k, -k, true, false, true, 100, 1);
        ASSERT_EQ (out.left, (double) k);  // the input is still heard

        if (k == n / 2)
            rig.dsp.blocks.SetBlockLimit (SIZE_MAX);  // memory back: the take must not resume after a gap
    }

    const auto kept = rig.dsp.slotLeft (1).Size();
    EXPECT_GT (kept, 0);
    EXPECT_LT (kept, n);
    EXPECT_EQ (rig.dsp.slotRight (1).Size(), kept);
    EXPECT_EQ (rig.dsp.position, kept);
    EXPECT_TRUE (rig.dsp.isRecording);

    // What was kept is a valid take.
    rig.dsp.isRecording = false;
    rig.filled[1] = true;
    for (std::int64_t k = 0; k < kept + 2; ++k)
        ASSERT_EQ (rig.step (0, 0, false, true, false, 100, 1).right, -(double) (k % kept));
}

TEST (CDSP, DestructionFreesEveryTake)
{
    auto dsp = std::make_unique<CDSP>();
    std::array<std::atomic<bool>, 4> filled {};
    double l = 0, r = 0;

    for (int slot = 0; slot < 4; ++slot)
    {
        for (int k = 0; k < 40000; ++k)
            dsp->DoProcess (k, k, &l, &r, true, false, true, slot, slot, filled.data(), false);

        dsp->isRecording = false;
    }

    EXPECT_GE (dsp->blocks.BlocksInUse(), 4u * 2u * 3u);
    dsp.reset();  // LeakSanitizer reports anything left behind
}
