#pragma once

#include <juce_core/juce_core.h>

/** The test hosts load the plug-in binaries that this build made, never a copy
    installed in ~/.lv2, ~/.vst3, the system's plug-in folders or LV2_PATH. */
namespace builtbinaries
{
    /** How often JUCE's LV2 host has loaded its plug-in world, each time from
        the folder of the built bundle alone. */
    int confinedLV2Searches();

    /** Empty if the process has the built `binary` loaded and no plug-in binary
        from anywhere else; otherwise what is wrong, naming each file. */
    juce::String whatIsWrongWithLoadedBinaries (const juce::File& binary);
}
