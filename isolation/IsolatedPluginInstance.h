#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "isolation/SlotConnection.h"

#include <atomic>
#include <memory>

namespace pendulum::isolation
{
/**
    A hosted plugin that runs in a helper process, seen as an ordinary plugin instance: the
    container routes, saves, restores and switches it as it does one in its own process.

    Audio goes through the connection's block channel (see SlotConnection::process); everything
    else is a command with a deadline. Parameter values are read from the helper's cache and
    changes are queued, so the host's parameter calls never wait for the helper. After a failure
    every call answers at once with nothing (silence, empty state, no programs).

    The plugin's own editor opens in a native window of the helper's (see SlotServer); a timer
    on the message thread passes the plugin's display updates on to the instance's listeners as
    program changes, as the framework does for a plugin in this process.
*/
class IsolatedPluginInstance final : public juce::AudioPluginInstance, private juce::Timer
{
public:
    /** Null when the helper could not load the plugin (the connection is closed then). */
    static std::unique_ptr<IsolatedPluginInstance> create(std::unique_ptr<SlotConnection> connection,
                                                          const juce::String& description);
    ~IsolatedPluginInstance() override;

    SlotConnection& getConnection() noexcept { return *connection; }
    const SlotConnection& getConnection() const noexcept { return *connection; }

    /** A vendor query (effVendorSpecific and the like, with no pointer) answered by the plugin in the helper. */
    SlotConnection::Reply dispatch(int opcode, int index, std::int64_t value, float opt);

    /**
        Opens the plugin's editor in the helper's window titled `title`, on the monitor of
        `ownerWindow` (the container's top-level window, or null) and owned by it, at cascade place
        `cascadeStep`; an open one is raised and retitled. True when the editor is open afterwards.
        Message thread.
    */
    bool openEditor(const juce::String& title, void* ownerWindow, int cascadeStep);
    /** Closes the plugin's editor and its window, if it is open. Message thread. */
    void closeEditor();
    /** True while the editor is open; false once the user closed it or the helper failed. */
    bool isEditorOpen() const noexcept { return connection->editorOpen(); }
    /** The helper's editor window (an X11 Window id, an HWND), null without an open editor. */
    void* getEditorWindow() const noexcept;

    /** The container's mode: offline blocks wait for the helper however long it takes (up to the hang limit). */
    void setOffline(bool offline) noexcept { offlineMode.store(offline, std::memory_order_relaxed); }

    // juce::AudioPluginInstance
    void fillInPluginDescription(juce::PluginDescription& description) const override;
    const juce::String getName() const override { return displayName; }
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void reset() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioPluginInstance::processBlock;
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return numPrograms; }
    int getCurrentProgram() override;
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int, const juce::String&) override {}
    void getStateInformation(juce::MemoryBlock& destination) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

private:
    class Parameter;
    void timerCallback() override;

    static BusesProperties busesFor(int inputs, int outputs);

    IsolatedPluginInstance(std::unique_ptr<SlotConnection> connection, const juce::StringPairArray& values,
                           const juce::StringArray& parameterNames, const BusesProperties& buses);

    std::unique_ptr<SlotConnection> connection;
    juce::PluginDescription description;
    juce::String displayName;
    int numPrograms = 0;
    int channels = 0;
    std::atomic<double> preparedRate { 44100.0 };
    std::atomic<bool> offlineMode { false };
    static constexpr int displayPollMs = 50;
    std::uint32_t displayUpdatesSeen = 0; // message thread
};
} // namespace pendulum::isolation
