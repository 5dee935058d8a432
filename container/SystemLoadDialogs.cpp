#include "container/LoadDialogs.h"

#include "hosting/ModalChoosers.h"
#include "platform/Platform.h"

#include <juce_gui_basics/juce_gui_basics.h>

juce::File SystemLoadDialogs::choosePluginFile()
{
    juce::FileChooser chooser("Please select a VST2.x plugin...", juce::File(), pendulum::platform::pluginFileWildcard());

    if (chooser.browseForFileToOpen())
        return chooser.getResult();

    return juce::File();
}

LoadDialogs::LocateAnswer SystemLoadDialogs::askToLocateMissingFile(const juce::String& missingPath)
{
    const auto answer = juce::NativeMessageBox::showYesNoCancelBox(juce::MessageBoxIconType::WarningIcon, "Error",
                                                                   missingPath + " does not exist. Locate manually?",
                                                                   nullptr, nullptr);
    switch (answer)
    {
    case 1:
        return LocateAnswer::yes;
    case 2:
        return LocateAnswer::no;
    default:
        return LocateAnswer::cancel;
    }
}

juce::String SystemLoadDialogs::locatePluginFile()
{
    return showOpenFileDialog({}, pendulum::platform::pluginFilePatternsAnyCase(),
                              pendulum::platform::pluginFileDescription(), "Choose a VST 2.x plugin");
}

void SystemLoadDialogs::warnSharedEffect()
{
    juce::AlertWindow::showMessageBoxAsync(juce::MessageBoxIconType::WarningIcon, "Info", "effect == effect?|! WTF");
}
