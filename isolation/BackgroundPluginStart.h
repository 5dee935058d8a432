#pragma once

#include "isolation/IsolatedPluginLoader.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace pendulum::isolation
{
/**
    Starts a plugin in a helper process on a thread of its own: the helper, the plugin of the file
    by its name, a prepare, then whatever `setUp` gives it (a recovery's snapshot). For the reload
    of a crashed slot: a plugin that takes long to load (or to take its state) keeps neither the
    message thread nor the audio thread waiting.

    Threads: made, taken and destroyed on the message thread; the work runs on its own thread, which
    calls `whenDone` when it has finished (from that thread: post to the message thread from there).
    The destructor abandons a start still running (its helper is killed) and waits for the thread.
*/
class BackgroundPluginStart
{
public:
    BackgroundPluginStart(juce::String file, juce::String pluginName, double sampleRate, int blockSize,
                          std::function<void(juce::AudioPluginInstance&)> setUp, std::function<void()> whenDone);
    ~BackgroundPluginStart();

    bool isDone() const noexcept { return done.load(std::memory_order_acquire); }

    /**
        Once done: the loader holding the plugin, created, prepared and set up; asked again for the
        same file and plugin name, it hands that plugin over. Null when the start failed (the
        ordinary load then says why). Message thread, once.
    */
    std::unique_ptr<IsolatedPluginLoader> take();

    const juce::String& getFile() const noexcept { return file; }
    const juce::String& getPluginName() const noexcept { return pluginName; }

    BackgroundPluginStart(const BackgroundPluginStart&) = delete;
    BackgroundPluginStart& operator=(const BackgroundPluginStart&) = delete;

private:
    void run(double sampleRate, int blockSize, const std::function<void(juce::AudioPluginInstance&)>& setUp,
             const std::function<void()>& whenDone);

    const juce::String file;
    const juce::String pluginName;
    std::unique_ptr<IsolatedPluginLoader> loader; // the worker's until done
    bool succeeded = false;                       // written by the worker before done
    std::atomic<bool> done { false };
    std::thread worker;
};
} // namespace pendulum::isolation
