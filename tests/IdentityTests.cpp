#include "TestHost.h"

#include <gtest/gtest.h>

#include <fstream>

TEST (Identity, AnswersWhatAHostAsks)
{
    VobrelAudioProcessor p;

    EXPECT_EQ (p.getName(), juce::String ("Vobrel"));
    EXPECT_EQ (p.getName().length(), 6);
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p.getLatencySamples(), 0);
    EXPECT_FALSE (p.acceptsMidi() || p.producesMidi() || p.isMidiEffect());
    EXPECT_TRUE (p.getParameters().isEmpty());
    EXPECT_STREQ (JucePlugin_VersionString, "1.0.2");
    EXPECT_EQ (JucePlugin_VersionCode, 0x00010002);

    EXPECT_EQ (p.getNumPrograms(), 1);
    for (int index : { 0, 2, 7, -1 })
    {
        p.setCurrentProgram (index);
        p.changeProgramName (index, "Verse");
        EXPECT_EQ (p.getCurrentProgram(), 0);
        EXPECT_TRUE (p.getProgramName (index).isEmpty());
    }
}

TEST (Identity, LifecycleCallsKeepTakesAndControls)
{
    TestHost host;
    auto& p = host.processor();
    const auto take = makeSignal (2, 4096, 1);

    host.act ([] (auto& proc) { proc.currentSlot = 1; proc.recordArmed = true; });
    host.run (take, {}, true, 0);
    host.block (slice (take, 0, 16), {}, false, 0);
    host.act ([] (auto& proc) { proc.useSidechainInput = true; });

    p.releaseResources();
    host.prepare (96000.0, 1024);
    p.reset();
    p.setNonRealtime (true);
    host.prepare (44100.0, 64);
    p.setNonRealtime (false);

    EXPECT_TRUE (p.slotHasData[1]);
    EXPECT_EQ (p.currentSlot, 1);
    EXPECT_TRUE (p.useSidechainInput);
    EXPECT_EQ (host.recorder().slotLeft (1).Size(), 4096);

    // Samples, not seconds: at the new rate the take plays back frame for frame.
    host.act ([] (auto& proc) { proc.useSidechainInput = false; });
    EXPECT_TRUE (bitIdentical (host.run (makeSignal (2, 4096, 2), {}, true, 0), take));
}

namespace
{
    /** The process's mapped memory, in bytes: takes are mapped, so a leaked take shows here. */
    std::int64_t mappedBytes()
    {
        std::ifstream statm ("/proc/self/statm");
        std::int64_t pages = 0;
        statm >> pages;
        return pages * 4096;
    }
}

TEST (Identity, DestructionFreesEveryTake)
{
    const auto signal = makeSignal (2, 70000, 1);   // two channels of four storage blocks a slot
    std::int64_t baseline = 0;

    for (int round = 0; round < 200; ++round)
    {
        {
            TestHost host;

            for (int slot = 0; slot < 4; ++slot)
            {
                host.act ([slot] (auto& p) { p.currentSlot = slot; p.recordArmed = true; });
                host.run (signal, {}, true, 0, 8192);
                host.block (slice (signal, 0, 16), {}, false, 0);
            }

            EXPECT_TRUE (host.processor().slotHasData[3]);
        }

        if (round == 9)
            baseline = mappedBytes();
    }

    // Each round maps about 10 MB; a single leaked slot a round would add 380 MB.
    // The margin is for the sanitizer's own quarantine, which grows a while.
    EXPECT_LT (mappedBytes() - baseline, 256 * 1024 * 1024);
}
