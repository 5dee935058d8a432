#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/**
    The option chooser's content: a combo box holding the options inside a group, and an OK
    button that ends the modal state of the dialog window around it with the selected item's id
    (0 when nothing is selected).

    The layout is fixed for a 500 x 200 component.
*/
class comboBoxChooseComponent : public juce::Component, public juce::ComboBox::Listener, public juce::Button::Listener
{
public:
    comboBoxChooseComponent();
    ~comboBoxChooseComponent() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    void comboBoxChanged(juce::ComboBox* comboBoxThatHasChanged) override;
    void buttonClicked(juce::Button* buttonThatWasClicked) override;
    void buttonStateChanged(juce::Button* button) override;

    /** Adds the options as items 1..n, in order, and selects the first one without notifying. */
    void setOptions(const juce::StringArray& options);

    juce::GroupComponent& getOptionsGroup() noexcept { return *optionsGroup; }
    juce::ComboBox& getOptionsComboBox() noexcept { return *optionsComboBox; }
    juce::TextButton& getOkButton() noexcept { return *okButton; }

private:
    std::unique_ptr<juce::GroupComponent> optionsGroup;
    std::unique_ptr<juce::ComboBox> optionsComboBox;
    std::unique_ptr<juce::TextButton> okButton;

    JUCE_DECLARE_NON_COPYABLE(comboBoxChooseComponent)
};
