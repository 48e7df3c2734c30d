#include "TestHost.h"
#include "editor/PanelReading.h"

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

//==============================================================================
// The same through the editor: random clicks on the panel's keys while the audio
// thread processes blocks with a rolling, stopping and jumping transport. After
// every block the recorder's and the control state's invariants hold.
TEST (Concurrency, RandomClicksAgainstARunningEngine)
{
    TestHost host;
    auto editor = openEditor (host.processor());
    std::atomic<bool> done { false };
    std::atomic<int> violations { 0 }, blocks { 0 };

    std::thread audio ([&]
    {
        const auto signal = makeSignal (2, 128, 5);
        std::mt19937 random (7);
        juce::int64 time = 0;

        while (! done)
        {
            const bool rolling = random() % 8 != 0;
            host.block (signal, signal, rolling, time);

            if (rolling)
                time = random() % 50 == 0 ? time - (juce::int64) (random() % 4096) : time + 128;

            host.act ([&] (auto& p)
            {
                const auto slot = p.currentSlot.load();
                if (slot < 0 || slot > 3)
                    ++violations;

                for (int s = 0; s < 4; ++s)
                {
                    const auto& left = p.dsp->slotLeft (s);
                    if ((p.slotHasData[(size_t) s] && left.Size() < 1) || left.Size() != p.dsp->slotRight (s).Size())
                        ++violations;
                }

                if (p.playPaused != p.dsp->isPaused || (p.manualPlay && ! p.playActive && ! p.playPaused))
                    ++violations;
            });

            ++blocks;
        }
    });

    const Key keys[] = { Key::power, Key::slotA, Key::slotB, Key::slotC, Key::slotD, Key::sidechain,
                         Key::deleteKey, Key::record, Key::play, Key::stop };
    std::mt19937 random (42);
    const auto deadline = juce::Time::getMillisecondCounter() + 120000;

    for (int i = 0; i < 100000 && juce::Time::getMillisecondCounter() < deadline; ++i)
    {
        // Mostly the keys that make takes and play them; power now and then.
        const auto k = keys[random() % 40 == 0 ? 0 : 1 + random() % 9];
        editor->buttonClicked (&button (*editor, k));

        if (i % 16 == 0)
            std::this_thread::yield();
    }

    done = true;
    audio.join();
    closeEditor (host.processor(), editor);

    EXPECT_EQ (violations, 0);
    EXPECT_GT (blocks, 100);
}
