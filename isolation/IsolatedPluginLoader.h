#pragma once

#include "hosting/GenericAudioPluginLoader.h"
#include "isolation/SlotConnection.h"

#include <mutex>

namespace pendulum::isolation
{
/**
    Makes a slot's plugin in a helper process of its own (see IsolatedPluginInstance). Nothing of
    the plugin's file is loaded into this process, not even to list what the file holds.
    Message thread, or one other thread that owns the loader until it hands it over (a recovery
    started in the background; abandon() may then come from the owner of that thread).
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

    /**
        Whether a file with several plugins, given no name, may ask the user which one (a modal
        chooser on the message thread). Off for a start on another thread: such a file is refused.
    */
    void setMayChoose(bool may) noexcept { mayChoose = may; }

    /**
        Gives up a creation in progress on another thread, and any plugin created: its helper is
        killed, and the creation returns without a plugin. Any thread.
    */
    void abandon();

    Outcome getOutcome() const noexcept { return outcome; }
    /** Why the last creation did not give a plugin, in words. */
    const juce::String& getProblem() const noexcept { return problem; }

private:
    Outcome outcome = Outcome::refused;
    juce::String problem;
    bool mayChoose = true;
    // What the plugin was made from: asked again for the same, the loader hands over that plugin
    // (one created on another thread beforehand).
    juce::String createdFile, createdName;
    std::mutex startingLock;
    SlotConnection* starting = nullptr; // the connection being started or in use (under startingLock)
    bool abandoned = false;              // under startingLock
};
} // namespace pendulum::isolation
