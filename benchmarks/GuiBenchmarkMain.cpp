// The main of benchmarks that open windows: the framework's GUI side runs on
// this thread, as a host's message thread.

#include <juce_gui_basics/juce_gui_basics.h>

#include <benchmark/benchmark.h>

int main (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);

    // Without this, JUCE's X11 peer asks for the atom of an empty application name.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
    juce::ScopedJuceInitialiser_GUI gui;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
