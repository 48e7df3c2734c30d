// Time per 512-frame block, stereo main plus stereo sidechain, through the
// processor's 32-bit entry, against a floor that only converts the block to
// 64 bits and back.

#include "engine/PluginProcessor.h"
#include "tests/ScriptedPlayHead.h"

#include <benchmark/benchmark.h>

namespace
{
    constexpr int kFrames = 512;

    juce::AudioBuffer<float> makeBlock()
    {
        juce::AudioBuffer<float> block (4, kFrames);
        for (int c = 0; c < 4; ++c)
            for (int i = 0; i < kFrames; ++i)
                block.setSample (c, i, std::sin (0.01f * (float) (i + 100 * c)));
        return block;
    }

    struct Rig
    {
        Rig()
        {
            head.playing = true;
            processor.setPlayHead (&head);
            processor.prepareToPlay (48000.0, kFrames);
        }

        void run()
        {
            processor.processBlock (block, midi);
            head.timeInSamples += kFrames;
        }

        VobrelAudioProcessor processor;
        ScriptedPlayHead head;
        juce::AudioBuffer<float> block = makeBlock();
        juce::MidiBuffer midi;
    };

    void BM_Floor (benchmark::State& state)
    {
        auto block = makeBlock();
        juce::AudioBuffer<double> working;

        for (auto _ : state)
        {
            working.makeCopyOf (block, true);
            block.makeCopyOf (working, true);
            benchmark::DoNotOptimize (block.getReadPointer (0));
        }
    }

    void BM_PassThrough (benchmark::State& state)
    {
        Rig rig;

        for (auto _ : state)
            rig.run();
    }

    void BM_Recording (benchmark::State& state)
    {
        Rig rig;
        rig.processor.dsp->blocks.Prime();   // as Record's click does
        rig.processor.recordArmed = true;
        std::int64_t blocks = 0;

        for (auto _ : state)
        {
            rig.run();
            ++blocks;

            // In real time the pool's worker has 0.7 s to refill after each storage
            // block; here it gets that time outside the measurement.
            if (blocks % 64 == 0)
            {
                state.PauseTiming();
                rig.processor.dsp->blocks.WaitUntilIdle();
                state.ResumeTiming();
            }

            // Start a new take now and then, so that memory stays bounded.
            if (blocks % 20000 == 0)
            {
                state.PauseTiming();
                rig.processor.stopAll();
                rig.head.playing = false;
                rig.run();
                rig.head.playing = true;
                rig.processor.dsp->blocks.Prime();
                rig.processor.recordArmed = true;
                rig.processor.dsp->blocks.WaitUntilIdle();
                state.ResumeTiming();
            }
        }
    }

    void BM_Playback (benchmark::State& state)
    {
        Rig rig;
        rig.processor.dsp->blocks.Prime();
        rig.processor.recordArmed = true;

        for (int b = 0; b < 10 * 48000 / kFrames; ++b)
            rig.run();

        rig.processor.stopAll();
        rig.head.playing = false;
        rig.run();
        rig.head.playing = true;
        rig.head.timeInSamples = 0;

        for (auto _ : state)
            rig.run();

        if (! rig.processor.dsp->playbackStarted)
            state.SkipWithError ("playback did not start");
    }
}

BENCHMARK (BM_Floor);
BENCHMARK (BM_PassThrough);
BENCHMARK (BM_Recording);
BENCHMARK (BM_Playback);

BENCHMARK_MAIN();
