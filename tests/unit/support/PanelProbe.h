#pragma once

#include "container/PluginContainerAudioProcessor.h"
#include "ui/GUI.h"
#include "ui/PluginContainerAudioProcessorEditor.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/**
    Works the container's real editor as a user does: finds the panel's children by component name
    (the n-th child of that name, for the names several children share), clicks buttons through
    the framework's own click path and waits for the click to be delivered, and makes the panel
    paint.
*/
namespace panel_probe
{
/** Closes an editor as the framework's wrapper does: the processor lets go of it, then it goes. */
struct EditorCloser
{
    void operator()(PluginContainerAudioProcessorEditor* editor) const
    {
        editor->processor.editorBeingDeleted(editor);
        delete editor;
    }
};

using EditorPtr = std::unique_ptr<PluginContainerAudioProcessorEditor, EditorCloser>;

/** Opens the editor as the framework's wrapper does: the processor's active editor from now on. */
inline EditorPtr openEditor(PluginContainerAudioProcessor& container)
{
    auto* editor = dynamic_cast<PluginContainerAudioProcessorEditor*>(container.createEditorIfNeeded());
    EXPECT_NE(editor, nullptr);
    return EditorPtr(editor);
}

inline GUI& panelOf(juce::Component& editor)
{
    auto* panel = editor.getNumChildComponents() == 1 ? dynamic_cast<GUI*>(editor.getChildComponent(0)) : nullptr;
    if (panel == nullptr)
        throw std::runtime_error("the editor's only child is not the panel");
    return *panel;
}

/** The occurrence-th (from 0) child of the panel with this component name, of this type. */
template <typename ComponentType>
ComponentType& child(juce::Component& panel, const juce::String& name, int occurrence = 0)
{
    for (auto* component : panel.getChildren())
        if (component->getName() == name && occurrence-- == 0)
            if (auto* typed = dynamic_cast<ComponentType*>(component))
                return *typed;

    throw std::runtime_error(("no child named " + name).toStdString());
}

/** Counts the clicks a button delivers to its listeners. */
struct ClickCounter : juce::Button::Listener
{
    void buttonClicked(juce::Button*) override { ++clicks; }
    int clicks = 0;
};

/**
    Runs the message loop until the condition holds (true) or five seconds are up (false): for
    what the framework delivers asynchronously.
*/
template <typename Condition>
bool pumpUntil(Condition&& condition)
{
    const auto deadline = juce::Time::getMillisecondCounter() + 5000;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    }
    return true;
}

/** Lets the message queue run for a moment, for notifications that should not do anything. */
inline void pumpMessages(int milliseconds = 50)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

/**
    Clicks the button the way the framework clicks it for a mouse click or a key (a toggle flips
    its state first), and returns once the panel has handled the click.
*/
inline void click(juce::Button& button)
{
    ASSERT_TRUE(button.isEnabled()) << button.getName();
    ClickCounter counter;
    button.addListener(&counter);
    button.triggerClick();
    const auto delivered = pumpUntil([&] { return counter.clicks == 1; });
    button.removeListener(&counter);
    ASSERT_TRUE(delivered) << button.getName();
}

/** Paints the panel into an image (the same paint the screen gets) and returns it. */
inline juce::Image paint(juce::Component& component)
{
    return component.createComponentSnapshot(component.getLocalBounds(), true, 1.0f);
}

/** The mouse entering the component from outside. */
inline void mouseEnters(juce::Component& component)
{
    auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::MouseEvent event(source, {}, {}, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, &component, &component,
                                 juce::Time::getCurrentTime(), {}, juce::Time::getCurrentTime(), 0, false);
    component.mouseEnter(event);
}
} // namespace panel_probe
