// What the audio thread asks of the heap and the kernel, and what a starved
// machine (no memory, no threads) does to the plug-in.

#include "../TestHost.h"
#include "ThreadCalls.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace
{
    using Set = juce::AudioChannelSet;

    /** A host's audio thread: blocks of one size, each run under the callback
        lock on a thread of its own, with nothing allocated on that thread. */
    struct Rig
    {
        explicit Rig (const Set& sidechain = Set::stereo(), int frames = 512)
        {
            EXPECT_TRUE (host.setLayout (Set::stereo(), sidechain));
            setBlockSize (frames);
        }

        void setBlockSize (int frames)
        {
            buffer = makeSignal (2 + host.sidechainChannels(), frames, 7);
        }

        /** Runs blocks on a fresh thread and returns what that thread asked for. */
        ThreadCalls::Counts onAudioThread (int blocks, bool playing)
        {
            ThreadCalls::Counts counts;

            std::thread audio ([&]
            {
                const auto before = ThreadCalls::ofThisThread();

                for (int b = 0; b < blocks; ++b)
                {
                    host.playHead.playing = playing;
                    host.playHead.timeInSamples = time;

                    const juce::ScopedLock lock (host.processor().getCallbackLock());
                    host.processor().processBlock (buffer, midi);

                    if (playing)
                        time += buffer.getNumSamples();
                }

                counts = ThreadCalls::ofThisThread() - before;
            });

            audio.join();
            return counts;
        }

        /** Rolls for a while at a pace the recorder's worker keeps up with, as in real time. */
        ThreadCalls::Counts roll (int batches)
        {
            ThreadCalls::Counts counts;

            for (int i = 0; i < batches; ++i)
            {
                const auto batch = onAudioThread (32, true);
                counts.heap += batch.heap;
                counts.mapping += batch.mapping;
                host.recorder().blocks.WaitUntilIdle();
            }

            return counts;
        }

        /** Record, as the editor arms it: spares first, then the flag between blocks. */
        void armRecord()
        {
            host.recorder().blocks.Prime();
            host.act ([] (auto& p) { p.recordArmed = true; });
        }

        TestHost host;
        juce::AudioBuffer<float> buffer;
        juce::MidiBuffer midi;
        juce::int64 time = 0;
    };

    int threadsInProcess()
    {
        const std::filesystem::directory_iterator tasks ("/proc/self/task");
        return (int) std::distance (begin (tasks), end (tasks));
    }

    /** The kernel refuses memory beyond what the process holds now plus `headroom`. */
    struct AddressSpaceLimit
    {
        explicit AddressSpaceLimit (std::size_t headroom)
        {
            std::ifstream status ("/proc/self/status");
            std::string line;

            while (std::getline (status, line))
                if (line.rfind ("VmSize:", 0) == 0)
                    held = std::stoul (line.substr (7)) * 1024;

            getrlimit (RLIMIT_AS, &saved);
            const rlimit limit { held + headroom, saved.rlim_max };
            EXPECT_EQ (setrlimit (RLIMIT_AS, &limit), 0);
        }

        ~AddressSpaceLimit()   { setrlimit (RLIMIT_AS, &saved); }

        std::size_t held = 0;
        rlimit saved {};
    };

    void expectNone (const ThreadCalls::Counts& counts, const char* what)
    {
        EXPECT_EQ (counts.heap, 0) << what << ": heap calls on the audio thread";
        EXPECT_EQ (counts.mapping, 0) << what << ": memory maps on the audio thread";
    }
}

//==============================================================================
TEST (AudioThread, NeitherAllocatesNorMapsAtAnyStepOfATakesLife)
{
    Rig rig;
    expectNone (rig.onAudioThread (1, false), "first block");
    rig.roll (1);

    rig.armRecord();
    expectNone (rig.roll (12), "armed while rolling, a long take");   // over many storage blocks

    expectNone (rig.onAudioThread (2, false), "host stops");
    expectNone (rig.roll (2), "playback");

    rig.host.act ([] (auto& p) { p.stopAll(); });
    rig.onAudioThread (1, false);
    rig.armRecord();
    expectNone (rig.roll (2), "armed while stopped: a new take over the long one");
    ASSERT_TRUE (rig.host.recorder().isRecording);

    expectNone (rig.onAudioThread (1, false), "host stops");
    expectNone (rig.roll (1), "playback");
    rig.host.act ([] (auto& p)
    {
        p.dsp->ClearSlot (0, false);
        p.slotHasData[0] = false;
    });
    rig.host.recorder().blocks.Wake();
    expectNone (rig.roll (1), "delete during playback");
}

TEST (AudioThread, BlocksUpToTheAnnouncedSizeCostNoCallsInAnyOrder)
{
    Rig rig;
    rig.host.prepare (48000.0, 16384);

    for (const int frames : { 512, 8192, 512, 8192, 16384, 64, 16384, 8191, 8192 })
    {
        rig.setBlockSize (frames);
        expectNone (rig.onAudioThread (1, false), ("a block of " + std::to_string (frames) + " frames").c_str());
    }

    Rig surround (Set::create5point1());   // the layout, too, is known before the first block
    expectNone (surround.onAudioThread (1, false), "first block, 5.1 sidechain");
}

