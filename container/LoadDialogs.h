#pragma once

#include <juce_core/juce_core.h>

/**
    The questions the load procedure asks the user. The container uses the system's dialogs
    (SystemLoadDialogs); tests may answer through their own implementation.
*/
class LoadDialogs
{
public:
    enum class LocateAnswer
    {
        yes,
        no,
        cancel
    };

    virtual ~LoadDialogs() = default;

    /** The native open-file dialog for a plugin file; a non-existent file when cancelled. */
    virtual juce::File choosePluginFile() = 0;

    /** The "Error" box for a stored plugin path that no longer exists. */
    virtual LocateAnswer askToLocateMissingFile(const juce::String& missingPath) = 0;

    /** The file browser that finds a moved plugin file; empty when cancelled. */
    virtual juce::String locatePluginFile() = 0;

    /** The non-modal "Info" box about two slots sharing one effect. */
    virtual void warnSharedEffect() = 0;
};

/** The real dialogs: native file dialog and message boxes, and the framework-drawn file browser. */
class SystemLoadDialogs : public LoadDialogs
{
public:
    juce::File choosePluginFile() override;
    LocateAnswer askToLocateMissingFile(const juce::String& missingPath) override;
    juce::String locatePluginFile() override;
    void warnSharedEffect() override;
};
