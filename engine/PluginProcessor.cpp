#include "PluginProcessor.h"
#include "editor/PluginEditor.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace
{
    constexpr juce::uint32 stateMagic = 0x21324356;
    const char* const stateTag = "MYPLUGINSETTINGS";

    /** Our own settings text is 58 bytes. The parser's time grows faster than the
        text (with the square of an attribute full of references), so no more than
        this is ever copied, scanned or parsed: longer text cannot be ours. */
    constexpr int maxStateText = 4096;

    /** True if the '&' at `i` starts a reference of plain name characters closed by ';'. */
    bool isPlainReference (const char* text, int i, int length)
    {
        for (int k = i + 1; k < length; ++k)
        {
            const auto c = (unsigned char) text[k];

            if (c == ';')
                return k > i + 1;

            if (! (std::isalnum (c) || c == '#' || c == '_' || c == '-' || c == '.' || c == ':'))
                return false;
        }

        return false;
    }

    /** JUCE's XML parser loops for ever on a processing instruction inside an
        element, recurses without end on an entity of a document type that names
        itself, recurses once per nesting level, reads past the end of a text that
        stops inside a character reference, and parses an unknown reference's name
        as more XML. None of that can be our settings, so such text is never
        handed to it. */
    bool isSafeToParse (const char* text, int length)
    {
        constexpr int maxTags = 64;
        int tags = 0;
        bool insideElement = false;

        const auto follows = [&] (int i, const char* word)
        {
            for (int k = 0; word[k] != 0; ++k)
                if (i + 1 + k >= length || std::toupper ((unsigned char) text[i + 1 + k]) != word[k])
                    return false;

            return true;
        };

        for (int i = 0; i < length; ++i)
        {
            if (text[i] == '&' && ! isPlainReference (text, i, length))
                return false;

            if (text[i] != '<')
                continue;

            if (++tags > maxTags || follows (i, "!DOCTYPE") || (insideElement && follows (i, "?")))
                return false;

            if (! follows (i, "?") && ! follows (i, "!"))
                insideElement = true;
        }

        return true;
    }
}

//==============================================================================
VobrelAudioProcessor::VobrelAudioProcessor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true)
                          .withInput ("Sidechain", juce::AudioChannelSet::stereo(), true)),
      dsp (std::make_unique<CDSP>())
{
    // Blocks of a usual size need nothing more, even in a host that never prepares.
    prepareWorkingBuffer (0);
}

VobrelAudioProcessor::~VobrelAudioProcessor()
{
    dsp.reset();
}

//==============================================================================
const juce::String VobrelAudioProcessor::getName() const    { return "Vobrel"; }

void VobrelAudioProcessor::prepareToPlay (double, int maximumExpectedSamplesPerBlock)
{
    prepareWorkingBuffer (maximumExpectedSamplesPerBlock);
}

void VobrelAudioProcessor::processorLayoutsChanged()
{
    prepareWorkingBuffer (getBlockSize());
}

void VobrelAudioProcessor::releaseResources()                {}

double VobrelAudioProcessor::getTailLengthSeconds() const   { return 0.0; }
bool VobrelAudioProcessor::acceptsMidi() const               { return false; }
bool VobrelAudioProcessor::producesMidi() const              { return false; }
bool VobrelAudioProcessor::isMidiEffect() const              { return false; }

juce::AudioProcessorEditor* VobrelAudioProcessor::createEditor()   { return new VobrelAudioProcessorEditor (*this); }
bool VobrelAudioProcessor::hasEditor() const                         { return true; }

int VobrelAudioProcessor::getNumPrograms()                                  { return 1; }
int VobrelAudioProcessor::getCurrentProgram()                               { return 0; }
void VobrelAudioProcessor::setCurrentProgram (int)                          {}
const juce::String VobrelAudioProcessor::getProgramName (int)               { return {}; }
void VobrelAudioProcessor::changeProgramName (int, const juce::String&)     {}

//==============================================================================
bool VobrelAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto mainOut = layouts.getMainOutputChannelSet();

    if (mainOut != juce::AudioChannelSet::mono() && mainOut != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == mainOut;
}

//==============================================================================
void VobrelAudioProcessor::stopAll (bool wakeWorker) noexcept
{
    recordArmed = false;
    playActive = false;
    manualPlay = false;

    if (dsp->isRecording)
    {
        // A take that could not store a single frame leaves its slot empty,
        // whatever the slot held before.
        const auto slot = currentSlot.load();
        slotHasData[(size_t) slot] = dsp->EndTake (slot, wakeWorker);
    }

    dsp->playbackStarted = false;
    dsp->lastRecordTime = 0;
    dsp->holdPlayback = true;
    dsp->isPaused = false;
    playPaused = false;
}

