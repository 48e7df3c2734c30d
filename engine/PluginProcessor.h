#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "CDSP.h"

#include <array>
#include <atomic>
#include <memory>

//==============================================================================
/** The plug-in's processor: three buses, the control state that the editor
    drives, and the memory recorder that every block runs through.

    Control fields are lock-free atomics. The editor's actions (except the
    sidechain flip) run under getCallbackLock(), which the format wrappers hold
    around every block, so a block sees an action whole or not at all.
*/
class VobrelAudioProcessor final : public juce::AudioProcessor
{
public:
    VobrelAudioProcessor();
    ~VobrelAudioProcessor() override;

    //==============================================================================
    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processorLayoutsChanged() override;

    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlock (juce::AudioBuffer<double>&, juce::MidiBuffer&) override;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    /** The one stop sequence: transport following, Stop and power-off all run it.
        Call it on the audio thread, or under getCallbackLock(); under the lock,
        pass false and call dsp->blocks.Wake() once the lock is released. */
    void stopAll (bool wakeWorker = true) noexcept;

    //==============================================================================
    std::atomic<bool> powerOn { true };
    std::atomic<bool> useSidechainInput { false };
    std::atomic<bool> recordArmed { false };
    std::atomic<bool> playActive { false };
    std::atomic<bool> manualPlay { false };
    std::atomic<bool> playPaused { false };
    std::atomic<int> currentSlot { 0 };
    std::array<std::atomic<bool>, CDSP::kNumSlots> slotHasData {};

    std::unique_ptr<CDSP> dsp;

    static_assert (std::atomic<bool>::is_always_lock_free);
    static_assert (std::atomic<int>::is_always_lock_free);
    static_assert (sizeof (int) == 4);

private:
    //==============================================================================
    struct HostPosition
    {
        bool isPlaying = false;
        juce::int64 timeInSamples = 0;
    };

    /** A run of the block buffer's channels: one bus. */
    struct BusChannels
    {
        double* const* channels;
        int count;
    };

    static BusChannels busView (juce::AudioBuffer<double>& buffer, int firstChannel, int numChannels) noexcept;
    void process (juce::AudioBuffer<double>&);
    HostPosition readHostPosition (int numFrames);
    void followTransport (const HostPosition&) noexcept;
    void processFrames (BusChannels main, BusChannels sidechain, int numFrames,
                        const HostPosition&, bool mono) noexcept;

    //==============================================================================
    struct Capacity
    {
        int channels, frames;

        bool holds (int numChannels, int numFrames) const noexcept   { return numChannels <= channels && numFrames <= frames; }
        bool operator== (const Capacity& o) const noexcept            { return channels == o.channels && frames == o.frames; }
    };

    using WorkingBuffer = std::unique_ptr<juce::AudioBuffer<double>>;

    static WorkingBuffer makeWorkingBuffer (Capacity) noexcept;
    void prepareWorkingBuffer (int maximumFrames);
    bool fitWorkingBuffer (int numChannels, int numFrames) noexcept;

    // The 64-bit copy of each block, kept between blocks and sized off the audio
    // thread for what the host announced; never smaller than this.
    static constexpr Capacity defaultWorkingCapacity { 4, 8192 };

    WorkingBuffer workingBuffer;
    Capacity workingCapacity {};

    /** Where the transport is by the next block if the host says nothing then;
        only the audio thread touches it. */
    HostPosition expectedPosition;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VobrelAudioProcessor)
};
