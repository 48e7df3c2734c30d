// End to end, as a user works: JUCE hosts the built Vobrel binary, opens the
// plug-in's own editor in a real window on the X server, and the panel is
// clicked with real X events (xdotool) while an audio thread feeds the plug-in
// blocks under a scripted transport. The plug-in is judged by what it shows
// (screen pixels against the artwork) and what it outputs, nothing else.
//
// Needs a display: ctest runs it under xvfb-run.

#include <juce_audio_processors/juce_audio_processors.h>

#include "../MessageLoop.h"
#include "../PanelLooks.h"
#include "../ScriptedPlayHead.h"
#include "BuiltBinaries.h"
#include "XScreen.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace
{
using juce::int64;

enum class Format { vst3, lv2 };

const char* formatName (Format f)   { return f == Format::vst3 ? "VST3" : "LV2"; }
juce::File builtBinary (Format f)   { return juce::File (f == Format::vst3 ? VOBREL_VST3_BINARY : VOBREL_LV2_BINARY); }
void PrintTo (Format f, std::ostream* os)   { *os << formatName (f); }

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int panelWidth = 850, panelHeight = 156;

//==============================================================================
// Signals: every (seed, channel, stream frame) gets its own value, so a take, the
// main input and the sidechain can never be mistaken for one another.
float signalValue (int seed, int channel, int64 frame)
{
    auto z = (juce::uint64) frame * 4u + (juce::uint64) channel + (juce::uint64) seed * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (float) (z >> 40) / 16777216.0f - 0.5f;   // 24 bits: exact in a float
}

float mainInput (int64 frame, int channel)   { return signalValue (1, channel, frame); }
float sideInput (int64 frame, int channel)   { return signalValue (2, channel, frame); }

bool sameBits (float a, float b)   { return std::memcmp (&a, &b, sizeof (float)) == 0; }

//==============================================================================
/** The artwork, from the project's resources, as RGB (the screen has no alpha). */
PanelArt loadArtwork()
{
    PanelArt art;

    for (int i = 1; i <= 14; ++i)
    {
        const auto file = juce::File (VOBREL_ARTWORK_DIR).getChildFile ("temp" + juce::String (i) + ".png");
        art[(size_t) i] = juce::ImageFileFormat::loadFrom (file).convertedToFormat (juce::Image::RGB);
    }

    return art;
}

bool isComplete (const PanelArt& art)
{
    for (int i = 1; i <= 14; ++i)
        if (! art[(size_t) i].isValid())
            return false;

    return art[1].getWidth() == panelWidth && art[1].getHeight() == panelHeight;
}

//==============================================================================
/** The host's audio side: a thread that runs the plug-in block by block at real
    time, feeds it known main and sidechain signals, keeps every output frame,
    and follows transport commands from the test. */
class AudioDriver
{
public:
    struct BlockInfo
    {
        bool playing;
        int64 time;
    };

    AudioDriver (juce::AudioPluginInstance& p, int maxSeconds)
        : plugin (p),
          maxBlocks ((int) (maxSeconds * sampleRate) / blockSize),
          blocks ((size_t) maxBlocks),
          outputs { std::vector<float> ((size_t) maxBlocks * blockSize), std::vector<float> ((size_t) maxBlocks * blockSize) }
    {
        plugin.setPlayHead (&playHead);
        plugin.prepareToPlay (sampleRate, blockSize);
    }

    ~AudioDriver()
    {
        stop();
        plugin.releaseResources();
        plugin.setPlayHead (nullptr);
    }

    void start()    { thread = std::thread ([this] { run(); }); }

    void stop()
    {
        quit = true;

        if (thread.joinable())
            thread.join();
    }

    /** The transport plays from `from` at the next block. */
    void roll (int64 from)
    {
        locateTo = from;
        wantPlaying = true;
    }

    void halt()    { wantPlaying = false; }

    /** Blocks begun: every block from this index on starts after the call. */
    int started() const     { return blocksStarted.load(); }

    /** Blocks whose output is complete and may be read. */
    int done() const        { return blocksDone.load (std::memory_order_acquire); }

    bool full() const       { return done() >= maxBlocks; }

    const BlockInfo& block (int index) const            { return blocks[(size_t) index]; }
    float output (int64 frame, int channel) const       { return outputs[(size_t) channel][(size_t) frame]; }

private:
    void run()
    {
        const auto mainChannels = plugin.getChannelCountOfBus (true, 0);
        const auto sideChannels = plugin.getChannelCountOfBus (true, 1);
        const auto total = juce::jmax (plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());

        juce::AudioBuffer<float> buffer (total, blockSize);
        juce::MidiBuffer midi;
        int64 time = 0;

        const auto period = std::chrono::duration<double> (blockSize / sampleRate);
        const auto begin = std::chrono::steady_clock::now();

        for (int n = 0; n < maxBlocks && ! quit; ++n)
        {
            if (const auto to = locateTo.exchange (-1); to >= 0)
                time = to;

            const bool playing = wantPlaying.load();
            blocks[(size_t) n] = { playing, time };
            blocksStarted = n + 1;

            const auto first = (int64) n * blockSize;

            for (int c = 0; c < total; ++c)
                for (int i = 0; i < blockSize; ++i)
                    buffer.setSample (c, i, c < mainChannels ? mainInput (first + i, c)
                                          : c < mainChannels + sideChannels ? sideInput (first + i, c - mainChannels)
                                          : 0.0f);

            playHead.playing = playing;
            playHead.timeInSamples = time;
            midi.clear();
            plugin.processBlock (buffer, midi);

            for (int c = 0; c < 2; ++c)
                std::memcpy (outputs[(size_t) c].data() + first, buffer.getReadPointer (juce::jmin (c, mainChannels - 1)),
                             sizeof (float) * blockSize);

            if (playing)
                time += blockSize;

            blocksDone.store (n + 1, std::memory_order_release);

            // Real time, as a sound card would ask; a late block is made up at once.
            std::this_thread::sleep_until (begin + std::chrono::duration_cast<std::chrono::steady_clock::duration> (period * (n + 1)));
        }
    }

    juce::AudioPluginInstance& plugin;
    ScriptedPlayHead playHead;
    const int maxBlocks;
    std::vector<BlockInfo> blocks;
    std::array<std::vector<float>, 2> outputs;

    std::atomic<bool> quit { false }, wantPlaying { false };
    std::atomic<int64> locateTo { -1 };
    std::atomic<int> blocksStarted { 0 }, blocksDone { 0 };
    std::thread thread;
};

//==============================================================================
/** A recorded take: the main input of the blocks it was recorded in. */
struct Take
{
    int64 streamStart = 0, length = 0, startTime = 0;

    float at (int64 k, int channel) const   { return mainInput (streamStart + k % length, channel); }
};

using FrameFn = std::function<float (int64 frame, int channel)>;

FrameFn passMain()   { return [] (int64 f, int c) { return mainInput (f, c); }; }
FrameFn passSide()   { return [] (int64 f, int c) { return sideInput (f, c); }; }

/** The take playing with its position `position` at stream frame `anchor`. */
FrameFn playing (const Take& take, int64 anchor, int64 position)
{
    return [=] (int64 f, int c) { return take.at (((position + f - anchor) % take.length + take.length) % take.length, c); };
}

//==============================================================================
struct Key
{
    const char* name;
    juce::Rectangle<int> bounds;
};

const Key powerKey { "power", { 59, 52, 59, 48 } }, sidechainKey { "sidechain", { 161, 122, 55, 18 } },
          deleteKey { "delete", { 224, 122, 55, 18 } }, recordKey { "record", { 597, 52, 54, 55 } },
          playKey { "play", { 659, 52, 54, 55 } }, stopKey { "stop", { 722, 52, 54, 55 } },
          slotAKey { "slot-A", { 326, 52, 54, 55 } }, slotBKey { "slot-B", { 388, 52, 54, 55 } };

bool runTool (const juce::StringArray& args)
{
    juce::ChildProcess tool;

    if (! tool.start (args, 0))
        return false;

    if (! tool.waitForProcessToFinish (10000))
    {
        tool.kill();
        return false;
    }

    return tool.getExitCode() == 0;
}

//==============================================================================
class EditorClicks : public ::testing::TestWithParam<Format>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (xscreen::connect()) << "no X display: run under xvfb-run";
        ASSERT_TRUE (isComplete (art)) << VOBREL_ARTWORK_DIR;

        shots = juce::File (VOBREL_SCREENSHOT_DIR).getChildFile (juce::String (formatName (GetParam())).toLowerCase());
        shots.deleteRecursively();
        ASSERT_TRUE (shots.createDirectory().wasOk());

        plugin = createInstance();
        ASSERT_NE (plugin, nullptr);
        ASSERT_EQ (wrongBinaries(), "");
        ASSERT_EQ (plugin->getChannelCountOfBus (true, 0), 2);
        ASSERT_EQ (plugin->getChannelCountOfBus (true, 1), 2);

        driver = std::make_unique<AudioDriver> (*plugin, 60);
        driver->start();
    }

    void TearDown() override
    {
        // Pointer released, editor closed, audio stopped, instance gone: a host closing a project.
        runTool ({ "xdotool", "mouseup", "1" });
        closeEditor();
        driver.reset();
        plugin.reset();
        pump (50);
    }

    std::unique_ptr<juce::AudioPluginInstance> createInstance()
    {
        juce::OwnedArray<juce::PluginDescription> types;
        juce::String error;

        if (GetParam() == Format::vst3)
        {
            // The module sits in <bundle>/Contents/<arch>-linux.
            const auto bundle = juce::File (VOBREL_VST3_BINARY_DIR).getParentDirectory().getParentDirectory();
            vst3Format.findAllTypesForFile (types, bundle.getFullPathName());

            if (types.size() != 1)
            {
                ADD_FAILURE() << "VST3 types found in " << bundle.getFullPathName() << ": " << types.size();
                return {};
            }

            auto result = vst3Format.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
            EXPECT_NE (result, nullptr) << error;
            return result;
        }

        const auto bundle = juce::File (VOBREL_LV2_BUNDLE);
        lv2Format.searchPathsForPlugins (juce::FileSearchPath (bundle.getParentDirectory().getFullPathName()), false);
        lv2Format.findAllTypesForFile (types, VOBREL_LV2_URI);

        if (types.size() != 1)
        {
            ADD_FAILURE() << "LV2 types found for " << VOBREL_LV2_URI << ": " << types.size();
            return {};
        }

        auto result = lv2Format.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
        EXPECT_NE (result, nullptr) << error;
        return result;
    }

    //==============================================================================
    /** Opens the plug-in's editor as a host does, on a top-level window of its own,
        and finds the plug-in's panel on screen: the window of the plug-in's own X
        connection inside the host's. */
    void openEditor()
    {
        editor.reset (plugin->createEditorIfNeeded());
        ASSERT_NE (editor, nullptr) << formatName (GetParam()) << ": the host got no editor";

        editor->setTopLeftPosition (40, 60);
        editor->addToDesktop (0);
        editor->setVisible (true);
        ASSERT_TRUE (pumpUntil ([this] { return editor->isShowing() && editor->getPeer() != nullptr; }, 5000));

        const auto top = (unsigned long) (juce::pointer_sized_uint) editor->getPeer()->getNativeHandle();
        const auto size = editor->getBounds().getBottomRight() - editor->getPosition();
        int x = 0, y = 0;
        auto found = xscreen::Found::none;

        // JUCE 7.0.5's LV2 host now and then leaves the window that it embeds the
        // plug-in's UI in at 1 x 1, so the panel's window is there but clipped away;
        // a resize of the host's window puts it right. (Closing and reopening instead
        // can crash JUCE's XEmbedComponent with a callback to the deleted window.)
        for (int nudge = 0; nudge <= 3; ++nudge)
        {
            if (nudge > 0)
            {
                std::cout << formatName (GetParam()) << ": the host left the panel's window clipped; resizing the host's window ("
                          << nudge << ")" << std::endl;
                editor->setSize (size.x, size.y + 1);
                pump (100);
                editor->setSize (size.x, size.y);
            }

            pumpUntil ([&] { return (found = xscreen::findForeignWindowOfSize (top, panelWidth, panelHeight, x, y))
                                      == xscreen::Found::whole; }, 3000);

            if (found != xscreen::Found::clipped)
                break;
        }

        ASSERT_EQ (found, xscreen::Found::whole)
            << "no whole " << panelWidth << " x " << panelHeight << " window of the plug-in in the host's ("
            << (found == xscreen::Found::none ? "none at all" : "one, clipped") << "); host editor is "
            << editor->getWidth() << " x " << editor->getHeight();

        panel = { x, y, panelWidth, panelHeight };

        // The editor comes from the binary that processes, the built one.
        ASSERT_EQ (wrongBinaries(), "");
    }

    std::string wrongBinaries() const
    {
        return builtbinaries::whatIsWrongWithLoadedBinaries (builtBinary (GetParam())).toStdString();
    }

    void closeEditor()
    {
        if (editor != nullptr)
        {
            plugin->editorBeingDeleted (editor.get());
            editor.reset();
        }

        pump (100);
    }

    /** The panel's pixels as the X server shows them. */
    juce::Image grabPanel() const
    {
        std::vector<std::uint32_t> pixels;

        if (! xscreen::grab (panel.getX(), panel.getY(), panelWidth, panelHeight, pixels))
            return {};

        juce::Image image (juce::Image::RGB, panelWidth, panelHeight, false);
        juce::Image::BitmapData data (image, juce::Image::BitmapData::writeOnly);

        for (int y = 0; y < panelHeight; ++y)
            for (int x = 0; x < panelWidth; ++x)
                data.setPixelColour (x, y, juce::Colour ((juce::uint32) (0xff000000u | pixels[(size_t) (y * panelWidth + x)])));

        return image;
    }

    void save (const juce::Image& image, const juce::String& name)
    {
        const auto file = shots.getChildFile (juce::String (++shotNumber).paddedLeft ('0', 2) + "-" + name + ".png");
        juce::FileOutputStream out (file);

        if (out.openedOk())
            juce::PNGImageFormat().writeImageToStream (image, out);
        else
            ADD_FAILURE() << "cannot write " << file.getFullPathName();
    }

    /** Pumps and grabs until the screen shows `expected` (at most maxMs), saves the
        picture under `name` and checks it. */
    void expectScreen (const PanelLooks& expected, const juce::String& name, int maxMs = 3000)
    {
        juce::Image image;
        PanelLooks seen;

        pumpUntil ([&]
        {
            image = grabPanel();
            seen = image.isValid() ? readPanel (image, art) : PanelLooks { .restIsBaseArt = false };
            return seen == expected;
        }, maxMs);

        if (image.isValid())
            save (image, name);

        EXPECT_EQ (seen, expected) << name << ": what the screen shows";
    }

    /** Pumps and grabs for about ms milliseconds: every picture must show `expected`. */
    void expectSteadyScreen (const PanelLooks& expected, const juce::String& name, int ms)
    {
        juce::Image image;
        int grabs = 0, wrong = 0;
        PanelLooks firstWrong;

        for (int waited = 0; waited < ms; waited += 20, ++grabs)
        {
            pump (20);
            image = grabPanel();
            const auto seen = image.isValid() ? readPanel (image, art) : PanelLooks { .restIsBaseArt = false };

            if (seen != expected && wrong++ == 0)
                firstWrong = seen;
        }

        if (image.isValid())
            save (image, name);

        EXPECT_EQ (wrong, 0) << name << ": " << wrong << " of " << grabs << " pictures differ, the first: "
                             << firstWrong << ", instead of " << expected;
    }

    //==============================================================================
    juce::Point<int> centreOf (const Key& key) const    { return panel.getPosition() + key.bounds.getCentre(); }

    /** A real click at the key's centre. Returns the first block that may see it. */
    int click (const Key& key)
    {
        const auto at = centreOf (key);
        const auto first = driver->started();
        EXPECT_TRUE (runTool ({ "xdotool", "mousemove", juce::String (at.x), juce::String (at.y), "click", "1" }))
            << "xdotool click on " << key.name;
        return first;
    }

    /** The mouse button goes down on the key and stays there. */
    void press (const Key& key)
    {
        const auto at = centreOf (key);
        EXPECT_TRUE (runTool ({ "xdotool", "mousemove", juce::String (at.x), juce::String (at.y), "mousedown", "1" }))
            << "xdotool mousedown on " << key.name;
    }

    /** Lets go; the key's action runs. Returns the first block that may see it. */
    int release()
    {
        const auto first = driver->started();
        EXPECT_TRUE (runTool ({ "xdotool", "mouseup", "1" }));
        return first;
    }

    /** Lets the audio thread run a few more blocks, so that what the screen just
        showed has reached the output; returns the first block begun after now. */
    int settle (int blocks = 8)
    {
        const auto from = driver->started();
        EXPECT_TRUE (pumpUntil ([&] { return driver->done() >= from + blocks; }, 5000)) << "the audio thread stalled";
        EXPECT_FALSE (driver->full()) << "the run outgrew its output log";
        return from;
    }

    //==============================================================================
    /** Every frame of blocks [fromBlock, toBlock) is `expected`. */
    void expectOutput (int fromBlock, int toBlock, const FrameFn& expected, const char* what)
    {
        int mismatches = 0;

        for (auto f = (int64) fromBlock * blockSize; f < (int64) toBlock * blockSize; ++f)
            for (int c = 0; c < 2; ++c)
                if (! sameBits (driver->output (f, c), expected (f, c)) && mismatches++ < 3)
                    ADD_FAILURE() << what << ": block " << f / blockSize << " frame " << f % blockSize << " channel " << c
                                  << ": " << driver->output (f, c) << " instead of " << expected (f, c);

        EXPECT_EQ (mismatches, 0) << what << ", blocks " << fromBlock << " to " << toBlock;
    }

    /** Blocks [fromBlock, toBlock) follow `before` up to one frame and `after` from it
        on. The switch comes no later than block `latest`, which began after the
        screen showed the action done, and at a block's first frame unless
        `midBlock`. Returns the frame of the switch, or -1. */
    int64 expectSwitch (int fromBlock, int toBlock, int latest, const FrameFn& before,
                        const std::function<FrameFn (int64 switchFrame)>& after, bool midBlock, const char* what)
    {
        const auto end = (int64) toBlock * blockSize;
        auto at = (int64) fromBlock * blockSize;

        while (at < end && sameBits (driver->output (at, 0), before (at, 0)) && sameBits (driver->output (at, 1), before (at, 1)))
            ++at;

        if (at > (int64) latest * blockSize)
        {
            ADD_FAILURE() << what << ": the output did not change by block " << latest
                          << " (it changed at frame " << at << ", blocks end at " << end << ")";
            return -1;
        }

        if (! midBlock && at % blockSize != 0)
            ADD_FAILURE() << what << ": changed in the middle of block " << at / blockSize << ", at frame " << at % blockSize;

        const auto fn = after (at);
        int mismatches = 0;

        for (auto f = at; f < end; ++f)
            for (int c = 0; c < 2; ++c)
                if (! sameBits (driver->output (f, c), fn (f, c)) && mismatches++ < 3)
                    ADD_FAILURE() << what << ": block " << f / blockSize << " frame " << f % blockSize << " channel " << c
                                  << ": " << driver->output (f, c) << " instead of " << fn (f, c)
                                  << " (the switch was at block " << at / blockSize << " frame " << at % blockSize << ")";

        EXPECT_EQ (mismatches, 0) << what;
        return at;
    }

    /** Pumps until the output, from block fromBlock on, departs from `before`. */
    bool waitForOutputChange (int fromBlock, const FrameFn& before, int maxMs)
    {
        auto at = (int64) fromBlock * blockSize;

        return pumpUntil ([&]
        {
            for (const auto end = (int64) driver->done() * blockSize; at < end; ++at)
                if (! sameBits (driver->output (at, 0), before (at, 0)) || ! sameBits (driver->output (at, 1), before (at, 1)))
                    return true;

            return false;
        }, maxMs);
    }

    /** The stretch of blocks in [from, to) in which the transport played. */
    std::pair<int, int> rolledBlocks (int from, int to) const
    {
        int first = from;

        while (first < to && ! driver->block (first).playing)
            ++first;

        int last = first;

        while (last < to && driver->block (last).playing)
            ++last;

        return { first, last };
    }

    /** The transport plays from `from` for at least `seconds` and stops. The screen
        must show `whileRolling` during it. Returns the blocks it played. */
    std::pair<int, int> rollTransport (int64 from, double seconds, const PanelLooks& whileRolling, const juce::String& name)
    {
        const auto firstBlock = driver->started();
        driver->roll (from);
        expectScreen (whileRolling, name);

        const auto blocks = (int) (seconds * sampleRate / blockSize);
        EXPECT_TRUE (pumpUntil ([&]
        {
            const auto done = driver->done();
            const auto [first, last] = rolledBlocks (firstBlock, done);
            return last - first >= blocks && last == done;   // still rolling
        }, (int) (seconds * 4000) + 5000));
        driver->halt();
        settle();

        const auto rolled = rolledBlocks (firstBlock, driver->done());
        EXPECT_GE (rolled.second - rolled.first, blocks);
        EXPECT_EQ (driver->block (rolled.first).time, from);
        return rolled;
    }

    juce::VST3PluginFormat vst3Format;
    juce::LV2PluginFormat lv2Format;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
    std::unique_ptr<AudioDriver> driver;
    std::unique_ptr<juce::AudioProcessorEditor> editor;

    const PanelArt art = loadArtwork();
    juce::File shots;
    int shotNumber = 0;
    juce::Rectangle<int> panel;
};

