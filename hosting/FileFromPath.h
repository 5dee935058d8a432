#pragma once

#include <juce_core/juce_core.h>

/**
    The file a path string names: absolute as it is, relative against the current working
    directory, and no file for an empty path. (juce::File itself refuses relative paths.)
*/
inline juce::File fileFromPath(const juce::String& path)
{
    if (path.isEmpty())
        return {};

    return juce::File::isAbsolutePath(path) ? juce::File(path) : juce::File::getCurrentWorkingDirectory().getChildFile(path);
}
