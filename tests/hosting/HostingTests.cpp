// Loads the built Vobrel binaries (VST3 bundle, LV2 bundle) through JUCE's own
// plug-in hosting and checks what a host sees of them and does with them.

#include <juce_audio_processors/juce_audio_processors.h>

#include "../ScriptedPlayHead.h"
#include "BuiltBinaries.h"

#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
using juce::AudioChannelSet;

enum class Format { vst3, lv2 };

const char* formatName (Format f)    { return f == Format::vst3 ? "VST3" : "LV2"; }
juce::File builtBinary (Format f)    { return juce::File (f == Format::vst3 ? VOBREL_VST3_BINARY : VOBREL_LV2_BINARY); }
void PrintTo (Format f, std::ostream* os)   { *os << formatName (f); }

//==============================================================================
// The chunk the plug-in writes, byte for byte.
juce::MemoryBlock expectedChunk()
{
    static const unsigned char bytes[] = {
        0x56, 0x43, 0x32, 0x21, 0x3A, 0x00, 0x00, 0x00, 0x3C, 0x3F, 0x78, 0x6D, 0x6C, 0x20, 0x76, 0x65,
        0x72, 0x73, 0x69, 0x6F, 0x6E, 0x3D, 0x22, 0x31, 0x2E, 0x30, 0x22, 0x20, 0x65, 0x6E, 0x63, 0x6F,
        0x64, 0x69, 0x6E, 0x67, 0x3D, 0x22, 0x55, 0x54, 0x46, 0x2D, 0x38, 0x22, 0x3F, 0x3E, 0x20, 0x3C,
        0x4D, 0x59, 0x50, 0x4C, 0x55, 0x47, 0x49, 0x4E, 0x53, 0x45, 0x54, 0x54, 0x49, 0x4E, 0x47, 0x53,
        0x2F, 0x3E, 0x00
    };
    static_assert (sizeof (bytes) == 67);
    return { bytes, sizeof (bytes) };
}

//==============================================================================
// Scanning the binaries once is enough; instances are made per test. Everything is
// gone before main() returns, while the message manager still exists.
class Binaries final : public ::testing::Environment
{
public:
    static Binaries* get()   { return instance; }

    void SetUp() override
    {
        instance = this;

        const auto lv2Bundle = juce::File (VOBREL_LV2_BUNDLE);
        scanned = std::make_unique<Scanned>();

        // The module sits in <bundle>/Contents/<arch>-linux.
        const auto vst3Bundle = juce::File (VOBREL_VST3_BINARY_DIR).getParentDirectory().getParentDirectory();
        scanned->vst3Format.findAllTypesForFile (scanned->vst3Types, vst3Bundle.getFullPathName());

        scanned->lv2Found = scanned->lv2Format.searchPathsForPlugins (
            juce::FileSearchPath (lv2Bundle.getParentDirectory().getFullPathName()), false);
        scanned->lv2Format.findAllTypesForFile (scanned->lv2Types, VOBREL_LV2_URI);
    }

    void TearDown() override
    {
        scanned.reset();
        instance = nullptr;
    }

    const juce::OwnedArray<juce::PluginDescription>& types (Format f) const
    {
        return f == Format::vst3 ? scanned->vst3Types : scanned->lv2Types;
    }

    const juce::StringArray& lv2Found() const   { return scanned->lv2Found; }

    std::unique_ptr<juce::AudioPluginInstance> create (Format f, double rate = 48000.0, int block = 512)
    {
        const auto& found = types (f);

        if (found.size() != 1)
            return {};

        juce::String error;
        auto& format = f == Format::vst3 ? static_cast<juce::AudioPluginFormat&> (scanned->vst3Format)
                                         : static_cast<juce::AudioPluginFormat&> (scanned->lv2Format);
        auto result = format.createInstanceFromDescription (*found[0], rate, block, error);

        if (result == nullptr)
            ADD_FAILURE() << formatName (f) << ": " << error;

        return result;
    }

private:
    struct Scanned
    {
        juce::VST3PluginFormat vst3Format;
        juce::LV2PluginFormat lv2Format;
        juce::OwnedArray<juce::PluginDescription> vst3Types, lv2Types;
        juce::StringArray lv2Found;
    };

    static inline Binaries* instance = nullptr;
    std::unique_ptr<Scanned> scanned;
};

//==============================================================================
// Channel c, frame i of a signal: a value unique to (seed, c, i), never zero or denormal.
float signalValue (int seed, int channel, juce::int64 frame)
{
    const auto h = ((juce::uint64) frame * 2654435761u + (juce::uint64) seed * 97u + (juce::uint64) channel * 7919u) % 1000003u;
    return ((float) h + 0.5f) / 1000003.0f - 0.5f;
}

