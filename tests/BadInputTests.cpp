#include "TestHost.h"

#include <gtest/gtest.h>

namespace
{
    using Set = juce::AudioChannelSet;

    /** A signal full of values that break careless code. */
    juce::AudioBuffer<float> hostileSignal (int channels, int frames)
    {
        const float values[] = { std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
                                 std::numeric_limits<float>::lowest(), -0.0f, 1.0e30f, 0.5f };

        juce::AudioBuffer<float> signal (channels, frames);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
                signal.setSample (c, i, values[(size_t) (i + 3 * c) % std::size (values)]);

        return signal;
    }
}

// Every accepted layout, odd block sizes and hostile values: nothing crashes,
// nothing is read or written outside a buffer (see the sanitizer build), and the
// samples pass through and are recorded unchanged.
TEST (BadInput, HostileBlocksPassThroughAndAreRecordedUnchanged)
{
    const Set mains[] = { Set::mono(), Set::stereo() };
    const Set sides[] = { Set::disabled(), Set::mono(), Set::stereo(), Set::create5point1() };

    for (auto main : mains)
    {
        for (auto side : sides)
        {
            TestHost host;
            ASSERT_TRUE (host.setLayout (main, side));
            host.act ([] (auto& p) { p.recordArmed = true; });

            juce::int64 time = 0;
            int recorded = 0;

            for (int size : { 0, 1, 7, 4096, 16384 })
            {
                const auto input = hostileSignal (main.size(), size);
                const auto out = host.block (input, hostileSignal (side.size(), size), true, time);

                ASSERT_TRUE (bitIdentical (out, input)) << main.getDescription() << " " << side.getDescription() << " " << size;

                for (int i = 0; i < size; ++i)
                {
                    const auto stored = (float) host.recorder().slotLeft (0)[recorded + i];
                    ASSERT_EQ (std::memcmp (&stored, input.getReadPointer (0) + i, sizeof (float)), 0);
                }

                recorded += size;
                time += size;
            }

            EXPECT_EQ (host.recorder().slotLeft (0).Size(), recorded);

            // And the same values played back: the take, bit for bit.
            host.block (hostileSignal (main.size(), 16), {}, false, 0);
            const auto played = host.block (makeSignal (main.size(), 7, 9), {}, true, 0);

            for (int c = 0; c < main.size(); ++c)
            {
                const auto& take = c == 0 ? host.recorder().slotLeft (0) : host.recorder().slotRight (0);

                for (int i = 0; i < 7; ++i)
                {
                    const auto stored = (float) take[i];
                    EXPECT_EQ (std::memcmp (&stored, played.getReadPointer (c) + i, sizeof (float)), 0);
                }
            }
        }
    }
}

TEST (BadInput, NotANumberNeitherCrashesNorSpreads)
{
    TestHost host;
    auto input = makeSignal (2, 512, 1);
    input.setSample (0, 10, std::numeric_limits<float>::quiet_NaN());
    host.act ([] (auto& p) { p.recordArmed = true; });

    const auto out = host.block (input, {}, true, 0);
    EXPECT_TRUE (std::isnan (out.getSample (0, 10)));
    EXPECT_EQ (out.getSample (0, 11), input.getSample (0, 11));
    EXPECT_EQ (host.recorder().slotLeft (0).Size(), 512);
}

TEST (BadInput, ABufferShortOfChannelsIsNeverReadPastItsEnd)
{
    // A misbehaving host hands over fewer channels than the layout says.
    VobrelAudioProcessor p;
    p.recordArmed = true;

    for (int channels : { 0, 1, 3 })
    {
        juce::AudioBuffer<float> buffer (channels, 64);
        buffer.clear();
        juce::MidiBuffer midi;
        EXPECT_NO_THROW (p.processBlock (buffer, midi));
    }
}

TEST (BadInput, HostTimesAtTheEdgesOfTheRange)
{
    TestHost host;
    const auto input = makeSignal (2, 64, 1);
    host.act ([] (auto& p) { p.recordArmed = true; });

    for (auto time : { std::numeric_limits<juce::int64>::max() - 64, std::numeric_limits<juce::int64>::max(),
                       std::numeric_limits<juce::int64>::min(), juce::int64 { -1 }, juce::int64 { 0 } })
    {
        host.block (input, {}, true, time);
        host.block (input, {}, false, time);
        host.act ([] (auto& p) { p.recordArmed = true; });
    }

    host.act ([] (auto& p) { p.playActive = true; p.manualPlay = true; });
    EXPECT_TRUE (bitIdentical (host.block (makeSignal (2, 64, 2), {}, false, std::numeric_limits<juce::int64>::min()),
                               input));
}
