#include "hosting/ModalChoosers.h"

#include "hosting/ComboBoxChooseComponent.h"
#include "hosting/FileFromPath.h"
#include "hosting/ModalWindowWithComboBoxOptionChooser.h"

#include <memory>

namespace
{
const juce::Colour dialogBackground(0xFFD3D3D3);

} // namespace

juce::String chooseOptionFromList(const juce::String& title, const juce::StringArray& options)
{
    JUCE_ASSERT_MESSAGE_THREAD

    try
    {
        auto ownedContent = std::make_unique<comboBoxChooseComponent>();
        ownedContent->setOptions(options);

        // The hidden owner window keeps the content alive for the whole call. The dialog shown below
        // only borrows it: it reparents the content, and when it is dismissed the modal manager
        // deletes it, which hands the content back parentless. Deleting the owner then deletes the
        // content exactly once (and would also do so if the dialog were still around).
        auto owner = std::make_unique<ModalWindowWithComboBoxOptionChooser>(title);
        owner->setUsingNativeTitleBar(true);
        auto* content = ownedContent.release();
        owner->setContentOwned(content, true);
        owner->centreWithSize(content->getWidth(), content->getHeight());

        int result =
            juce::DialogWindow::showModalDialog(title, content, nullptr, dialogBackground, false, false, false);
        owner = nullptr;

        if (result == 0)
            result = 1;

        if (options.isEmpty())
            return {};

        return options[result - 1];
    }
    catch (...)
    {
        return {};
    }
}

juce::String showOpenFileDialog(const juce::String& initialPath, const juce::String& filePatterns,
                                const juce::String& patternDescription, const juce::String& instructions)
{
    JUCE_ASSERT_MESSAGE_THREAD

    try
    {
        juce::WildcardFileFilter filter(filePatterns, juce::String(), patternDescription);
        juce::FileBrowserComponent browser(juce::FileBrowserComponent::openMode |
                                               juce::FileBrowserComponent::canSelectFiles,
                                           fileFromPath(initialPath), &filter, nullptr); // none: the working directory
        juce::FileChooserDialogBox dialog("Open file", instructions, browser, false, dialogBackground);

        if (dialog.show())
            return browser.getHighlightedFile().getFullPathName();

        return {};
    }
    catch (...)
    {
        return {};
    }
}
