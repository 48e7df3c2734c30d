#include "TestHost.h"

#include <gtest/gtest.h>

namespace
{
    using Set = juce::AudioChannelSet;

    juce::AudioProcessor::BusesLayout layoutOf (juce::Array<Set> inputs, juce::Array<Set> outputs)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses = inputs;
        layout.outputBuses = outputs;
        return layout;
    }
}

TEST (Layout, DeclaresThreeStereoBusesThatCannotBeAddedOrRemoved)
{
    VobrelAudioProcessor p;

    ASSERT_EQ (p.getBusCount (true), 2);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (true, 1)->getName(), "Sidechain");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");

    for (auto* bus : { p.getBus (true, 0), p.getBus (true, 1), p.getBus (false, 0) })
    {
        EXPECT_EQ (bus->getDefaultLayout(), Set::stereo());
        EXPECT_TRUE (bus->isEnabledByDefault());
        EXPECT_TRUE (bus->isEnabled());
    }

    EXPECT_FALSE (p.canAddBus (true) || p.canAddBus (false) || p.canRemoveBus (true) || p.canRemoveBus (false));
    EXPECT_EQ (p.getTotalNumInputChannels(), 4);
}

TEST (Layout, AcceptsEqualMonoOrStereoMainBusesWithAnySidechain)
{
    VobrelAudioProcessor p;
    const Set discreteOne = Set::discreteChannels (1), leftOnly = [] { Set s; s.addChannel (Set::left); return s; }();
    const Set sides[] = { Set::stereo(), Set::mono(), Set::disabled(), Set::create5point1(), Set::discreteChannels (6) };

    for (auto side : sides)
    {
        EXPECT_TRUE (p.checkBusesLayoutSupported (layoutOf ({ Set::mono(), side }, { Set::mono() })));
        EXPECT_TRUE (p.checkBusesLayoutSupported (layoutOf ({ Set::stereo(), side }, { Set::stereo() })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::mono(), side }, { Set::stereo() })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::stereo(), side }, { Set::mono() })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::disabled(), side }, { Set::stereo() })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::stereo(), side }, { Set::disabled() })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ discreteOne, side }, { discreteOne })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ leftOnly, side }, { leftOnly })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::discreteChannels (2), side }, { Set::discreteChannels (2) })));
        EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::create5point1(), side }, { Set::create5point1() })));
    }

    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({}, { Set::stereo() })));
    EXPECT_FALSE (p.checkBusesLayoutSupported (layoutOf ({ Set::stereo(), Set::stereo() }, {})));

    // The answer does not depend on the engine's state.
    p.powerOn = false;
    p.recordArmed = true;
    EXPECT_TRUE (p.checkBusesLayoutSupported (layoutOf ({ Set::mono(), Set::stereo() }, { Set::mono() })));
}

TEST (Layout, BlockBufferHoldsMainThenSidechainChannels)
{
    TestHost host;
    auto& p = host.processor();

    // Mono main, stereo sidechain: three channels; the sidechain is channels 1 and 2.
    ASSERT_TRUE (host.setLayout (Set::mono(), Set::stereo()));
    EXPECT_EQ (p.getTotalNumInputChannels(), 3);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 1);

    const auto main = makeSignal (1, 256, 1), side = makeSignal (2, 256, 2);
    host.act ([] (auto& proc) { proc.useSidechainInput = true; proc.recordArmed = true; });
    host.block (main, side, true, 0);
    EXPECT_EQ ((float) host.recorder().slotLeft (0)[7], side.getSample (0, 7));
    EXPECT_EQ ((float) host.recorder().slotRight (0)[7], side.getSample (1, 7));

    // Stereo main, disabled sidechain: two channels, and the switch is forced off.
    ASSERT_TRUE (host.setLayout (Set::stereo(), Set::disabled()));
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    host.block (makeSignal (2, 0, 3), {}, true, 256);
    EXPECT_FALSE (p.useSidechainInput);
}