//==============================================================================
void VobrelAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    // Nothing thrown may reach the host: on any failure the block passes through as it came.
    try
    {
        if (! fitWorkingBuffer (buffer.getNumChannels(), buffer.getNumSamples()))
            return;

        workingBuffer->makeCopyOf (buffer, true);
        process (*workingBuffer);
        buffer.makeCopyOf (*workingBuffer, true);
    }
    catch (...) {}
}

void VobrelAudioProcessor::processBlock (juce::AudioBuffer<double>& buffer, juce::MidiBuffer&)
{
    try
    {
        process (buffer);
    }
    catch (...) {}
}

//==============================================================================
VobrelAudioProcessor::WorkingBuffer VobrelAudioProcessor::makeWorkingBuffer (Capacity capacity) noexcept
{
    try
    {
        // Sized with setSize, which reckons the storage exactly as the copy of a
        // block does later: any smaller block then fits without reallocating
        // (the constructor reckons a few bytes less).
        auto buffer = std::make_unique<juce::AudioBuffer<double>>();
        buffer->setSize (capacity.channels, capacity.frames);

        // Touched here, so that the audio thread takes no page faults.
        buffer->setNotClear();
        buffer->clear();
        return buffer;
    }
    catch (...)
    {
        return nullptr;
    }
}

void VobrelAudioProcessor::prepareWorkingBuffer (int maximumFrames)
{
    // The wrappers hand every input and output channel over in one buffer.
    const Capacity wanted { juce::jmax (defaultWorkingCapacity.channels, getTotalNumInputChannels(), getTotalNumOutputChannels()),
                            juce::jmax (defaultWorkingCapacity.frames, maximumFrames) };

    if (workingBuffer != nullptr && wanted == workingCapacity)
        return;

    auto fresh = makeWorkingBuffer (wanted);

    if (fresh == nullptr)
        return;  // no memory now: a larger block tries again, or passes through

    {
        const juce::ScopedLock betweenBlocks (getCallbackLock());
        std::swap (workingBuffer, fresh);
        workingCapacity = wanted;
    }

    // The old buffer is freed here, once the lock is released.
}

bool VobrelAudioProcessor::fitWorkingBuffer (int numChannels, int numFrames) noexcept
{
    if (workingBuffer != nullptr && workingCapacity.holds (numChannels, numFrames))
        return true;  // the copy reuses the storage and allocates nothing

    // More than the host announced: one growth, here. The new buffer is made
    // aside, so a failure leaves the old one whole.
    const Capacity wanted { juce::jmax (numChannels, workingCapacity.channels),
                            juce::jmax (numFrames, workingCapacity.frames) };
    auto grown = makeWorkingBuffer (wanted);

    if (grown == nullptr)
        return false;

    workingBuffer = std::move (grown);
    workingCapacity = wanted;
    return true;
}

//==============================================================================
void VobrelAudioProcessor::process (juce::AudioBuffer<double>& buffer)
{
    const auto mainChannels = getChannelCountOfBus (true, 0);
    const auto main = busView (buffer, 0, mainChannels);
    const auto sidechain = busView (buffer, mainChannels, getChannelCountOfBus (true, 1));

    for (auto channel = getTotalNumInputChannels();
         channel < juce::jmin (getTotalNumOutputChannels(), buffer.getNumChannels()); ++channel)
        buffer.clear (channel, 0, buffer.getNumSamples());

    const bool mono = ! (main.count >= 2 && getTotalNumOutputChannels() >= 2);
    const auto position = readHostPosition (buffer.getNumSamples());

    followTransport (position);

    if (! powerOn.load (std::memory_order_relaxed))
        return;

    if (sidechain.count == 0)
        useSidechainInput.store (false, std::memory_order_relaxed);

    if (main.count == 0 || buffer.getNumSamples() <= 0)
        return;

    processFrames (main, sidechain, buffer.getNumSamples(), position, mono);
}

// A plain view: a juce::AudioBuffer over more than 32 channels would allocate
// its channel list on every block.
VobrelAudioProcessor::BusChannels VobrelAudioProcessor::busView (juce::AudioBuffer<double>& buffer,
                                                                 int firstChannel, int numChannels) noexcept
{
    // Never beyond what the buffer holds.
    firstChannel = juce::jlimit (0, buffer.getNumChannels(), firstChannel);
    numChannels = juce::jlimit (0, buffer.getNumChannels() - firstChannel, numChannels);
    return { buffer.getArrayOfWritePointers() + firstChannel, numChannels };
}

