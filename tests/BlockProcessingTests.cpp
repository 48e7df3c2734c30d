#include "TestHost.h"

#include <gtest/gtest.h>

namespace
{
    constexpr int kRate = 48000;
    constexpr juce::int64 kTakeStart = 96000;

    /** Frame i of the expected output when a take of length L plays from offset. */
    juce::AudioBuffer<float> looped (const juce::AudioBuffer<float>& take, int offset, int frames)
    {
        juce::AudioBuffer<float> result (take.getNumChannels(), frames);

        for (int c = 0; c < take.getNumChannels(); ++c)
            for (int i = 0; i < frames; ++i)
                result.setSample (c, i, take.getSample (c, (offset + i) % take.getNumSamples()));

        return result;
    }

    /** Arms, records the signals while the host rolls from kTakeStart, then stops the host. */
    void recordTake (TestHost& host, const juce::AudioBuffer<float>& main, const juce::AudioBuffer<float>& side)
    {
        host.act ([] (auto& p) { p.recordArmed = true; });
        const auto monitored = host.run (main, side, true, kTakeStart);
        EXPECT_TRUE (host.recorder().isRecording);
        host.block (slice (main, 0, 16), slice (side, 0, 16), false, kTakeStart);  // the host stops
        EXPECT_TRUE (host.processor().slotHasData[0]);
        juce::ignoreUnused (monitored);
    }

    juce::AudioBuffer<float> firstChannel (const juce::AudioBuffer<float>& source)
    {
        juce::AudioBuffer<float> result (1, source.getNumSamples());
        result.copyFrom (0, 0, source, 0, 0, source.getNumSamples());
        return result;
    }

    /** The two channels a stereo main output should carry for a mono-or-stereo source. */
    juce::AudioBuffer<float> asStereo (const juce::AudioBuffer<float>& source)
    {
        juce::AudioBuffer<float> result (2, source.getNumSamples());
        result.copyFrom (0, 0, source, 0, 0, source.getNumSamples());
        result.copyFrom (1, 0, source, source.getNumChannels() > 1 ? 1 : 0, 0, source.getNumSamples());
        return result;
    }
}

//==============================================================================
TEST (BlockProcessing, RecordedTakePlaysBackAlignedAndLoops)
{
    TestHost host;
    const auto input = makeSignal (2, 3 * kRate, 1);

    host.act ([] (auto& p) { p.recordArmed = true; });
    const auto monitored = host.run (input, makeSignal (2, 3 * kRate, 2), true, kTakeStart);
    EXPECT_TRUE (bitIdentical (monitored, input));  // heard while recorded

    host.block (slice (input, 0, 512), {}, false, kTakeStart + 3 * kRate);
    EXPECT_TRUE (host.processor().slotHasData[0]);
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), 3 * kRate);

    // From the take's start: the take, sample for sample, then round again.
    const auto silence = makeSignal (2, 4 * kRate, 9);
    auto out = host.run (silence, {}, true, kTakeStart);
    EXPECT_TRUE (bitIdentical (out, looped (input, 0, 4 * kRate)));
    EXPECT_TRUE (host.processor().playActive);

    // From a point inside it, after the host was stopped.
    host.block (slice (silence, 0, 64), {}, false, 0);
    out = host.run (silence, {}, true, kTakeStart + 100000);
    EXPECT_TRUE (bitIdentical (out, looped (input, 100000, 4 * kRate)));

    // From before the take: its first frame at once.
    host.block (slice (silence, 0, 64), {}, false, 0);
    out = host.run (slice (silence, 0, kRate), {}, true, 1000);
    EXPECT_TRUE (bitIdentical (out, looped (input, 0, kRate)));
}

TEST (BlockProcessing, SidechainSourcesAreRecordedInPlaceOfTheMainInput)
{
    struct Case { juce::AudioChannelSet main, side; };

    for (auto c : { Case { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo() },
                    Case { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::mono() },
                    Case { juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo() },
                    Case { juce::AudioChannelSet::mono(), juce::AudioChannelSet::create5point1() } })
    {
        TestHost host;
        ASSERT_TRUE (host.setLayout (c.main, c.side));
        const auto main = makeSignal (c.main.size(), kRate, 3);
        const auto side = makeSignal (c.side.size(), kRate, 4);

        host.act ([] (auto& p) { p.useSidechainInput = true; });
        host.act ([] (auto& p) { p.recordArmed = true; });
        const auto monitored = host.run (main, side, true, kTakeStart);
        host.block (slice (main, 0, 16), slice (side, 0, 16), false, 0);

        // The recorded pair: sidechain 0 and 1, or sidechain 0 twice.
        const auto expected = asStereo (side);
        const auto& dsp = host.recorder();
        ASSERT_EQ (dsp.slotLeft (0).Size(), kRate);

        for (int i = 0; i < kRate; i += 997)
        {
            ASSERT_EQ ((float) dsp.slotLeft (0)[i], expected.getSample (0, i));
            ASSERT_EQ ((float) dsp.slotRight (0)[i], expected.getSample (1, i));
        }

        // What the main output carried: the sidechain, not the main input.
        if (c.main.size() == 2)
            EXPECT_TRUE (bitIdentical (monitored, expected)) << c.side.getDescription();
        else
            EXPECT_TRUE (bitIdentical (monitored, firstChannel (side))) << c.side.getDescription();
    }
}