struct TransportStep
{
    bool playing;
    juce::int64 locateTo;   // -1: carry on from where the last block ended
    int blocks;
};

// Played, stopped, relocated forward and back: the transport moves a host makes.
const std::vector<TransportStep> transportScript {
    { true, 0, 6 },
    { false, -1, 3 },
    { true, -1, 4 },
    { true, 96000, 3 },
    { false, 1000, 2 },
    { true, 1000, 5 },
};

//==============================================================================
class HostedBinary : public ::testing::TestWithParam<Format>
{
protected:
    void SetUp() override
    {
        ASSERT_NE (Binaries::get(), nullptr);
        ASSERT_EQ (Binaries::get()->types (GetParam()).size(), 1)
            << "the built " << formatName (GetParam()) << " binary should hold exactly one plug-in";
        plugin = Binaries::get()->create (GetParam());
        ASSERT_NE (plugin, nullptr);
        ASSERT_EQ (builtbinaries::whatIsWrongWithLoadedBinaries (builtBinary (GetParam())).toStdString(), "");
        plugin->setPlayHead (&playHead);
    }

    void TearDown() override
    {
        if (plugin != nullptr)
        {
            plugin->releaseResources();
            plugin.reset();
        }
    }

    bool isVst3() const   { return GetParam() == Format::vst3; }

    bool applyLayout (const AudioChannelSet& in, const AudioChannelSet& out, const AudioChannelSet& side)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.inputBuses.add (side);
        layout.outputBuses.add (out);
        return plugin->setBusesLayout (layout);
    }

    /** Runs the transport script in blocks of varying size and checks that every
        main-channel sample comes out with the bits it went in with, while the
        sidechain carries a different signal. Returns the number of frames checked. */
    juce::int64 checkPassThrough (double rate, int maxBlock, juce::AudioPluginInstance* target = nullptr)
    {
        auto& instance = target != nullptr ? *target : *plugin;
        instance.setPlayHead (&playHead);
        instance.prepareToPlay (rate, maxBlock);

        const auto mainChannels = instance.getChannelCountOfBus (true, 0);
        const auto sideChannels = instance.getChannelCountOfBus (true, 1);
        const auto outChannels = instance.getChannelCountOfBus (false, 0);
        EXPECT_EQ (mainChannels, outChannels);

        const auto total = juce::jmax (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
        const int sizes[] = { maxBlock, maxBlock / 2 + 1, 1, maxBlock - 1, 64, maxBlock };

        juce::AudioBuffer<float> buffer (total, maxBlock);
        juce::MidiBuffer midi;
        juce::int64 streamFrame = 0, checked = 0, time = 0;
        int mismatches = 0, blockIndex = 0;

        for (const auto& step : transportScript)
        {
            if (step.locateTo >= 0)
                time = step.locateTo;

            for (int b = 0; b < step.blocks; ++b, ++blockIndex)
            {
                const auto n = sizes[(size_t) blockIndex % std::size (sizes)];
                buffer.setSize (total, n, false, false, true);

                for (int c = 0; c < mainChannels; ++c)
                    for (int i = 0; i < n; ++i)
                        buffer.setSample (c, i, signalValue (1, c, streamFrame + i));

                for (int c = 0; c < sideChannels; ++c)
                    for (int i = 0; i < n; ++i)
                        buffer.setSample (mainChannels + c, i, signalValue (2, c, streamFrame + i));

                for (int c = mainChannels + sideChannels; c < total; ++c)
                    buffer.clear (c, 0, n);

                playHead.playing = step.playing;
                playHead.timeInSamples = time;
                midi.clear();
                instance.processBlock (buffer, midi);

                for (int c = 0; c < mainChannels; ++c)
                    for (int i = 0; i < n; ++i)
                    {
                        const auto expected = signalValue (1, c, streamFrame + i);
                        const auto actual = buffer.getSample (c, i);

                        if (std::memcmp (&expected, &actual, sizeof (float)) != 0 && mismatches++ < 5)
                            ADD_FAILURE() << formatName (GetParam()) << ": channel " << c << ", frame "
                                          << streamFrame + i << ": " << actual << " instead of " << expected;
                    }

                EXPECT_TRUE (midi.isEmpty());

                checked += n;
                streamFrame += n;

                if (step.playing)
                    time += n;
            }
        }

        EXPECT_EQ (mismatches, 0);
        return checked;
    }

    juce::MemoryBlock hostState()
    {
        juce::MemoryBlock block;
        plugin->getStateInformation (block);
        return block;
    }

    /** The plug-in's own chunk, as far as each wrapper lets the host see it. */
    void expectChunkInside (const juce::MemoryBlock& hostBlock)
    {
        const auto chunk = expectedChunk();

        if (isVst3())
        {
            // JUCE's VST3 host keeps the component's stream, base64, inside an XML document.
            const auto xml = juce::AudioProcessor::getXmlFromBinary (hostBlock.getData(), (int) hostBlock.getSize());
            ASSERT_NE (xml, nullptr);
            EXPECT_EQ (xml->getTagName(), "VST3PluginState");

            auto* component = xml->getChildByName ("IComponent");
            ASSERT_NE (component, nullptr);

            juce::MemoryBlock stream;
            ASSERT_TRUE (stream.fromBase64Encoding (component->getAllSubText()));
            ASSERT_GT (stream.getSize(), chunk.getSize() + 8);

            // The chunk first, then the wrapper's own trailer: a zero int64, its private
            // data, their size, and its marker at the very end.
            EXPECT_EQ (0, std::memcmp (stream.getData(), chunk.getData(), chunk.getSize()));

            juce::MemoryInputStream in (stream, false);
            in.setPosition ((juce::int64) chunk.getSize());
            EXPECT_EQ (in.readInt64(), 0);

            const juce::String marker ("JUCEPrivateData");
            const auto markerSize = (size_t) marker.length();
            ASSERT_GT (stream.getSize(), chunk.getSize() + 16 + markerSize);
            EXPECT_EQ (juce::String::fromUTF8 (static_cast<const char*> (stream.getData()) + stream.getSize() - markerSize,
                                               (int) markerSize),
                       marker);

            in.setPosition ((juce::int64) (stream.getSize() - markerSize - 8));
            const auto privateSize = in.readInt64();
            EXPECT_EQ ((size_t) privateSize, stream.getSize() - chunk.getSize() - 16 - markerSize);

            const auto privateData = juce::ValueTree::readFromData (static_cast<const char*> (stream.getData()) + chunk.getSize() + 8,
                                                                     (size_t) privateSize);
            EXPECT_TRUE (privateData.hasType ("JUCEPrivateData"));
            EXPECT_FALSE ((bool) privateData.getProperty ("Bypass", true));
        }
        else
        {
            // JUCE's LV2 wrapper stores the chunk as JUCE base64 text in the plug-in's state.
            const auto text = juce::String::fromUTF8 (static_cast<const char*> (hostBlock.getData()), (int) hostBlock.getSize());
            const auto property = "<" + juce::String (VOBREL_LV2_URI) + ":StateString> \""
                                + chunk.toBase64Encoding() + "\"";
            EXPECT_TRUE (text.contains (property)) << text;
        }
    }

    ScriptedPlayHead playHead;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
};

