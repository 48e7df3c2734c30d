#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <ostream>

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

/** The artwork temp1 to temp14, at indices 1 to 14. */
using PanelArt = std::array<juce::Image, 15>;

/** Reads an 850 x 156 panel picture, the editor's composition or a screen grab,
    against the artwork it was composed from. */
PanelLooks readPanel (const juce::Image& panel, const PanelArt& art);

/** True when two images have the same size and the same colours. */
bool samePixels (const juce::Image& a, const juce::Image& b);
