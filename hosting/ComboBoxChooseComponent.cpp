#include "hosting/ComboBoxChooseComponent.h"

comboBoxChooseComponent::comboBoxChooseComponent()
{
    optionsGroup = std::make_unique<juce::GroupComponent>("new group", "group");
    addAndMakeVisible(*optionsGroup);

    optionsComboBox = std::make_unique<juce::ComboBox>("new combo box");
    addAndMakeVisible(*optionsComboBox);
    optionsComboBox->setEditableText(false);
    optionsComboBox->setJustificationType(juce::Justification::centredLeft);
    optionsComboBox->setTextWhenNothingSelected(juce::String());
    optionsComboBox->setTextWhenNoChoicesAvailable("(no choices)");
    optionsComboBox->addListener(this);

    okButton = std::make_unique<juce::TextButton>("new button");
    addAndMakeVisible(*okButton);
    okButton->setTooltip(juce::String());
    okButton->setButtonText("OK");
    okButton->addListener(this);

    setSize(500, 200);
}

comboBoxChooseComponent::~comboBoxChooseComponent()
{
    optionsGroup = nullptr;
    optionsComboBox = nullptr;
    okButton = nullptr;
}

void comboBoxChooseComponent::paint(juce::Graphics& g)
{
    g.fillAll(juce::Colour(0xFFFFFFFF));
}

void comboBoxChooseComponent::resized()
{
    optionsGroup->setBounds(0, 0, 500, 200);
    optionsComboBox->setBounds(16, 48, 464, 24);
    okButton->setBounds(168, 112, 150, 24);
}

void comboBoxChooseComponent::comboBoxChanged(juce::ComboBox*) {}

void comboBoxChooseComponent::buttonClicked(juce::Button* buttonThatWasClicked)
{
    if (buttonThatWasClicked != okButton.get())
        return;

    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState(optionsComboBox->getSelectedId());
}

void comboBoxChooseComponent::buttonStateChanged(juce::Button*) {}

void comboBoxChooseComponent::setOptions(const juce::StringArray& options)
{
    for (int i = 0; i < options.size(); ++i)
        optionsComboBox->addItem(options[i], i + 1);

    if (!options.isEmpty())
        optionsComboBox->setSelectedId(1, juce::dontSendNotification);
}
