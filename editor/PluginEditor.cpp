#include "PluginEditor.h"
#include "AboutBox.h"
#include "UILanguage.h"
#include "UpdatePrompt.h"

#include <BinaryData.h>

namespace
{
    juce::Image getArtwork (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }

    /** Draws an image 1:1 with its top-left corner at (x, y). */
    void drawAt (juce::Graphics& g, const juce::Image& image, int x, int y)
    {
        g.drawImage (image, x, y, image.getWidth(), image.getHeight(),
                     0, 0, image.getWidth(), image.getHeight());
    }

    void drawArtworkAt (juce::Graphics& g, const char* data, int size, int x, int y)
    {
        drawAt (g, getArtwork (data, size), x, y);
    }

    struct SlotArtwork
    {
        const char* selected;
        int selectedSize;
        const char* holdsTake;
        int holdsTakeSize;
        int x;
    };

    // Built on use: the arrays' pointers live in another translation unit.
    SlotArtwork getSlotArtwork (int slot)
    {
        switch (slot)
        {
            case 0:  return { BinaryData::temp2, BinaryData::temp2Size, BinaryData::temp3, BinaryData::temp3Size, 326 };
            case 1:  return { BinaryData::temp4, BinaryData::temp4Size, BinaryData::temp5, BinaryData::temp5Size, 388 };
            case 2:  return { BinaryData::temp6, BinaryData::temp6Size, BinaryData::temp7, BinaryData::temp7Size, 451 };
            default: return { BinaryData::temp8, BinaryData::temp8Size, BinaryData::temp9, BinaryData::temp9Size, 513 };
        }
    }

    constexpr int keyRowY = 52;
    constexpr int smallKeyY = 122;
}

//==============================================================================
VobrelAudioProcessorEditor::VobrelAudioProcessorEditor (VobrelAudioProcessor& p, const juce::String& updateServerUrl)
    : AudioProcessorEditor (p),
      processor (p),
      updateCheck (updateServerUrl, newVersionAvailable)
{
    UILanguage::applyDefaultTypeface();

    backgroundImage = juce::Image (juce::Image::ARGB, panelWidth, panelHeight, true);

    for (auto* button : { &powerBtn, &slotABtn, &slotBBtn, &slotCBtn, &slotDBtn, &sidechainBtn,
                          &deleteBtn, &recordBtn, &playBtn, &stopBtn, &logoBtn })
        setUpControlButton (*button);

    setUpNotificationButton();

    setBounds (getX(), getY(), panelWidth, panelHeight);
    drawBG();
    startTimer (refreshIntervalMs);
    updateCheck.start();
}

VobrelAudioProcessorEditor::~VobrelAudioProcessorEditor()
{
    // Cancelled first, so closing never waits for a silent server's time-out.
    updateCheck.cancel();

    // The badge must let go before its look-and-feel goes with the members.
    notificationBtn.setLookAndFeel (nullptr);
}

void VobrelAudioProcessorEditor::setUpControlButton (juce::ImageButton& button)
{
    // No images: the button draws nothing and its whole area takes clicks.
    addAndMakeVisible (button);
    button.setMouseCursor (juce::MouseCursor::PointingHandCursor);
    button.addListener (this);
}

void VobrelAudioProcessorEditor::setUpNotificationButton()
{
    addAndMakeVisible (notificationBtn);

    notificationLookAndFeel = std::make_unique<CustomLookAndFeel_NoticationBtn>();
    notificationBtn.setLookAndFeel (notificationLookAndFeel.get());

    notificationBtn.setMouseCursor (juce::MouseCursor::PointingHandCursor);
    notificationBtn.setToggleState (true, juce::dontSendNotification);
    notificationBtn.addListener (this);
    notificationBtn.setVisible (false);

    // An image button asks its look-and-feel to draw only while it has an image;
    // the badge's look-and-feel ignores it and draws the badge.
    const auto image = getArtwork (BinaryData::temp10, BinaryData::temp10Size);
    notificationBtn.setImages (false, false, false,
                               image, 1.0f, juce::Colour(),
                               image, 1.0f, juce::Colour(),
                               image, 1.0f, juce::Colour(),
                               0.0f);
}

