#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#if VOBREL_WINDOW_TESTS
 void createWindowManagerAtoms();
#endif

#if defined (__SANITIZE_ADDRESS__)
// fontconfig, through which the editor finds its CJK faces, drops 288 bytes of
// the default configuration it loads on first use: its leak, once per process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

   #if VOBREL_WINDOW_TESTS
    createWindowManagerAtoms();
   #endif

    // Without this, JUCE's X11 peer asks for the atom of an empty application
    // name and the X server answers BadAtom.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
    juce::ScopedJuceInitialiser_GUI gui;

    return RUN_ALL_TESTS();
}
