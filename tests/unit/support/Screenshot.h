#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/**
    Saves what a window draws as <name>.png into the folder named by PENDULUM_SCREENSHOT_DIR, when
    that is set to an absolute path; otherwise does nothing. For looking at the GUI after a test run.
*/
inline void saveScreenshotIfAsked(juce::Component& window, const juce::String& name)
{
    const auto directory = juce::SystemStats::getEnvironmentVariable("PENDULUM_SCREENSHOT_DIR", {});

    if (directory.isEmpty() || !juce::File::isAbsolutePath(directory))
        return;

    const juce::File folder(directory);
    folder.createDirectory();
    const auto file = folder.getChildFile(name + ".png");
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat png;
    png.writeImageToStream(window.createComponentSnapshot(window.getLocalBounds()), out);
}