//==============================================================================
void VobrelAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
    g.fillAll (juce::Colours::darkgrey);
    g.setOpacity (1.0f);
    drawAt (g, backgroundImage, 0, 0);
}

void VobrelAudioProcessorEditor::resized()
{
    const auto powerLamp = getArtwork (BinaryData::temp11, BinaryData::temp11Size);

    powerBtn       .setBounds (59,  52, powerLamp.getWidth(), powerLamp.getHeight());
    slotABtn       .setBounds (326, 52, 54, 55);
    slotBBtn       .setBounds (388, 52, 54, 55);
    slotCBtn       .setBounds (451, 52, 54, 55);
    slotDBtn       .setBounds (513, 52, 54, 55);
    sidechainBtn   .setBounds (161, 122, 55, 18);
    deleteBtn      .setBounds (224, 122, 55, 18);
    recordBtn      .setBounds (597, 52, 54, 55);
    playBtn        .setBounds (659, 52, 54, 55);
    stopBtn        .setBounds (722, 52, 54, 55);
    logoBtn        .setBounds (684, 7, 121, 35);
    notificationBtn.setBounds (790, 6, 24, 24);
}

//==============================================================================
void VobrelAudioProcessorEditor::timerCallback()
{
    notificationBtn.setVisible (newVersionAvailable.load());

    if (! isShowing())
        return;

    repaint();

    // At most one composition outstanding, however slow the message thread.
    if (isUpdatePending())
        return;

    triggerAsyncUpdate();
}

void VobrelAudioProcessorEditor::handleAsyncUpdate()
{
    drawBG();
}

//==============================================================================
void VobrelAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    if (button == &logoBtn || button == &notificationBtn)
    {
        showUpdatePromptAndAbout();
        return;
    }

    // The one action the audio thread may see mid-block: a single atomic flip.
    if (button == &sidechainBtn)
    {
        flip (processor.useSidechainInput);
        return;
    }

    if (button == &deleteBtn)
    {
        deleteCurrentSlot();
        return;
    }

    // A take's first storage comes ready before Record can start one: made
    // here, never on the audio thread, and never while a block waits for the lock.
    if (button == &recordBtn)
        processor.dsp->blocks.Prime();

    {
        // Everything else runs whole between two blocks, its test included.
        const juce::ScopedLock betweenBlocks (processor.getCallbackLock());

        if (button == &powerBtn)        switchPower();
        else if (button == &stopBtn)    processor.stopAll (false);
        else if (button == &recordBtn)  armRecord();
        else if (button == &playBtn)    playOrPause();
        else if (button == &slotABtn)   selectSlot (0);
        else if (button == &slotBBtn)   selectSlot (1);
        else if (button == &slotCBtn)   selectSlot (2);
        else if (button == &slotDBtn)   selectSlot (3);
    }

    // A take that Stop or power-off ended gives back the storage it did not
    // use; the worker that frees it is woken once the lock is gone.
    if (button == &stopBtn || button == &powerBtn)
        processor.dsp->blocks.Wake();
}

bool VobrelAudioProcessorEditor::flip (std::atomic<bool>& flag) noexcept
{
    auto value = flag.load();
    while (! flag.compare_exchange_weak (value, ! value)) {}
    return value;
}

void VobrelAudioProcessorEditor::switchPower()
{
    const bool wasOn = flip (processor.powerOn);

    if (wasOn)
        processor.stopAll (false);
}

void VobrelAudioProcessorEditor::armRecord()
{
    if (! processor.playActive.load())
        processor.recordArmed = true;
}

void VobrelAudioProcessorEditor::playOrPause()
{
    auto& recorder = *processor.dsp;

    if (recorder.isRecording
         || ! processor.slotHasData[(size_t) processor.currentSlot.load()].load()
         || processor.recordArmed.load())
        return;

    if (recorder.playbackStarted)
    {
        recorder.isPaused = ! recorder.isPaused;
        processor.playPaused = recorder.isPaused;
        flip (processor.playActive);
        return;
    }

    processor.playActive = true;
    processor.manualPlay = true;
}

void VobrelAudioProcessorEditor::selectSlot (int slot)
{
    if (processor.powerOn.load() && ! processor.playActive.load()
         && ! processor.playPaused.load() && ! processor.recordArmed.load())
        processor.currentSlot = slot;
}

