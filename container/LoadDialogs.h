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

/**
    Dialogs for loads that must not ask anybody (the watchdog's reloads, on stage): every question
    is answered as if the user had cancelled, and the first one asked is remembered, so the caller
    can say why the load could not go on.
*/
class SilentLoadDialogs : public LoadDialogs
{
public:
    juce::File choosePluginFile() override
    {
        note("no plugin file was given");
        return {};
    }

    LocateAnswer askToLocateMissingFile(const juce::String& missingPath) override
    {
        note("the plugin file is missing: " + missingPath);
        return LocateAnswer::cancel;
    }

    juce::String locatePluginFile() override
    {
        note("the plugin file would have to be located");
        return {};
    }

    void warnSharedEffect() override {}

    /** Why the load needed somebody to answer; empty when nothing was asked. */
    const juce::String& unanswered() const noexcept { return firstQuestion; }

private:
    void note(const juce::String& question)
    {
        if (firstQuestion.isEmpty())
            firstQuestion = question;
    }

    juce::String firstQuestion;
};
