#pragma once

#include "container/LoadDialogs.h"

#include <juce_core/juce_core.h>

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
};

class ScriptedLoadDialogs : public LoadDialogs
{
public:
    explicit ScriptedLoadDialogs(DialogScript& script) : answers(script) {}

    juce::File choosePluginFile() override
    {
        answers.asked.add("choose");
        return answers.fileToChoose;
    }

    LocateAnswer askToLocateMissingFile(const juce::String& missingPath) override
    {
        answers.asked.add("locate?:" + missingPath);
        return answers.locateAnswer;
    }

    juce::String locatePluginFile() override
    {
        answers.asked.add("browse");
        return answers.locatedPath;
    }

    void warnSharedEffect() override { answers.asked.add("info"); }

private:
    DialogScript& answers;
};
