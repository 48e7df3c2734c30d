#pragma once

#include "engine/PluginProcessor.h"

#include <vector>

/** Everything of the processor's state that restoring a chunk must leave alone. */
struct ProcessorSnapshot
{
    explicit ProcessorSnapshot (const VobrelAudioProcessor& p)
    {
        flags = { p.powerOn, p.useSidechainInput, p.recordArmed, p.playActive, p.manualPlay, p.playPaused,
                  p.slotHasData[0], p.slotHasData[1], p.slotHasData[2], p.slotHasData[3],
                  p.dsp->isRecording, p.dsp->playbackStarted, p.dsp->holdPlayback, p.dsp->isPaused };
        numbers = { p.currentSlot, p.dsp->position, p.dsp->lastRecordTime };

        for (int s = 0; s < CDSP::kNumSlots; ++s)
        {
            numbers.push_back (p.dsp->slotStartTime[s]);
            numbers.push_back (p.dsp->slotLeft (s).Size());
            numbers.push_back (p.dsp->slotRight (s).Size());

            if (p.dsp->slotLeft (s).Size() > 0)
                samples.push_back (p.dsp->slotLeft (s)[p.dsp->slotLeft (s).Size() - 1]);
        }

        currentLeft = p.dsp->currentLeft;
    }

    bool operator== (const ProcessorSnapshot& other) const
    {
        return flags == other.flags && numbers == other.numbers && samples == other.samples
            && currentLeft == other.currentLeft;
    }

    std::vector<bool> flags;
    std::vector<juce::int64> numbers;
    std::vector<double> samples;
    const CSampleSequence* currentLeft = nullptr;
};
