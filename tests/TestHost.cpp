#include "TestHost.h"

#include <cstring>

//==============================================================================
TestHost::TestHost()
    : plugin (std::make_unique<VobrelAudioProcessor>())
{
    plugin->setPlayHead (&playHead);
    prepare (48000.0, 512);
}

TestHost::~TestHost()
{
    plugin->releaseResources();
}

bool TestHost::setLayout (const juce::AudioChannelSet& main, const juce::AudioChannelSet& sidechain)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (main);
    layout.inputBuses.add (sidechain);
    layout.outputBuses.add (main);
    return plugin->setBusesLayout (layout);
}

int TestHost::mainChannels() const        { return plugin->getChannelCountOfBus (true, 0); }
int TestHost::sidechainChannels() const   { return plugin->getChannelCountOfBus (true, 1); }

void TestHost::prepare (double sampleRate, int blockSize)
{
    plugin->setRateAndBufferSizeDetails (sampleRate, blockSize);
    plugin->prepareToPlay (sampleRate, blockSize);
}

void TestHost::act (const std::function<void (VobrelAudioProcessor&)>& action)
{
    const juce::ScopedLock lock (plugin->getCallbackLock());
    action (*plugin);
}

juce::AudioBuffer<float> TestHost::block (const juce::AudioBuffer<float>& main,
                                          const juce::AudioBuffer<float>& sidechain,
                                          bool playing, juce::int64 time)
{
    const auto m = mainChannels(), s = sidechainChannels();
    const auto n = main.getNumSamples();
    const auto total = juce::jmax (m + s, plugin->getTotalNumOutputChannels());

    juce::AudioBuffer<float> buffer (total, n);
    buffer.clear();

    for (int c = 0; c < juce::jmin (m, main.getNumChannels()); ++c)
        buffer.copyFrom (c, 0, main, c, 0, n);

    for (int c = 0; c < juce::jmin (s, sidechain.getNumChannels()); ++c)
        buffer.copyFrom (m + c, 0, sidechain, c, 0, juce::jmin (n, sidechain.getNumSamples()));

    playHead.playing = playing;
    playHead.timeInSamples = time;

    {
        const juce::ScopedLock lock (plugin->getCallbackLock());

        if (bypassed)
            plugin->processBlockBypassed (buffer, midi);
        else
            plugin->processBlock (buffer, midi);
    }

    juce::AudioBuffer<float> out (m, n);
    for (int c = 0; c < m; ++c)
        out.copyFrom (c, 0, buffer, c, 0, n);

    return out;
}

juce::AudioBuffer<float> TestHost::run (const juce::AudioBuffer<float>& main,
                                        const juce::AudioBuffer<float>& sidechain,
                                        bool playing, juce::int64 startTime, int blockSize)
{
    const auto total = main.getNumSamples();
    juce::AudioBuffer<float> out (mainChannels(), total);
    auto time = startTime;

    for (int start = 0; start < total; start += blockSize)
    {
        const auto n = juce::jmin (blockSize, total - start);
        const auto sideStart = juce::jmin (start, sidechain.getNumSamples());
        const auto result = block (slice (main, start, n),
                                   slice (sidechain, sideStart, juce::jmin (n, sidechain.getNumSamples() - sideStart)),
                                   playing, time);

        for (int c = 0; c < out.getNumChannels(); ++c)
            out.copyFrom (c, start, result, c, 0, n);

        if (playing)
            time += n;
    }

    playHead.timeInSamples = time;
    return out;
}

//==============================================================================
juce::AudioBuffer<float> makeSignal (int channels, int frames, int seed)
{
    juce::AudioBuffer<float> signal (channels, frames);

    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
        {
            // Distinct values in [-0.5, 0.5), so an off-by-one alignment cannot pass.
            const auto h = ((juce::uint64) i * 2654435761u + (juce::uint64) seed * 97u + (juce::uint64) c * 7919u) % 1000003u;
            signal.setSample (c, i, (float) h / 1000003.0f - 0.5f);
        }

    return signal;
}

juce::AudioBuffer<float> slice (const juce::AudioBuffer<float>& source, int start, int length)
{
    juce::AudioBuffer<float> result (source.getNumChannels(), juce::jmax (0, length));

    for (int c = 0; c < source.getNumChannels(); ++c)
        if (length > 0)
            result.copyFrom (c, 0, source, c, start, length);

    return result;
}

bool bitIdentical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;

    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
            return false;

    return true;
}
