#include "TestHost.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

// The audio thread processes blocks while the message thread runs control
// actions under the callback lock, as the editor does.
TEST (Concurrency, ActionsBetweenBlocksKeepTheRecorderWhole)
{
    TestHost host;
    auto& p = host.processor();
    std::atomic<bool> done { false };
    std::atomic<int> violations { 0 };

    std::thread audio ([&]
    {
        const auto signal = makeSignal (2, 256, 5);
        juce::int64 time = 0;

        for (int block = 0; ! done; ++block)
        {
            const bool rolling = (block / 40) % 3 != 2;
            host.block (signal, signal, rolling, time);
            time = rolling ? time + 256 : time;

            if (block % 97 == 96)
                time -= 1000;  // a backward jump now and then

            host.act ([&] (auto& proc)
            {
                for (int s = 0; s < 4; ++s)
                    if (proc.slotHasData[(size_t) s] && proc.dsp->slotLeft (s).Size() < 1)
                        ++violations;

                if (proc.playPaused != proc.dsp->isPaused)
                    ++violations;
            });
        }
    });

    std::mt19937 random (42);

    for (int i = 0; i < 3000; ++i)
    {
        switch (random() % 5)
        {
            case 0: host.act ([] (auto& proc) { proc.stopAll(); }); break;
            case 1: host.act ([] (auto& proc) { if (! proc.playActive) proc.recordArmed = true; }); break;
            case 2: host.act ([] (auto& proc)
                    {
                        if (! (proc.playActive && proc.recordArmed))
                        {
                            const auto slot = proc.currentSlot.load();
                            proc.dsp->slotStartTime[slot] = 0;
                            proc.dsp->ClearSlot (slot);
                            proc.slotHasData[(size_t) slot] = false;
                        }
                    });
                    break;
            case 3: host.act ([&] (auto& proc)
                    {
                        if (! (proc.recordArmed || proc.playActive || proc.playPaused))
                            proc.currentSlot = (int) (random() % 4);
                    });
                    break;
            default: p.useSidechainInput = ! p.useSidechainInput; break;
        }

        std::this_thread::yield();
    }

    done = true;
    audio.join();
    EXPECT_EQ (violations, 0);
}
