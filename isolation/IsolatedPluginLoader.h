#pragma once

#include "hosting/GenericAudioPluginLoader.h"

namespace pendulum::isolation
{
/**
    Makes a slot's plugin in a helper process of its own (see IsolatedPluginInstance). Nothing of
    the plugin's file is loaded into this process, not even to list what the file holds.
    Message thread.
*/
class IsolatedPluginLoader final : public GenericAudioPluginLoader
{
public:
    /** How the last createPluginInstance went. */
    enum class Outcome
    {
        created,
        helperUnavailable, // no helper, or it did not start: the plugin may still load in-process
        refused,           // the file holds no such plugin, or the user chose none
        pluginFailed,      // the plugin ended or hung its helper while loading
    };

    juce::AudioPluginInstance* createPluginInstance(const juce::String& file, const juce::String& formatName,
                                                    const juce::String& pluginName) override;

    Outcome getOutcome() const noexcept { return outcome; }
    /** Why the last creation did not give a plugin, in words. */
    const juce::String& getProblem() const noexcept { return problem; }

private:
    Outcome outcome = Outcome::refused;
    juce::String problem;
};
} // namespace pendulum::isolation
