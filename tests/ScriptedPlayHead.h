#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

//==============================================================================
/** The play head a test or benchmark scripts: is-playing and position for the
    next block, a position without a time, or no position at all. */
class ScriptedPlayHead final : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! reportsPosition)
            return {};

        PositionInfo info;
        info.setIsPlaying (playing);

        if (reportsTime)
            info.setTimeInSamples (timeInSamples);

        return info;
    }

    bool playing = false;
    juce::int64 timeInSamples = 0;
    bool reportsPosition = true;
    bool reportsTime = true;
};
