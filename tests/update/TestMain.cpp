#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#if VOBREL_WINDOW_TESTS
 void createWindowManagerAtoms();
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
