#pragma once

#include "container/LoadDialogs.h"

#include <juce_core/juce_core.h>

#include <functional>

/**
    Answers the load procedure's questions from a script and records what was asked. The answers
    object outlives the dialogs handed to the container, so a test keeps its reference after
    setLoadDialogs().
*/
struct DialogScript
{
    juce::File fileToChoose;                  // what the native file dialog returns
    LoadDialogs::LocateAnswer locateAnswer = LoadDialogs::LocateAnswer::no;
    juce::String locatedPath;                 // what the file browser returns
    juce::StringArray asked;                  // "choose", "locate?:<path>", "browse", "info"

    // Runs inside every dialog, with its name as in `asked`, the way the host's own windows stay
    // live while a real dialog is open (a test may destroy the container here).
    std::function<void(const juce::String& dialog)> whileOpen;
};

class ScriptedLoadDialogs : public LoadDialogs
{
public:
    explicit ScriptedLoadDialogs(DialogScript& script) : answers(script) {}

    juce::File choosePluginFile() override
    {
        answers.asked.add("choose");
        opened("choose");
        return answers.fileToChoose;
    }

    LocateAnswer askToLocateMissingFile(const juce::String& missingPath) override
    {
        answers.asked.add("locate?:" + missingPath);
        opened("locate?");
        return answers.locateAnswer;
    }

    juce::String locatePluginFile() override
    {
        answers.asked.add("browse");
        opened("browse");
        return answers.locatedPath;
    }

    void warnSharedEffect() override { answers.asked.add("info"); }

private:
    void opened(const juce::String& dialog)
    {
        if (answers.whileOpen)
            answers.whileOpen(dialog);
    }

    DialogScript& answers;
};
