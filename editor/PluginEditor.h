#pragma once

#include "engine/PluginProcessor.h"
#include "CustomLookAndFeel.h"
#include "MakerInfo.h"
#include "UpdateCheck.h"

#include <atomic>
#include <functional>
#include <memory>

//==============================================================================
/** The plug-in's fixed 850 x 156 panel.

    The whole panel is one pre-composed image, backgroundImage, with invisible
    image buttons over the keys painted in it. The editor never listens to the
    processor: a 50 ms timer polls the control fields and recomposes the panel
    in a posted update, so painting is a single blit.
*/
class VobrelAudioProcessorEditor final : public juce::AudioProcessorEditor,
                                         public juce::Timer,
                                         public juce::Button::Listener,
                                         public juce::AsyncUpdater
{
public:
    /** updateServerUrl is the scheme and host that the update check asks;
        tests point it at a local server. */
    explicit VobrelAudioProcessorEditor (VobrelAudioProcessor&,
                                         const juce::String& updateServerUrl = juce::String ("https://") + MakerInfo::updateServer);
    ~VobrelAudioProcessorEditor() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    void timerCallback() override;
    void handleAsyncUpdate() override;
    void buttonClicked (juce::Button*) override;

    /** Recomposes backgroundImage from the processor's control fields and the
        held state of the DELETE and stop keys. Requests no repaint. */
    void drawBG();

    //==============================================================================
    static constexpr int panelWidth = 850;
    static constexpr int panelHeight = 156;
    static constexpr int refreshIntervalMs = 50;

    /** Compositions per phase of the play lamp's blink while paused. */
    static constexpr int blinkPhaseLength = 6;

private:
    //==============================================================================
    void setUpControlButton (juce::ImageButton&);
    void setUpNotificationButton();

    /** A single atomic read-modify-write; returns the value before. */
    static bool flip (std::atomic<bool>&) noexcept;
    void switchPower();
    void armRecord();
    void playOrPause();
    void selectSlot (int slot);
    void deleteCurrentSlot();
    void showUpdatePromptAndAbout();

    void drawSlotLamps (juce::Graphics&);
    void drawPlayLamp (juce::Graphics&);
    void resetBlink() noexcept;

    //==============================================================================
    juce::Image backgroundImage;
    juce::ImageButton notificationBtn;
    std::atomic<bool> newVersionAvailable { false };

    VobrelAudioProcessor& processor;

    juce::ImageButton powerBtn, sidechainBtn, recordBtn, playBtn, logoBtn,
                      slotABtn, slotBBtn, slotCBtn, slotDBtn, deleteBtn, stopBtn;

    int blinkCounter = 0;
    bool blinkOn = false;

    // Drawn for notificationBtn alone; detached from it before this goes.
    std::unique_ptr<CustomLookAndFeel_NoticationBtn> notificationLookAndFeel;

    // Writes newVersionAvailable alone, and never again once cancelled, first thing in the destructor.
    UpdateCheck updateCheck;

    // The update prompt's "yes": tests put a recorder here instead of a browser.
    std::function<void (const juce::URL&)> openInBrowser = [] (const juce::URL& page) { page.launchInDefaultBrowser(); };

    // Tests read the composed panel and stand in for the update check.
    friend struct EditorTestAccess;
    friend struct UpdateTestAccess;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VobrelAudioProcessorEditor)
};
