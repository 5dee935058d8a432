#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

// Working modal dialogs from inside their own modal loops (the call under test blocks in it).

/**
    Runs steps against the currently modal component, one step per timer tick; a step that returns
    false is tried again on the next tick. When the time is up, whatever is still modal is dismissed
    with 0, so a failing test ends instead of hanging.
*/
class ModalDriver : private juce::Timer
{
public:
    using Step = std::function<bool(juce::Component& modal)>;

    explicit ModalDriver(std::vector<Step> stepsToRun, juce::uint32 timeoutMs = 15000)
        : steps(std::move(stepsToRun)), deadline(juce::Time::getMillisecondCounter() + timeoutMs)
    {
        startTimer(50);
    }

    ~ModalDriver() override { stopTimer(); }

    bool ranAllSteps() const { return next == steps.size(); }
    bool timedOut() const { return expired; }

private:
    void timerCallback() override
    {
        if (juce::Time::getMillisecondCounter() > deadline)
        {
            expired = true;
            stopTimer();

            while (auto* modal = juce::Component::getCurrentlyModalComponent())
                modal->exitModalState(0);

            return;
        }

        auto* modal = juce::Component::getCurrentlyModalComponent();

        if (modal != nullptr && next < steps.size() && steps[next](*modal))
            ++next;
    }

    std::vector<Step> steps;
    size_t next = 0;
    juce::uint32 deadline;
    bool expired = false;
};

template <typename ComponentType> ComponentType* findDescendant(juce::Component& root)
{
    for (auto* child : root.getChildren())
    {
        if (auto* match = dynamic_cast<ComponentType*>(child))
            return match;

        if (auto* match = findDescendant<ComponentType>(*child))
            return match;
    }

    return nullptr;
}

inline juce::TextButton* findButtonWithText(juce::Component& root, const juce::String& text)
{
    for (auto* child : root.getChildren())
    {
        if (auto* button = dynamic_cast<juce::TextButton*>(child); button != nullptr && button->getButtonText() == text)
            return button;

        if (auto* match = findButtonWithText(*child, text))
            return match;
    }

    return nullptr;
}

/** Clicks the button with this text; if there is none, fails the test and dismisses the dialog. */
inline void clickOrDismiss(juce::Component& modal, const juce::String& buttonText)
{
    if (auto* button = findButtonWithText(modal, buttonText))
        button->triggerClick();
    else
    {
        ADD_FAILURE() << "no button \"" << buttonText << "\"";
        modal.exitModalState(0);
    }
}
