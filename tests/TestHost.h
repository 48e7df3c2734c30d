#pragma once

#include "engine/PluginProcessor.h"
#include "ScriptedPlayHead.h"

#include <functional>

//==============================================================================
/** Drives a VobrelAudioProcessor as a plug-in format wrapper does: it applies bus
    layouts through the framework, installs a play head, lays the block buffer out
    as main channels then sidechain channels, and calls processBlock (or the
    bypassed variant) under the processor's callback lock.
*/
class TestHost
{
public:
    TestHost();
    ~TestHost();

    VobrelAudioProcessor& processor()    { return *plugin; }
    CDSP& recorder()                     { return *plugin->dsp; }
    ScriptedPlayHead playHead;

    /** Asks the framework for a layout; false when the processor refuses it. */
    bool setLayout (const juce::AudioChannelSet& main, const juce::AudioChannelSet& sidechain);

    int mainChannels() const;
    int sidechainChannels() const;

    void prepare (double sampleRate, int blockSize);
    void setBypassed (bool shouldBypass)   { bypassed = shouldBypass; }

    /** Runs a control action as the editor does: whole, between two blocks. */
    void act (const std::function<void (VobrelAudioProcessor&)>& action);

    /** One block: the main and sidechain inputs (channel counts may differ from
        the layout; missing channels are silence). Returns the main output. */
    juce::AudioBuffer<float> block (const juce::AudioBuffer<float>& main,
                                    const juce::AudioBuffer<float>& sidechain,
                                    bool playing, juce::int64 time);

    /** Consecutive blocks over whole signals; the timeline advances while playing.
        Returns the main output and leaves the play head after the last block. */
    juce::AudioBuffer<float> run (const juce::AudioBuffer<float>& main,
                                  const juce::AudioBuffer<float>& sidechain,
                                  bool playing, juce::int64 startTime, int blockSize = 512);

    juce::MidiBuffer midi;

private:
    std::unique_ptr<VobrelAudioProcessor> plugin;
    bool bypassed = false;
};

//==============================================================================
/** A test signal: channel c, frame i holds a value unique to (seed, c, i). */
juce::AudioBuffer<float> makeSignal (int channels, int frames, int seed);

/** Frames [start, start + length) of a buffer's channels. */
juce::AudioBuffer<float> slice (const juce::AudioBuffer<float>&, int start, int length);

/** True when two buffers hold the same samples, bit for bit. */
bool bitIdentical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b);
