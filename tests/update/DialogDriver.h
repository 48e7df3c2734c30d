#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

//==============================================================================
/** Answers the modal dialogs that a click opens, the way a person would: once
    a dialog is on screen, it reads its texts and then clicks its buttons or
    presses keys through the X server (xdotool).

    The dialogs run nested message loops inside the click handler, so this
    works from a timer on the message thread. A dialog that an answer does not
    close within 10 s, or one more than expected, is closed by hand and noted
    as a problem, so a test never hangs.
*/
class DialogDriver final : private juce::Timer
{
public:
    enum class Answer
    {
        firstButton,    // "Yes, open the webpage", or the About box's OK
        secondButton,   // "No, check later"
        escapeKey,
        returnKey
    };

    struct Seen
    {
        juce::String title, message;
        juce::StringArray buttons;
        juce::MessageBoxIconType icon = juce::MessageBoxIconType::NoIcon;
    };

    /** Called with each dialog once it is on screen, before it is answered. */
    std::function<void (juce::AlertWindow&, int index)> onShown;

    /** How long a dialog stays up before onShown and the answer: time for it
        to be painted, when a test takes pictures. */
    int settleMs = 0;

    explicit DialogDriver (std::vector<Answer> answersInOrder);
    ~DialogDriver() override;

    /** True once every answer has been given and no dialog is open. */
    bool isDone() const;

    const std::vector<Seen>& getSeen() const noexcept          { return seen; }
    const juce::StringArray& getProblems() const noexcept      { return problems; }

private:
    void timerCallback() override;
    void answer (juce::AlertWindow&, Answer);

    std::vector<Answer> answers;
    std::vector<Seen> seen;
    juce::StringArray problems;
    juce::Component::SafePointer<juce::AlertWindow> shown, answered;
    juce::uint32 shownAt = 0, answeredAt = 0;

    JUCE_DECLARE_NON_COPYABLE (DialogDriver)
};

//==============================================================================
/** Runs xdotool with these arguments and waits (bounded) for it. */
bool xdotool (const juce::StringArray& args);

/** A real click at a point on the screen. */
bool clickOnScreen (juce::Point<int>);

/** True when the X server shows the component's window (map state viewable). */
bool isViewableOnX (juce::Component& topLevel);

/** An alert window's message, read from its accessibility description
    (AlertWindow has no getter for it). */
juce::String getMessage (juce::AlertWindow&);

/** The text buttons of an alert window, in the order they were added. */
juce::Array<juce::TextButton*> getButtons (juce::AlertWindow&);
