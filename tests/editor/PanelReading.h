#pragma once

#include "../MessageLoop.h"
#include "../PanelLooks.h"
#include "editor/PluginEditor.h"

#include <functional>

//==============================================================================
/** The editor's private state that tests need: the composed panel, and the
    flag that the update check would set. */
struct EditorTestAccess
{
    static const juce::Image& panel (const VobrelAudioProcessorEditor& e)           { return e.backgroundImage; }
    static void setNewVersionAvailable (VobrelAudioProcessorEditor& e, bool value)  { e.newVersionAvailable = value; }
};

/** Opens an editor on the processor, and closes it, as a plug-in wrapper does;
    its update check is refused at once by a closed local port. */
std::unique_ptr<VobrelAudioProcessorEditor> openEditor (VobrelAudioProcessor&);
void closeEditor (VobrelAudioProcessor&, std::unique_ptr<VobrelAudioProcessorEditor>&);

/** The editor's buttons in their child order (construction steps 5 and 6). */
enum class Key
{
    power, slotA, slotB, slotC, slotD, sidechain, deleteKey, record, play, stop, logo, badge
};

juce::ImageButton& button (VobrelAudioProcessorEditor&, Key);

//==============================================================================
/** Reads an 850 x 156 panel picture against the artwork compiled into the plug-in. */
PanelLooks readPanel (const juce::Image& panel);

/** The decoded base art, temp1. */
juce::Image baseArt();

