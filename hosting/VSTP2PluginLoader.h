#pragma once

#include "hosting/GenericAudioPluginLoader.h"

/**
    Loads VST 2.x plugins through JUCE's VST format.

    A file is scanned once per process: its descriptions go into the process-wide cache, keyed by
    the path exactly as written, and later loads of that path skip the scan. When a file holds
    several plugins and no name is asked for, the user picks one in a modal chooser.

    Message thread only. Diagnostics go to standard output.
*/
class VSTP2PluginLoader : public GenericAudioPluginLoader
{
public:
    VSTP2PluginLoader();
    ~VSTP2PluginLoader() override;

    /**
        Names the out-of-process scanning program. Scanning always happens in-process: this only
        records the name, and the out-of-process route stays off.
    */
    void setScanWorkerPath(const juce::String& name);

    juce::AudioPluginInstance* createPluginInstance(const juce::String& file, const juce::String& formatName,
                                                    const juce::String& pluginName) override;

    juce::OwnedArray<juce::PluginDescription>& findPluginDescriptions(const juce::String& file) override;

    bool isUsingScanWorker() const noexcept { return useScanWorker; }
    const juce::String& getScanWorkerPath() const noexcept { return scanWorkerPath; }

private:
    /** Creates an instance from the description, replacing the current one; remembers the choice. */
    void makeInstanceFrom(juce::PluginDescription& description);
    void discardInstanceAndDescriptions();

    bool useScanWorker = false;
    juce::String scanWorkerPath;
};