//==============================================================================
TEST_P (HostedBinary, IdentityIsVobrelFromFerrowoodAudio)
{
    const auto& desc = *Binaries::get()->types (GetParam())[0];

    EXPECT_EQ (desc.name, "Vobrel");
    EXPECT_EQ (desc.manufacturerName, "Ferrowood Audio");
    EXPECT_EQ (desc.pluginFormatName, formatName (GetParam()));
    EXPECT_FALSE (desc.isInstrument);
    EXPECT_EQ (plugin->getName(), "Vobrel");
    EXPECT_EQ (plugin->getName().length(), 6);

    if (isVst3())
        EXPECT_EQ (desc.version, "1.0.2");
    else
        EXPECT_EQ (desc.fileOrIdentifier, VOBREL_LV2_URI);
}

TEST (LV2Search, FindsTheBundleUnderItsUri)
{
    // The search reports every LV2 plug-in the host knows; ours must be among them, once.
    EXPECT_GT (builtbinaries::confinedLV2Searches(), 0) << "JUCE's LV2 host searched folders outside the build";
    const auto& found = Binaries::get()->lv2Found();
    const auto first = found.indexOf (VOBREL_LV2_URI);
    ASSERT_GE (first, 0) << found.joinIntoString (", ");
    EXPECT_LT (found.indexOf (VOBREL_LV2_URI, false, first + 1), 0);
}

