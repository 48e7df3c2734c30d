#include "DialogDriver.h"

#include <X11/Xlib.h>

namespace
{
    constexpr int answerTimeoutMs = 10000;

    juce::String describe (DialogDriver::Answer a)
    {
        switch (a)
        {
            case DialogDriver::Answer::firstButton:   return "first button";
            case DialogDriver::Answer::secondButton:  return "second button";
            case DialogDriver::Answer::escapeKey:     return "Escape";
            case DialogDriver::Answer::returnKey:     return "Return";
        }

        return {};
    }

    /** The test's own connection to the X server, apart from JUCE's. */
    Display* testDisplay()
    {
        static Display* const display = XOpenDisplay (nullptr);
        return display;
    }

    /** Sends the window an X message that JUCE ignores, so that JUCE reads its
        connection again.

        JUCE 7.0.5 waits for X events by polling its connection's socket. Events
        that an Xlib round trip (such as a focus check's) has already taken off
        the socket wait in Xlib's queue until more arrive: a person's next mouse
        movement, or the XShm completions of any window that repaints. With no
        repainting window and a single scripted click, they wait for ever.
    */
    void wakeEventLoop (juce::Component& topLevel)
    {
        auto* display = testDisplay();
        auto* peer = topLevel.getPeer();

        if (display == nullptr || peer == nullptr)
            return;

        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (Window) (juce::pointer_sized_uint) peer->getNativeHandle();
        event.xclient.message_type = XInternAtom (display, "VOBREL_TEST_WAKE", False);
        event.xclient.format = 32;

        XSendEvent (display, event.xclient.window, False, NoEventMask, &event);
        XFlush (display);
    }
}

//==============================================================================
bool xdotool (const juce::StringArray& args)
{
    juce::StringArray command { "xdotool" };
    command.addArray (args);

    juce::ChildProcess process;
    return process.start (command, 0)
        && process.waitForProcessToFinish (10000)
        && process.getExitCode() == 0;
}

bool clickOnScreen (juce::Point<int> p)
{
    return xdotool ({ "mousemove", juce::String (p.x), juce::String (p.y), "click", "1" });
}

bool isViewableOnX (juce::Component& topLevel)
{
    auto* display = testDisplay();
    auto* peer = topLevel.getPeer();

    if (display == nullptr || peer == nullptr)
        return false;

    XWindowAttributes attributes {};

    if (XGetWindowAttributes (display, (Window) (juce::pointer_sized_uint) peer->getNativeHandle(), &attributes) == 0)
        return false;

    return attributes.map_state == IsViewable;
}

juce::String getMessage (juce::AlertWindow& window)
{
    // What a screen reader gets: the title, ". ", then the message.
    const auto description = window.getDescription();
    const auto prefix = window.getName() + ". ";

    if (! description.startsWith (prefix))
        return "<description \"" + description + "\" does not start with the title>";

    return description.substring (prefix.length());
}

juce::Array<juce::TextButton*> getButtons (juce::AlertWindow& window)
{
    juce::Array<juce::TextButton*> buttons;

    for (auto* child : window.getChildren())
        if (auto* button = dynamic_cast<juce::TextButton*> (child))
            buttons.add (button);

    return buttons;
}

//==============================================================================
DialogDriver::DialogDriver (std::vector<Answer> answersInOrder)
    : answers (std::move (answersInOrder))
{
    startTimer (10);
}

DialogDriver::~DialogDriver()
{
    stopTimer();
}

bool DialogDriver::isDone() const
{
    return seen.size() >= answers.size() && juce::Component::getNumCurrentlyModalComponents() == 0;
}

void DialogDriver::timerCallback()
{
    auto* dialog = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());

    if (dialog == nullptr)
        return;

    if (dialog == answered.getComponent())
    {
        // Our answer has not closed it: close it so that the test can go on.
        if (juce::Time::getMillisecondCounter() - answeredAt > (juce::uint32) answerTimeoutMs)
        {
            problems.add ("\"" + dialog->getName() + "\" stayed open after " + describe (answers[seen.size() - 1]));
            answered = nullptr;
            dialog->exitModalState (0);
            return;
        }

        // The answer's events may be waiting in Xlib's queue.
        wakeEventLoop (*dialog);
        return;
    }

    if (! dialog->isShowing() || ! isViewableOnX (*dialog))
        return;

    if (dialog != shown.getComponent())
    {
        shown = dialog;
        shownAt = juce::Time::getMillisecondCounter();
    }

    if (juce::Time::getMillisecondCounter() - shownAt < (juce::uint32) settleMs)
        return;

    seen.push_back ({ dialog->getName(), getMessage (*dialog), {}, dialog->getAlertType() });

    for (auto* button : getButtons (*dialog))
        seen.back().buttons.add (button->getButtonText());

    const auto index = (int) seen.size() - 1;

    if (index >= (int) answers.size())
    {
        problems.add ("unexpected dialog \"" + dialog->getName() + "\"");
        dialog->exitModalState (0);
        return;
    }

    if (onShown != nullptr)
        onShown (*dialog, index);

    answered = dialog;
    answeredAt = juce::Time::getMillisecondCounter();
    answer (*dialog, answers[(size_t) index]);
}

void DialogDriver::answer (juce::AlertWindow& dialog, Answer a)
{
    const auto buttons = getButtons (dialog);
    const auto buttonIndex = (a == Answer::firstButton ? 0 : 1);

    if (a == Answer::firstButton || a == Answer::secondButton)
    {
        if (buttons[buttonIndex] == nullptr || ! clickOnScreen (buttons[buttonIndex]->getScreenBounds().getCentre()))
            problems.add ("could not click the " + describe (a) + " of \"" + dialog.getName() + "\"");

        return;
    }

    // Keys go to the window under the pointer: over the dialog, away from its buttons.
    const auto area = dialog.getScreenBounds();
    const auto key = (a == Answer::escapeKey ? "Escape" : "Return");

    if (! xdotool ({ "mousemove", juce::String (area.getX() + 10), juce::String (area.getY() + 10), "key", key }))
        problems.add ("could not press " + describe (a) + " on \"" + dialog.getName() + "\"");
}