TEST (BlockProcessing, MonoMainBusRecordsChannelZeroIntoBothSequencesAndPlaysIt)
{
    for (auto side : { juce::AudioChannelSet::disabled(), juce::AudioChannelSet::stereo() })
    {
        TestHost host;
        ASSERT_TRUE (host.setLayout (juce::AudioChannelSet::mono(), side));
        const auto input = makeSignal (1, kRate / 2, 5);

        recordTake (host, input, makeSignal (side.size(), kRate / 2, 6));
        EXPECT_EQ (host.recorder().slotRight (0)[123], host.recorder().slotLeft (0)[123]);

        const auto out = host.run (makeSignal (1, kRate, 7), {}, true, kTakeStart);
        EXPECT_TRUE (bitIdentical (out, looped (input, 0, kRate)));
    }
}

//==============================================================================
TEST (BlockProcessing, BackwardJumpDuringATakeEndsIt)
{
    TestHost host;
    auto& p = host.processor();
    const auto input = makeSignal (2, 512, 1);

    host.act ([] (auto& proc) { proc.recordArmed = true; });
    host.block (input, {}, true, 10000);
    host.block (input, {}, true, 10512);
    host.block (input, {}, true, 10512);  // the same position is no jump
    EXPECT_TRUE (host.recorder().isRecording);

    host.block (input, {}, true, 10000);  // the host loops back
    EXPECT_FALSE (host.recorder().isRecording);
    EXPECT_FALSE (p.recordArmed);
    EXPECT_TRUE (p.slotHasData[0]);
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), 3 * 512);

    // Still rolling: held, so the take is not heard until the host has stopped.
    const auto other = makeSignal (2, 512, 8);
    EXPECT_TRUE (bitIdentical (host.block (other, {}, true, 10512), other));
    host.block (other, {}, false, 10000);
    EXPECT_FALSE (bitIdentical (host.block (other, {}, true, 10000), other));
}

TEST (BlockProcessing, StopWhileTheHostRollsHoldsUntilTheHostStops)
{
    TestHost host;
    auto& p = host.processor();
    const auto take = makeSignal (2, 4096, 1);
    recordTake (host, take, {});

    const auto input = makeSignal (2, 512, 2);
    EXPECT_TRUE (bitIdentical (host.block (input, {}, true, kTakeStart), slice (take, 0, 512)));

    host.act ([] (auto& proc) { proc.stopAll(); });
    EXPECT_TRUE (bitIdentical (host.block (input, {}, true, kTakeStart + 512), input));

    // A Play start meanwhile lights at once but is heard only after a stopped block.
    host.act ([] (auto& proc) { proc.playActive = true; proc.manualPlay = true; });
    EXPECT_TRUE (bitIdentical (host.block (input, {}, true, kTakeStart + 1024), input));
    EXPECT_TRUE (p.playActive);

    const auto out = host.block (input, {}, false, kTakeStart + 2048);
    EXPECT_TRUE (bitIdentical (out, slice (take, 2048, 512)));
}

TEST (BlockProcessing, PlayStartedPlaybackGoesOnWithTheHostStopped)
{
    TestHost host;
    auto& p = host.processor();
    const auto take = makeSignal (2, 2000, 1);
    recordTake (host, take, {});

    host.act ([] (auto& proc) { proc.playActive = true; proc.manualPlay = true; });
    const auto out = host.run (makeSignal (2, 5000, 3), {}, false, kTakeStart + 10);

    EXPECT_TRUE (bitIdentical (out, looped (take, 10, 5000)));
    EXPECT_TRUE (p.playActive);
    EXPECT_TRUE (host.recorder().playbackStarted);
    EXPECT_FALSE (host.recorder().holdPlayback);

    // Host-started playback, by contrast, ends when the host stops.
    host.act ([] (auto& proc) { proc.stopAll(); });
    host.block (slice (take, 0, 16), {}, false, 0);
    host.block (slice (take, 0, 512), {}, true, kTakeStart);
    EXPECT_TRUE (host.recorder().playbackStarted);
    host.block (slice (take, 0, 512), {}, false, kTakeStart);
    EXPECT_FALSE (host.recorder().playbackStarted);
    EXPECT_FALSE (p.playActive);
}