TEST_P (HostedBinary, HasNoMidiNoLatencyNoTail)
{
    EXPECT_FALSE (plugin->acceptsMidi());
    EXPECT_FALSE (plugin->producesMidi());
    EXPECT_FALSE (plugin->isMidiEffect());

    for (const auto rate : { 44100.0, 48000.0, 96000.0 })
    {
        plugin->prepareToPlay (rate, 256);
        EXPECT_EQ (plugin->getLatencySamples(), 0) << rate;
        EXPECT_EQ (plugin->getTailLengthSeconds(), 0.0) << rate;
        plugin->releaseResources();
    }
}

TEST_P (HostedBinary, HasNoParameterButTheWrappersBypass)
{
    // Both wrappers add a bypass switch of their own (VST3 "Bypass", LV2 "enabled");
    // the plug-in itself registers nothing.
    const auto& params = plugin->getParameters();
    auto* bypass = plugin->getBypassParameter();

    ASSERT_NE (bypass, nullptr);
    ASSERT_EQ (params.size(), 1);
    EXPECT_EQ (params[0], bypass);
}

TEST_P (HostedBinary, HasOneProgramWithAnEmptyName)
{
    if (isVst3())
    {
        // JUCE's VST3 host lists programs only through a program-change parameter, which
        // the wrapper makes only for more than one program: ask the unit info directly.
        struct Visitor final : juce::ExtensionsVisitor
        {
            void visitVST3Client (const VST3Client& client) override   { component = client.getIComponentPtr(); }
            Steinberg::Vst::IComponent* component = nullptr;
        } visitor;

        plugin->getExtensions (visitor);
        ASSERT_NE (visitor.component, nullptr);

        Steinberg::Vst::IUnitInfo* units = nullptr;
        ASSERT_EQ (visitor.component->queryInterface (Steinberg::Vst::IUnitInfo::iid, (void**) &units), Steinberg::kResultOk);
        ASSERT_NE (units, nullptr);

        EXPECT_EQ (units->getProgramListCount(), 1);

        Steinberg::Vst::ProgramListInfo list {};
        EXPECT_EQ (units->getProgramListInfo (0, list), Steinberg::kResultTrue);
        EXPECT_EQ (list.programCount, 1);

        Steinberg::Vst::String128 name {};
        name[0] = 'x';
        EXPECT_EQ (units->getProgramName (list.id, 0, name), Steinberg::kResultTrue);
        EXPECT_EQ (name[0], 0);

        units->release();
    }
    else
    {
        // The wrapper publishes each program as an LV2 preset.
        ASSERT_EQ (plugin->getNumPrograms(), 1);
        EXPECT_EQ (plugin->getProgramName (0), juce::String());
        EXPECT_EQ (plugin->getCurrentProgram(), 0);

        plugin->setCurrentProgram (0);
        EXPECT_EQ (plugin->getCurrentProgram(), 0);
        EXPECT_GT (checkPassThrough (48000.0, 512), 0);
    }
}

