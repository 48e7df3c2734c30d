// The editor's costs: one composition, one paint, and what a showing editor
// that nobody touches takes from the CPU. The last needs an X display: run it
// under xvfb-run -a -s "-screen 0 1024x768x24".

#include "engine/PluginProcessor.h"
#include "editor/PluginEditor.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace
{
    /** A busy panel: every kind of lamp that can show at once. */
    void makeBusy (VobrelAudioProcessor& processor)
    {
        processor.useSidechainInput = true;
        processor.recordArmed = true;
        processor.playActive = true;
        processor.currentSlot = 1;
        processor.slotHasData[0] = true;
        processor.slotHasData[2] = true;
    }

    double cpuSeconds()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);

        auto seconds = [] (const timeval& t) { return (double) t.tv_sec + (double) t.tv_usec * 1.0e-6; };
        return seconds (usage.ru_utime) + seconds (usage.ru_stime);
    }
}

//==============================================================================
static void BM_DrawBG (benchmark::State& state)
{
    VobrelAudioProcessor processor;
    makeBusy (processor);
    VobrelAudioProcessorEditor editor (processor);

    for (auto _ : state)
        editor.drawBG();
}
BENCHMARK (BM_DrawBG)->Unit (benchmark::kMicrosecond);

/** Into ARGB, as JUCE's X11 peer paints when the server has shared memory
    images; into RGB, as it paints otherwise. */
static void BM_Paint (benchmark::State& state)
{
    VobrelAudioProcessor processor;
    makeBusy (processor);
    VobrelAudioProcessorEditor editor (processor);

    const auto format = (juce::Image::PixelFormat) state.range (0);
    state.SetLabel (format == juce::Image::ARGB ? "ARGB" : "RGB");

    juce::Image screen (format, editor.getWidth(), editor.getHeight(), true);
    juce::Graphics g (screen);

    for (auto _ : state)
    {
        editor.paint (g);
        benchmark::ClobberMemory();
    }
}
BENCHMARK (BM_Paint)->Arg (juce::Image::ARGB)->Arg (juce::Image::RGB)->Unit (benchmark::kMicrosecond);

/** Process CPU, in percent of one core, while a paused editor (its play lamp
    blinking) sits on the desktop: 5 s of message loop with the editor's 50 ms
    refresh, after 5 s of the same window without it (what JUCE's window costs
    by itself, for comparison). */
static void BM_IdleShowingEditorCpu (benchmark::State& state)
{
    if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() == nullptr)
    {
        state.SkipWithError ("needs an X display: run under xvfb-run");
        return;
    }

    VobrelAudioProcessor processor;
    processor.playPaused = true;
    VobrelAudioProcessorEditor editor (processor);
    editor.addToDesktop (0);
    editor.setVisible (true);
    editor.stopTimer();

    constexpr int measureMs = 5000;

    struct Mark { double cpu, wall; };
    auto mark = [] { return Mark { cpuSeconds(), juce::Time::getMillisecondCounterHiRes() * 0.001 }; };
    auto percent = [] (Mark from, Mark to) { return 100.0 * (to.cpu - from.cpu) / (to.wall - from.wall); };

    for (auto _ : state)
    {
        // The blocking loop: runDispatchLoopUntil polls every millisecond and
        // would count its own polling as the editor's.
        auto& messageManager = *juce::MessageManager::getInstance();
        Mark marks[3] { mark() };

        juce::Timer::callAfterDelay (measureMs, [&]
        {
            marks[1] = mark();
            editor.startTimer (VobrelAudioProcessorEditor::refreshIntervalMs);
        });

        juce::Timer::callAfterDelay (2 * measureMs, [&]
        {
            marks[2] = mark();
            messageManager.stopDispatchLoop();
        });

        messageManager.runDispatchLoop();

        state.counters["window_only_pct"] = percent (marks[0], marks[1]);
        state.counters["with_editor_refresh_pct"] = percent (marks[1], marks[2]);
        state.counters["showing"] = editor.isShowing() ? 1 : 0;
    }
}
// Last, and once: after the dispatch loop has been stopped, the message manager stays stopped.
BENCHMARK (BM_IdleShowingEditorCpu)->Iterations (1)->Repetitions (1)->Unit (benchmark::kSecond);