TEST (BlockProcessing, BypassAndPowerOffFreezeARunningTake)
{
    TestHost host;
    auto& p = host.processor();
    const auto input = makeSignal (2, 512, 1);

    host.act ([] (auto& proc) { proc.recordArmed = true; });
    host.block (input, {}, true, 0);

    host.setBypassed (true);
    host.block (input, {}, true, 512);
    host.block (input, {}, false, 1024);  // not even a stopped host ends it
    host.setBypassed (false);
    EXPECT_TRUE (host.recorder().isRecording);
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), 512);

    host.act ([] (auto& proc) { proc.useSidechainInput = true; proc.powerOn = false; });
    ASSERT_TRUE (host.setLayout (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::disabled()));
    const auto out = host.block (input, {}, true, 1024);
    EXPECT_TRUE (bitIdentical (out, input));
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), 512);
    EXPECT_TRUE (p.useSidechainInput);  // not forced off while the power is off

    // The transport following still runs with power off.
    host.block (input, {}, false, 1024);
    EXPECT_FALSE (host.recorder().isRecording);
    EXPECT_TRUE (p.slotHasData[0]);
    EXPECT_FALSE (host.recorder().holdPlayback);

    // Power back on: the switch is forced off as the sidechain has no channels.
    host.act ([] (auto& proc) { proc.powerOn = true; });
    host.block ({}, {}, false, 0);
    EXPECT_FALSE (p.useSidechainInput);
}

TEST (BlockProcessing, PassThroughIsBitExact)
{
    TestHost host;
    auto input = makeSignal (2, 4096, 1);
    input.setSample (0, 3, std::numeric_limits<float>::denorm_min());
    input.setSample (1, 9, -std::numeric_limits<float>::max());
    input.setSample (0, 11, std::numeric_limits<float>::infinity());
    input.setSample (1, 12, -0.0f);

    EXPECT_TRUE (bitIdentical (host.run (input, makeSignal (2, 4096, 2), true, 0), input));

    host.act ([] (auto& p) { p.powerOn = false; });
    EXPECT_TRUE (bitIdentical (host.run (input, makeSignal (2, 4096, 2), true, 0), input));
}

TEST (BlockProcessing, WithoutAPositionTheHostCountsAsStoppedAtZero)
{
    TestHost host;
    auto& p = host.processor();
    const auto input = makeSignal (2, 512, 1);
    host.act ([] (auto& proc) { proc.recordArmed = true; });

    host.playHead.reportsPosition = false;
    host.processor().setPlayHead (&host.playHead);
    EXPECT_TRUE (bitIdentical (host.block (input, {}, true, 5000), input));
    EXPECT_FALSE (host.recorder().isRecording);

    p.setPlayHead (nullptr);
    EXPECT_TRUE (bitIdentical (host.block (input, {}, true, 5000), input));
    EXPECT_FALSE (host.recorder().isRecording);
    EXPECT_TRUE (p.recordArmed);
}

TEST (BlockProcessing, AHostReportingOnlyChangesGetsTheWholeRollAligned)
{
    constexpr int blocks = 100, n = 512, armedAt = 30;
    TestHost host;
    const auto input = makeSignal (2, blocks * n, 1);

    // As an LV2 host may: a position when the roll starts and when it stops, none
    // in between but for a few that tell the speed without the time.
    const auto roll = [&] (const juce::AudioBuffer<float>& in, juce::int64 from, int armAt)
    {
        juce::AudioBuffer<float> out (2, blocks * n);

        for (int b = 0; b < blocks; ++b)
        {
            if (b == armAt)
                host.act ([] (auto& p) { p.recordArmed = true; });

            host.playHead.reportsPosition = b == 0 || b % 10 == 5;
            host.playHead.reportsTime = b == 0;
            const auto result = host.block (slice (in, b * n, n), {}, true, from + b * n);

            for (int c = 0; c < 2; ++c)
                out.copyFrom (c, b * n, result, c, 0, n);
        }

        host.playHead.reportsPosition = host.playHead.reportsTime = true;
        host.block (slice (in, 0, n), {}, false, from + blocks * n);
        return out;
    };

    // Armed while rolling: the take starts where the transport has got to.
    roll (input, kTakeStart, armedAt);
    EXPECT_TRUE (host.processor().slotHasData[0]);
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), (blocks - armedAt) * n);

    const auto take = slice (input, armedAt * n, (blocks - armedAt) * n);
    const auto out = roll (makeSignal (2, blocks * n, 9), kTakeStart + armedAt * n + 1000, -1);
    EXPECT_TRUE (bitIdentical (out, looped (take, 1000, blocks * n)));
}

TEST (BlockProcessing, PlayActiveFollowsTheRecorderAfterEveryFrame)
{
    TestHost host;
    auto& p = host.processor();
    const auto take = makeSignal (2, 1000, 1);
    recordTake (host, take, {});
    EXPECT_FALSE (p.playActive);

    // The host starts playback by itself: the lamp follows without a Play click.
    host.block (slice (take, 0, 1), {}, true, kTakeStart);
    EXPECT_TRUE (p.playActive);

    // Paused: the engine does not set it again.
    host.act ([] (auto& proc) { proc.dsp->isPaused = true; proc.playPaused = true; proc.playActive = false; });
    host.block (slice (take, 0, 512), {}, true, kTakeStart + 1);
    EXPECT_FALSE (p.playActive);
}