VobrelAudioProcessor::HostPosition VobrelAudioProcessor::readHostPosition (int numFrames)
{
    // A host may report the transport only when it changes (LV2's time extension
    // allows it, and JUCE's LV2 wrapper then has no position for the blocks in
    // between): the transport runs on as last reported. Before any report the
    // host counts as stopped at the start.
    auto result = expectedPosition;

    if (auto* head = getPlayHead())
    {
        if (const auto info = head->getPosition())
        {
            result.isPlaying = info->getIsPlaying();

            if (const auto time = info->getTimeInSamples())
                result.timeInSamples = *time;
        }
    }

    expectedPosition = result;

    if (result.isPlaying && numFrames > 0)
        expectedPosition.timeInSamples = result.timeInSamples > std::numeric_limits<juce::int64>::max() - numFrames
                                             ? std::numeric_limits<juce::int64>::max()
                                             : result.timeInSamples + numFrames;

    return result;
}

void VobrelAudioProcessor::followTransport (const HostPosition& position) noexcept
{
    if (dsp->isRecording && dsp->lastRecordTime > position.timeInSamples)
        stopAll();

    if ((dsp->isRecording || dsp->playbackStarted) && ! manualPlay.load() && ! position.isPlaying)
        stopAll();

    if (! position.isPlaying)
        dsp->holdPlayback = false;
}

void VobrelAudioProcessor::processFrames (BusChannels main, BusChannels sidechain, int numFrames,
                                          const HostPosition& position, bool mono) noexcept
{
    auto* mainLeft = main.channels[0];
    auto* mainRight = mono ? mainLeft : main.channels[1];

    const double* sideLeft = sidechain.count > 0 ? sidechain.channels[0] : mainLeft;
    const double* sideRight = sidechain.count > 1 ? sidechain.channels[1]
                                                  : (sidechain.count == 1 ? sideLeft : mainRight);

    auto& recorder = *dsp;

    for (int i = 0; i < numFrames; ++i)
    {
        const bool fromSidechain = useSidechainInput.load (std::memory_order_relaxed);
        const bool play = playActive.load (std::memory_order_relaxed);

        recorder.DoProcess (fromSidechain ? sideLeft[i] : mainLeft[i],
                            fromSidechain ? sideRight[i] : mainRight[i],
                            mainLeft + i, mainRight + i,
                            recordArmed.load (std::memory_order_relaxed),
                            play,
                            position.isPlaying, position.timeInSamples,
                            currentSlot.load (std::memory_order_relaxed),
                            slotHasData.data(), mono);

        // Only this thread writes playActive while a block runs (the editor's
        // writes land between blocks), so the value just read still holds.
        if (! play && (recorder.isRecording || (recorder.playbackStarted && ! recorder.isPaused)))
            playActive.store (true, std::memory_order_relaxed);
    }
}

//==============================================================================
void VobrelAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    copyXmlToBinary (juce::XmlElement (stateTag), destData);
}

void VobrelAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < 9)
        return;

    const auto* bytes = static_cast<const char*> (data);

    if (juce::ByteOrder::littleEndianInt (bytes) != stateMagic)
        return;

    const auto textLength = static_cast<int> (juce::ByteOrder::littleEndianInt (bytes + 4));

    if (textLength <= 0)
        return;

    // A private, zero-padded copy: the UTF-8 decoder may look a few bytes ahead
    // of a truncated character, and must never look past what the host gave us.
    const auto available = juce::jmin (textLength, sizeInBytes - 8, maxStateText + 1);
    juce::HeapBlock<char> text ((size_t) available + 4, true);

    if (text == nullptr)
        return;

    std::memcpy (text.get(), bytes + 8, (size_t) available);

    // The text ends at a zero byte, as the parser sees it; what follows is never
    // checked, so it must not reach the parser's string either.
    const auto textEnd = (int) (std::find (text.get(), text.get() + available, '\0') - text.get());

    if (textEnd > maxStateText
         || ! juce::CharPointer_UTF8::isValidString (text.get(), textEnd) || ! isSafeToParse (text.get(), textEnd))
        return;

    const auto xml = juce::XmlDocument::parse (juce::String::fromUTF8 (text.get(), textEnd));
    const bool recognised = xml != nullptr && xml->getTagName().equalsIgnoreCase (stateTag);

    // Nothing is saved, so nothing is restored, recognised or not.
    juce::ignoreUnused (recognised);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new VobrelAudioProcessor();
}
