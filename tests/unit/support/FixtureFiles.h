#pragma once

#include "FixturePaths.h"

#include <juce_core/juce_core.h>

/**
    Fixture plugin files for tests that load through the container. The loader caches scans per
    path for the whole process, so a test that needs a first, uncached load takes its own copy of
    the fixture under a fresh folder.
*/
class FixtureFiles
{
public:
    static juce::String path(const juce::String& fixtureName)
    {
        return juce::String(pendulum::fixtures::fixturePath(fixtureName.toStdString()));
    }

    /** A copy of the fixture in a new temporary folder, removed with this object. */
    juce::String freshCopy(const juce::String& fixtureName)
    {
        const auto source = juce::File(path(fixtureName));
        const auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                .getChildFile("pendulum-tests")
                                .getNonexistentChildFile("fixture", "", false);
        folder.createDirectory();
        folders.add(folder.getFullPathName());
        const auto copy = folder.getChildFile(source.getFileName());
        source.copyFileTo(copy);
        return copy.getFullPathName();
    }

    ~FixtureFiles()
    {
        for (const auto& folder : folders)
            juce::File(folder).deleteRecursively();
    }

private:
    juce::StringArray folders;
};