TEST (AudioThread, MemoryRunningOutMidTakeCostsNoCallsAndTheTakeStopsGrowing)
{
    Rig rig;
    rig.armRecord();
    rig.roll (2);

    ThreadCalls::refuseMapsFrom = CBlockPool::kBlockBytes;
    const auto exhausted = rig.roll (30);  // well past the spare blocks
    const auto kept = rig.host.recorder().slotLeft (0).Size();

    ThreadCalls::refuseMapsFrom = 0;      // memory comes back within the same take
    rig.roll (4);
    ThreadCalls::refuseMapsFrom = 0;

    expectNone (exhausted, "memory exhausted mid-take");
    EXPECT_EQ (rig.host.recorder().slotLeft (0).Size(), kept) << "a take that lost frames must not resume out of place";
}

TEST (AudioThread, AWideSidechainCostsNoCalls)
{
    Rig rig (Set::discreteChannels (40));
    ASSERT_EQ (rig.host.sidechainChannels(), 40);

    expectNone (rig.onAudioThread (1, false), "first block, 40-channel sidechain");
    rig.host.act ([] (auto& p) { p.useSidechainInput = true; });
    rig.armRecord();
    expectNone (rig.roll (1), "40-channel sidechain");
}

//==============================================================================
TEST (StarvedMachine, AFailedGrowthOfTheWorkingCopyPassesTheBlockAndLeavesTheNextOnesWhole)
{
    Rig rig;

    int blocks = 0;

    // Memory refused from a smaller block on, up to a block larger than announced; then back.
    for (const int frames : { 64, 8192, 16384, 16384, 64, 16384 })
    {
        rig.setBlockSize (frames);
        const auto input = rig.buffer;
        ThreadCalls::refuseAllocationsOver = ++blocks <= 3 ? 64 * 1024 : 0;
        rig.onAudioThread (1, false);
        ThreadCalls::refuseAllocationsOver = 0;
        EXPECT_TRUE (bitIdentical (rig.buffer, input)) << frames;
    }
}

TEST (StarvedMachine, WithoutThreadsThePlugInLoadsRecordsAndPlays)
{
    // Refused while the plug-in loads and Record is armed: the recorder has no
    // worker for the rest of its life. The test's own audio thread comes later.
    ThreadCalls::refuseThreads = true;
    auto rig = std::make_unique<Rig>();
    rig->armRecord();
    ThreadCalls::refuseThreads = false;

    const auto take = rig->buffer;
    rig->onAudioThread (256, true);   // beyond the spares made when Record was armed
    EXPECT_EQ (rig->host.recorder().slotLeft (0).Size(), 256 * 512);

    rig->onAudioThread (1, false);
    ASSERT_TRUE (rig->host.processor().slotHasData[0]);
    rig->buffer.clear();
    rig->time = 0;
    rig->onAudioThread (1, true);
    EXPECT_EQ (rig->buffer.getSample (1, 5), take.getSample (1, 5));
}

TEST (StarvedMachine, ATakeOverASlotAfterMemoryRanOutGetsTheOldTakesMemory)
{
    Rig rig;
    rig.armRecord();
    rig.roll (1);
    auto& p = rig.host.processor();

    {
        const AddressSpaceLimit limit (16 * CBlockPool::kBlockBytes);
        rig.roll (40);
        const auto kept = rig.host.recorder().slotLeft (0).Size();
        ASSERT_GT (kept, 2 * CSampleSequence::kChunkFrames);
        ASSERT_LT (kept, 41 * 32 * 512) << "memory never ran out";

        rig.onAudioThread (1, false);
        rig.armRecord();
        rig.buffer = makeSignal (4, 512, 8);
        const auto take = rig.buffer;
        const auto start = rig.time;
        expectNone (rig.onAudioThread (40, true), "a new take over the slot");
        rig.onAudioThread (1, false);

        EXPECT_EQ (rig.host.recorder().slotLeft (0).Size(), 40 * 512);
        ASSERT_EQ (p.slotHasData[0], rig.host.recorder().slotLeft (0).Size() > 0) << "the lamp must not lie";
        EXPECT_EQ (rig.host.recorder().slotLeft (0).Capacity(), CSampleSequence::kChunkFrames) << "the rest goes back";

        rig.time = start;
        rig.buffer = makeSignal (4, 512, 9);   // heard only if the take does not play
        rig.onAudioThread (1, true);
        EXPECT_EQ (rig.buffer.getSample (1, 5), take.getSample (1, 5));
    }
}

TEST (StarvedMachine, InstancesThatNeverRecordedOwnNoThread)
{
    const auto before = threadsInProcess();
    std::vector<std::unique_ptr<VobrelAudioProcessor>> instances;

    for (int i = 0; i < 20; ++i)
        instances.push_back (std::make_unique<VobrelAudioProcessor>());

    EXPECT_EQ (threadsInProcess(), before);

    instances[0]->dsp->blocks.Prime();   // Record armed: its worker starts
    EXPECT_EQ (threadsInProcess(), before + 1);
}
