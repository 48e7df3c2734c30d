#pragma once

#include "editor/PluginEditor.h"

#include <array>
#include <functional>
#include <ostream>

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
/** What a key shows in a panel picture. */
enum class Look
{
    unlit,       // the base art
    lit,         // its lamp image
    selected,    // slot keys: the selected look
    holdsTake,   // slot keys: the holds-a-take look
    other        // none of these: a broken composition
};

/** The looks of every key in a panel picture, read from its pixels. */
struct PanelLooks
{
    Look power = Look::unlit, sidechain = Look::unlit, deleteKey = Look::unlit,
         record = Look::unlit, play = Look::unlit, stop = Look::unlit;
    std::array<Look, 4> slots { Look::unlit, Look::unlit, Look::unlit, Look::unlit };
    bool restIsBaseArt = true;   // every pixel outside the keys equals temp1

    bool operator== (const PanelLooks&) const = default;

    /** Power on, slot A selected, nothing else: a fresh instance. */
    static PanelLooks fresh();
};

std::ostream& operator<< (std::ostream&, const PanelLooks&);

/** Reads an 850 x 156 panel picture: the editor's composition or a screen grab. */
PanelLooks readPanel (const juce::Image& panel);

/** The decoded base art, temp1. */
juce::Image baseArt();

/** True when two images have the same size and the same opaque colours. */
bool samePixels (const juce::Image& a, const juce::Image& b);

/** Runs the message loop in 10 ms steps until the condition holds, at most maxMs. */
bool pumpUntil (const std::function<bool()>& condition, int maxMs);

/** Runs the message loop for about ms milliseconds. */
void pump (int ms);
