#pragma once

#include "container/PluginContainerAudioProcessor.h"

#include <functional>
#include <memory>

class MyHostAudioProcessorEditor;

/**
    Fills a container's slots directly with in-process instances, the way a completed load leaves
    them (a loader owning the instance, and an auxiliary buffer for plugins with more than two
    outputs), so routing can be tested without plugin files.
*/
struct PluginContainerTestAccess
{
    static void install(PluginContainerAudioProcessor& container, int slot,
                        std::unique_ptr<juce::AudioPluginInstance> instance, const juce::File& pluginFile = {});
    static void setActive(PluginContainerAudioProcessor& container, int slot);
    /** Marks the slot crashed, as the crash probe does. */
    static void markCrashed(PluginContainerAudioProcessor& container, int slot);
    static bool hasAuxBuffer(const PluginContainerAudioProcessor& container, int slot);
    static int auxChannels(const PluginContainerAudioProcessor& container, int slot);
    static int auxSamples(const PluginContainerAudioProcessor& container, int slot);
    /**
        Replaces the clock of the container's crash-loop guard (milliseconds) and, when given, the
        timer that starts its delayed reloads: scheduler(delayMs, reload) is called instead of a
        framework timer, and the test runs the reload when it wants.
    */
    static void setRecoveryTiming(PluginContainerAudioProcessor& container, std::function<double()> clock,
                                  std::function<void(int, std::function<void()>)> scheduler = {});
    /** The slot's holder of its plugin's editor window, or null. */
    static MyHostAudioProcessorEditor* editorHolder(const PluginContainerAudioProcessor& container, int slot);
};