TEST_P (HostedBinary, BusesAreInputSidechainAndOutput)
{
    ASSERT_EQ (plugin->getBusCount (true), 2);
    ASSERT_EQ (plugin->getBusCount (false), 1);

    EXPECT_EQ (plugin->getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (plugin->getBus (true, 1)->getName(), "Sidechain");
    EXPECT_EQ (plugin->getBus (false, 0)->getName(), "Output");

    EXPECT_EQ (plugin->getBus (true, 0)->getCurrentLayout(), AudioChannelSet::stereo());
    EXPECT_EQ (plugin->getBus (true, 1)->getCurrentLayout(), AudioChannelSet::stereo());
    EXPECT_EQ (plugin->getBus (false, 0)->getCurrentLayout(), AudioChannelSet::stereo());

    EXPECT_EQ (plugin->getTotalNumInputChannels(), 4);
    EXPECT_EQ (plugin->getTotalNumOutputChannels(), 2);

    EXPECT_FALSE (plugin->canAddBus (true));
    EXPECT_FALSE (plugin->canAddBus (false));
}

struct LayoutCase
{
    AudioChannelSet in, out, side;
    bool vst3Accepts, lv2Accepts;
};

TEST_P (HostedBinary, AcceptsMatchingMainLayoutsAndRefusesMonoToStereo)
{
    const auto mono = AudioChannelSet::mono(), stereo = AudioChannelSet::stereo(),
               off = AudioChannelSet::disabled();

    // LV2 ports are fixed in the bundle's description: the wrapper writes the default
    // layout only, so an LV2 host has the stereo configuration and nothing else.
    const LayoutCase cases[] = {
        { stereo, stereo, stereo, true, true },
        { stereo, stereo, mono, true, false },
        { stereo, stereo, off, true, false },
        { mono, mono, stereo, true, false },
        { mono, mono, mono, true, false },
        { mono, mono, off, true, false },
        { mono, stereo, stereo, false, false },
        { mono, stereo, off, false, false },
        { stereo, mono, stereo, false, false },
    };

    for (const auto& c : cases)
    {
        const auto expected = isVst3() ? c.vst3Accepts : c.lv2Accepts;
        const auto description = c.in.getDescription() + " -> " + c.out.getDescription()
                               + ", sidechain " + c.side.getDescription();

        // Start from the default each time, so a refusal is seen against a known layout.
        ASSERT_TRUE (applyLayout (stereo, stereo, stereo));

        EXPECT_EQ (applyLayout (c.in, c.out, c.side), expected) << description;

        if (expected)
        {
            EXPECT_EQ (plugin->getBus (true, 0)->getCurrentLayout(), c.in) << description;
            EXPECT_EQ (plugin->getBus (false, 0)->getCurrentLayout(), c.out) << description;
            EXPECT_EQ (plugin->getChannelCountOfBus (true, 1), c.side.size()) << description;

            SCOPED_TRACE (description.toStdString());
            EXPECT_GT (checkPassThrough (48000.0, 256), 0);
            plugin->releaseResources();
        }
        else
        {
            EXPECT_EQ (plugin->getBus (true, 0)->getCurrentLayout(), stereo) << description;
            EXPECT_EQ (plugin->getBus (false, 0)->getCurrentLayout(), stereo) << description;
        }
    }
}

TEST_P (HostedBinary, PassesMainInputThroughBitExactWithSidechainPresent)
{
    ASSERT_EQ (plugin->getChannelCountOfBus (true, 1), 2);
    EXPECT_GT (checkPassThrough (48000.0, 512), 0);
}

TEST_P (HostedBinary, SurvivesPrepareReleaseAndReset)
{
    const std::pair<double, int> settings[] = { { 48000.0, 512 }, { 44100.0, 128 }, { 96000.0, 1024 }, { 48000.0, 64 } };

    for (const auto& [rate, block] : settings)
    {
        SCOPED_TRACE (juce::String (rate) + " Hz, " + juce::String (block));
        EXPECT_GT (checkPassThrough (rate, block), 0);
        plugin->reset();
        EXPECT_GT (checkPassThrough (rate, block), 0);
        EXPECT_EQ (plugin->getLatencySamples(), 0);
        plugin->releaseResources();
        plugin->releaseResources();
    }

    // A second instance beside the first: instances share nothing.
    auto other = Binaries::get()->create (GetParam());
    ASSERT_NE (other, nullptr);
    EXPECT_GT (checkPassThrough (48000.0, 512, other.get()), 0);
    EXPECT_GT (checkPassThrough (48000.0, 512), 0);
    other->releaseResources();
}

TEST_P (HostedBinary, StateHoldsTheFixedChunk)
{
    plugin->prepareToPlay (48000.0, 512);
    const auto first = hostState();
    expectChunkInside (first);

    checkPassThrough (48000.0, 512);
    EXPECT_EQ (hostState(), first) << "the state does not depend on what the instance processed";
}

TEST_P (HostedBinary, RestoringSavedStateChangesNothing)
{
    EXPECT_GT (checkPassThrough (48000.0, 512), 0);
    const auto saved = hostState();

    plugin->setStateInformation (saved.getData(), (int) saved.getSize());
    EXPECT_EQ (hostState(), saved);
    EXPECT_GT (checkPassThrough (48000.0, 512), 0);
    plugin->releaseResources();

    // Into a fresh instance, as when a host reopens a project.
    auto reopened = Binaries::get()->create (GetParam());
    ASSERT_NE (reopened, nullptr);
    reopened->setStateInformation (saved.getData(), (int) saved.getSize());

    juce::MemoryBlock again;
    reopened->getStateInformation (again);
    EXPECT_EQ (again, saved);

    plugin = std::move (reopened);
    EXPECT_GT (checkPassThrough (48000.0, 512), 0);
    expectChunkInside (hostState());
}

INSTANTIATE_TEST_SUITE_P (Binaries, HostedBinary, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const ::testing::TestParamInfo<Format>& info) { return std::string (formatName (info.param)); });

} // namespace

//==============================================================================
int main (int argc, char** argv)
{
    // VST3 and LV2 hosting run on the message thread: this one.
    juce::ScopedJuceInitialiser_GUI gui;

    ::testing::InitGoogleTest (&argc, argv);
    ::testing::AddGlobalTestEnvironment (new Binaries());
    return RUN_ALL_TESTS();
}