//==============================================================================
TEST_P (EditorClicks, RecordPlayPauseStopDeleteAndPowerByRealClicks)
{
    openEditor();
    ASSERT_FALSE (HasFailure());

    // The fresh instance: power on, slot A selected.
    PanelLooks expected;
    expected.power = Look::lit;
    expected.slots[0] = Look::selected;
    expectScreen (expected, "open");
    ASSERT_FALSE (HasFailure()) << "the plug-in's panel is not where the host put it, or not as built";

    // 1. Record arms (transport stopped: the input passes).
    {
        const auto c = click (recordKey);
        expected.record = Look::lit;
        expectScreen (expected, "record-armed");
        settle();
        expectOutput (c, driver->done(), passMain(), "armed, transport stopped");
    }
    ASSERT_FALSE (HasFailure());

    // The transport rolls 2 s from 1 s: recorded into A, heard while recorded.
    Take takeA;
    {
        auto recording = expected;
        recording.play = Look::lit;
        const auto [first, last] = rollTransport (48000, 2.0, recording, "recording-A");

        takeA = { (int64) first * blockSize, (int64) (last - first) * blockSize, 48000 };
        expectOutput (first, last, passMain(), "while recording A");

        // The transport's stop ended the take; the slot is selected, so it shows cream.
        expected.record = Look::unlit;
        expectScreen (expected, "take-A-recorded");
        expectOutput (last, driver->done(), passMain(), "after the take");
    }
    ASSERT_FALSE (HasFailure());

    // The transport rolls again from the same start: the take, bit for bit, aligned.
    {
        auto hostPlaying = expected;
        hostPlaying.play = Look::lit;
        const auto [first, last] = rollTransport (48000, 2.0, hostPlaying, "host-plays-A");

        expectOutput (first, last, playing (takeA, (int64) first * blockSize, 0), "host plays take A");
        expectScreen (expected, "host-stopped");
        expectOutput (last, driver->done(), passMain(), "after the host stopped");
    }
    ASSERT_FALSE (HasFailure());

    // 2. Slot B: A now shows that it holds a take.
    {
        const auto c = click (slotBKey);
        expected.slots = { Look::holdsTake, Look::selected, Look::unlit, Look::unlit };
        expectScreen (expected, "slot-B");
        settle();
        expectOutput (c, driver->done(), passMain(), "slot B selected");
    }
    ASSERT_FALSE (HasFailure());

    // Record into B: 1 s from 10 s.
    Take takeB;
    {
        click (recordKey);
        expected.record = Look::lit;
        expectScreen (expected, "record-armed-B");

        auto recording = expected;
        recording.play = Look::lit;
        const auto [first, last] = rollTransport (480000, 1.0, recording, "recording-B");
        takeB = { (int64) first * blockSize, (int64) (last - first) * blockSize, 480000 };

        expected.record = Look::unlit;
        expectScreen (expected, "take-B-recorded");
    }
    ASSERT_FALSE (HasFailure());

    // Play with the transport stopped: B's take, from its start (the stopped host
    // sits right at the take's end, which aligns to frame 0), on and on.
    int64 playStart = -1;
    {
        const auto c = click (playKey);
        expected.play = Look::lit;
        expectScreen (expected, "play-B");
        const auto latest = settle();

        EXPECT_FALSE (driver->block (latest).playing);
        EXPECT_EQ (driver->block (latest).time, takeB.startTime + takeB.length);
        playStart = expectSwitch (c, driver->done(), latest, passMain(),
                                  [&] (int64 at) { return playing (takeB, at, 0); }, false, "Play with the host stopped");
    }
    ASSERT_FALSE (HasFailure());

    // Pause: the play lamp blinks, the input passes, the take's position runs on.
    {
        const auto c = click (playKey);

        bool seenLit = false, seenDark = false;
        juce::Image litShot, darkShot;
        PanelLooks wrong;
        bool anyWrong = false;

        pumpUntil ([&]
        {
            const auto image = grabPanel();
            auto seen = readPanel (image, art);
            const auto lamp = seen.play;
            seen.play = Look::lit;

            if (seen != expected || (lamp != Look::lit && lamp != Look::unlit))
            {
                seen.play = lamp;
                wrong = seen;
                anyWrong = true;
                return false;
            }

            if (lamp == Look::unlit && ! seenDark)   { seenDark = true; darkShot = image; }
            if (lamp == Look::lit && seenDark && ! seenLit)   { seenLit = true; litShot = image; }   // lit again after dark
            return seenDark && seenLit;
        }, 4000);

        EXPECT_TRUE (seenDark && seenLit) << "the play lamp should blink while paused; last wrong look: "
                                          << (anyWrong ? ::testing::PrintToString (wrong) : std::string ("none"));
        if (seenDark)  save (darkShot, "paused-dark");
        if (seenLit)   save (litShot, "paused-lit");

        const auto latest = settle();
        expectSwitch (c, driver->done(), latest, playing (takeB, playStart, 0),
                      [] (int64) { return passMain(); }, false, "pause");
    }
    ASSERT_FALSE (HasFailure());

    // Resume: the take again, in step with where it would have been. The lit half
    // of the blink looks like playback, so the output tells when the click landed.
    // The sidechain key then marks a later moment on screen: from the picture that
    // shows it lit on, the play lamp must stay lit through more than a whole blink.
    // The take plays on whatever the source.
    {
        const auto c = click (playKey);
        EXPECT_TRUE (waitForOutputChange (c, passMain(), 3000)) << "resume never reached the output";

        click (sidechainKey);
        auto marked = expected;
        marked.sidechain = Look::lit;
        expectScreen (marked, "resumed-sidechain-on");
        expectSteadyScreen (marked, "resumed-steady", 800);

        click (sidechainKey);
        expectScreen (expected, "resumed");
        settle();
        expectSwitch (c, driver->done(), driver->done(), passMain(),
                      [&] (int64) { return playing (takeB, playStart, 0); }, false, "resume");
    }
    ASSERT_FALSE (HasFailure());

    // Stop: lit while held down; on release playback ends and the input passes.
    {
        press (stopKey);
        auto held = expected;
        held.stop = Look::lit;
        expectScreen (held, "stop-held");

        const auto c = release();
        expected.play = Look::unlit;
        expectScreen (expected, "stopped");
        const auto latest = settle();
        expectSwitch (c, driver->done(), latest, playing (takeB, playStart, 0),
                      [] (int64) { return passMain(); }, false, "Stop");
    }
    ASSERT_FALSE (HasFailure());

    // Delete: lit while held down; on release slot B is emptied, which shows once
    // another slot is selected.
    {
        press (deleteKey);
        auto held = expected;
        held.deleteKey = Look::lit;
        expectScreen (held, "delete-held");

        const auto c = release();
        expectScreen (expected, "deleted-B");

        click (slotAKey);
        expected.slots = { Look::selected, Look::unlit, Look::unlit, Look::unlit };
        expectScreen (expected, "slot-A-B-empty");
        settle();
        expectOutput (c, driver->done(), passMain(), "Delete, slot A");
    }
    ASSERT_FALSE (HasFailure());

    // A's take survived: Play with the transport stopped plays it from its start.
    {
        const auto c = click (playKey);
        expected.play = Look::lit;
        expectScreen (expected, "play-A");
        const auto latest = settle();
        const auto at = expectSwitch (c, driver->done(), latest, passMain(),
                                      [&] (int64 a) { return playing (takeA, a, 0); }, false, "Play A");

        const auto c2 = click (stopKey);
        expected.play = Look::unlit;
        expectScreen (expected, "stopped-A");
        const auto latest2 = settle();
        expectSwitch (c2, driver->done(), latest2, playing (takeA, at, 0),
                      [] (int64) { return passMain(); }, false, "Stop A");
    }
    ASSERT_FALSE (HasFailure());

    // Sidechain: its key lights and the sidechain is heard in place of the input.
    {
        const auto c = click (sidechainKey);
        expected.sidechain = Look::lit;
        expectScreen (expected, "sidechain-on");
        const auto latest = settle();
        expectSwitch (c, driver->done(), latest, passMain(), [] (int64) { return passSide(); }, true, "sidechain on");

        const auto c2 = click (sidechainKey);
        expected.sidechain = Look::unlit;
        expectScreen (expected, "sidechain-off");
        const auto latest2 = settle();
        expectSwitch (c2, driver->done(), latest2, passSide(), [] (int64) { return passMain(); }, true, "sidechain off");
    }
    ASSERT_FALSE (HasFailure());

    // Power off: the bare panel, the input untouched. On again: the lamps return.
    {
        const auto c = click (powerKey);
        expectScreen (PanelLooks(), "power-off");

        click (powerKey);
        expected.power = Look::lit;
        expectScreen (expected, "power-on");
        settle();
        expectOutput (c, driver->done(), passMain(), "power off and on");
    }
}

INSTANTIATE_TEST_SUITE_P (Binaries, EditorClicks, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const ::testing::TestParamInfo<Format>& info) { return std::string (formatName (info.param)); });

} // namespace

//==============================================================================
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // Before JUCE's first look at the server, which then has the atoms it expects.
    xscreen::connect();

    // Without this, JUCE's X11 peer asks for the atom of an empty application name
    // and the X server answers BadAtom.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };

    // The hosted plug-ins' editors run on the message thread: this one.
    juce::ScopedJuceInitialiser_GUI gui;
    return RUN_ALL_TESTS();
}