void VobrelAudioProcessorEditor::deleteCurrentSlot()
{
    {
        const juce::ScopedLock betweenBlocks (processor.getCallbackLock());

        if (processor.playActive.load() && processor.recordArmed.load())
            return;

        // ClearSlot only detaches the take; the recorder's worker frees it.
        const auto slot = processor.currentSlot.load();
        processor.dsp->slotStartTime[slot] = 0;
        processor.dsp->ClearSlot (slot, false);
        processor.slotHasData[(size_t) slot] = false;
    }

    // Woken once the lock is gone, so the audio thread never waits on that either.
    processor.dsp->blocks.Wake();
}

void VobrelAudioProcessorEditor::showUpdatePromptAndAbout()
{
    const auto language = UILanguage::getTexts (UILanguage::getPreferredLanguage());

    // The host may close the view while a dialog's modal loop runs.
    const SafePointer<VobrelAudioProcessorEditor> alive (this);

    if (newVersionAvailable.load())
    {
        UpdatePrompt prompt (language);

        if (prompt.runModalLoop() == UpdatePrompt::openWebPage && alive != nullptr)
            openInBrowser (juce::URL (MakerInfo::webPage));
    }

    if (alive == nullptr)
        return;

    AboutBox about (language);
    about.runModalLoop();
}

//==============================================================================
void VobrelAudioProcessorEditor::drawBG()
{
    juce::Graphics g (backgroundImage);
    g.setOpacity (1.0f);

    // The base art is opaque, so it replaces the previous composition.
    const auto base = getArtwork (BinaryData::temp1, BinaryData::temp1Size);
    g.drawImage (base, 0, 0, panelWidth, panelHeight, 0, 0, base.getWidth(), base.getHeight());

    if (! processor.powerOn.load())
        return;

    drawArtworkAt (g, BinaryData::temp11, BinaryData::temp11Size, 59, keyRowY);
    drawSlotLamps (g);

    if (processor.useSidechainInput.load())
        drawArtworkAt (g, BinaryData::temp13, BinaryData::temp13Size, 161, smallKeyY);

    if (deleteBtn.isDown())
        drawArtworkAt (g, BinaryData::temp13, BinaryData::temp13Size, 224, smallKeyY);

    if (processor.recordArmed.load())
        drawArtworkAt (g, BinaryData::temp12, BinaryData::temp12Size, 597, keyRowY);

    drawPlayLamp (g);

    if (stopBtn.isDown())
    {
        resetBlink();
        drawArtworkAt (g, BinaryData::temp14, BinaryData::temp14Size, 722, keyRowY);
    }
}

void VobrelAudioProcessorEditor::drawSlotLamps (juce::Graphics& g)
{
    constexpr int numSlots = CDSP::kNumSlots;

    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (processor.slotHasData[(size_t) slot].load())
        {
            const auto art = getSlotArtwork (slot);
            drawArtworkAt (g, art.holdsTake, art.holdsTakeSize, art.x, keyRowY);
        }
    }

    // Drawn after, so a selected slot that holds a take shows as selected.
    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (processor.currentSlot.load() == slot)
        {
            const auto art = getSlotArtwork (slot);
            drawArtworkAt (g, art.selected, art.selectedSize, art.x, keyRowY);
        }
    }
}

void VobrelAudioProcessorEditor::drawPlayLamp (juce::Graphics& g)
{
    const auto drawLit = [&g] { drawArtworkAt (g, BinaryData::temp10, BinaryData::temp10Size, 659, keyRowY); };

    // Steady playback resets the blink, so the next pause starts dark.
    if (processor.playActive.load() && ! processor.playPaused.load())
    {
        resetBlink();
        drawLit();
    }

    if (processor.playPaused.load())
    {
        ++blinkCounter;

        if (blinkOn)
            drawLit();

        if (blinkCounter >= blinkPhaseLength)
        {
            blinkOn = ! blinkOn;
            blinkCounter = 0;
        }
    }
}

void VobrelAudioProcessorEditor::resetBlink() noexcept
{
    blinkCounter = 0;
    blinkOn = false;
}
