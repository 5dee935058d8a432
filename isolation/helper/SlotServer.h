#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "isolation/SlotProtocol.h"
#include "platform/HelperProcess.h"
#include "platform/ThreadScheduling.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class DirectVst2Processor;
class eee34ty0w9845rgymsiufdgomiugdfi;

namespace pendulum::isolation
{
/**
    The helper's side of one slot: hosts one plugin of one file and serves the container's two
    channels (see SlotProtocol.h).

    Threads: commands arrive on a thread of the server's own and run on the message thread, as
    plugins expect of everything but processing; blocks run on a processing thread of the server's.
    A prepare, release or reset never overlaps a block (processLock). The plugin is created by the
    first load command and lives until the server goes.

    The plugin's editor opens in a native top-level window of this process, made and driven as the
    container makes its in-process ones (HostedEditorWindow: size, placement, idle timer, resizing,
    closing from the frame); its state is published in the region whenever it changes. The window
    is closed before the plugin goes.
*/
class SlotServer final : private juce::AudioProcessorListener
{
public:
    /** region: the shared layout in regionSignals' memory, whose words that one waits on and wakes. */
    SlotServer(SlotShared& region, const platform::SharedRegion& regionSignals, juce::String pluginFile);
    ~SlotServer() override;

    /** Starts serving; returns at once. The quit command stops the message loop. */
    void start();

private:
    void serveCommands();
    void serveBlocks();
    void runCommand();
    void processBlock() noexcept;
    void applyParameterChanges() noexcept;
    /** Takes over the floating-point status and scheduling of the container's audio thread. */
    void takeOverThreadState() noexcept;
    void refreshParameterCache(int first, int count) noexcept;

    bool load(const juce::String& name);
    juce::String describe() const;
    void answerText(const juce::String& text);
    bool openEditor(const juce::String& title, std::int64_t ownerWindow, int cascadeStep);
    void closeEditor();
    /** Writes the editor's state into the region and counts the change (message thread). */
    void publishEditor() noexcept;

    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float value) override;
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override;

    SlotShared& shared;
    const platform::SharedRegion& signals;
    const juce::String file;

    std::unique_ptr<juce::VSTPluginFormat> format;
    juce::OwnedArray<juce::PluginDescription> descriptions;
    std::unique_ptr<juce::AudioPluginInstance> plugin;
    std::unique_ptr<DirectVst2Processor> direct;
    std::unique_ptr<eee34ty0w9845rgymsiufdgomiugdfi> editorWindow; // made by the first openEditor
    juce::AudioBuffer<float> blockBuffer; // points into the region (no copy)
    juce::MidiBuffer blockMidi;
    std::mutex processLock;
    std::atomic<bool> processing { false }; // the plugin is prepared and may get blocks
    int refreshCursor = 0;
    platform::ThreadScheduling schedulingAsked; // processing thread only

    juce::MemoryBlock stateOut; // the state being read piece by piece
    juce::MemoryBlock stateIn;  // the state being written piece by piece

    std::atomic<bool> stopping { false };
    std::thread commandThread;
    std::thread blockThread;
};
} // namespace pendulum::isolation
