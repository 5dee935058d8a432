#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "container/MidiStateTracker.h"
#include "container/OutputDelay.h"
#include "container/OutputHealth.h"
#include "container/SwitchCrossfade.h"
#include "container/SlotAccessGuard.h"
#include "crashwatch/CrashLoopGuard.h"
#include "hosting/MyHostAudioProcessorEditor.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class AudioProcessorState;
class DeferredSlotWork;
class DirectVst2Processor;
struct DocumentElement;
class GenericAudioPluginLoader;
class LoadDialogs;
class ProgramChangeWatch;

namespace pendulum::isolation
{
class BackgroundPluginStart;
class IsolatedPluginInstance;
}

/**
    The container: the audio processor that the host drives through the VST2 wrapper.

    It has two slots, 0 and 1, each holding at most one hosted plugin, and one active slot. Every
    block of audio and MIDI goes to the active slot's plugin and to nothing else; the other slot
    stays loaded, prepared and silent. The host sees 1024 parameters that address the parameters
    of whatever plugin is active.

    Threading contract
    - processBlock runs on the host's audio thread, under the processor's callback lock (the
      wrapper holds it). It allocates nothing (an auxiliary buffer grows only for a block longer
      than the prepared size), takes no lock and logs nothing. A hosted VST2 plugin is played
      through its own entry points (DirectVst2Processor), not through the framework's processBlock,
      which takes a lock of the instance's in every block.
    - What processBlock reads of a slot (its loader, auxiliary buffer, direct path, output delay)
      is exchanged under the callback lock, so a block never sees half of it. A load, reload or
      restore into the active slot does not suspend processing: it marks the slot as being handed
      over (slotHandOver, under the callback lock, so a block still playing the old plugin ends
      first) until the new plugin is complete; meanwhile blocks play silence for it, the hot
      standby plays on, and their MIDI goes into the tracker, so the new plugin's first block
      starts from the stream's state and no note-off of the host's is lost. An unload of the
      active slot on its own (unloadPlugin) still leaves the container suspended until the next
      load into it or a switch. A switch changes the
      active index, with the catch-up flags and the hot standby, in one step under the callback
      lock (setActiveIndex), without suspending: a host's blocks and their MIDI go on through it.
      The active index is atomic besides, and processBlock reads it once per block.
    - A slot whose plugin runs in a helper process may fail inside a block (the helper died or
      hung). processBlock then marks the slot crashed and, with the automatic switch on, plays the
      other slot in that same block (a hot standby's output of that block is used as it is) and
      makes it the active one: the audio thread changes the active index there while holding the
      callback lock (the wrapper's). The message thread hears of the failure from the helper's
      watcher and does the rest (console, panel, recovery).
    - Offline (the host's non-real-time mode), the rendering thread asks the active slot's plugin
      the crash query itself, once per watch period of rendered audio, counted in samples from the
      first offline block after a prepare or after real-time blocks. The query is a direct call
      into the plugin's dispatcher, which cooperating plugins answer from a flag of theirs: it
      takes no lock of ours and allocates nothing, and the thread is not a real-time one in that
      mode. A plugin that answers 1 is marked crashed and, with the automatic switch on, the other
      slot plays that very block (with the catch-up, or as it is when it is the hot standby), so a
      bounce switches where the audio says, however fast it renders. The watchdog meanwhile leaves
      that slot alone (no probe, no switch: see isActiveSlotProbedWhileRendering). A slot in a
      helper process is asked through its block channel (a round trip without audio, lock-free,
      waiting up to the hang limit as offline blocks do), never through its command lock.
    - Output health (an option): the audio thread judges every block a slot plays, the hot
      standby's included, before the delay and the sanitizer see it (OutputHealth, per slot,
      audio-thread state; a slot's is started afresh after a block it did not play or a change of
      its loader). Non-finite or stuck output marks the slot crashed and, for the active slot,
      switches in the block as for a failed helper (failOverInBlock).
    - A failure found in a block (crash query offline, output health) is kept per slot in an atomic
      cause, stored before the crash mark; the watchdog's next tick takes it on the message thread
      and tells console and panel (reportBlockFailures), then recovers the slot as any crash.
      A change of the slot's loader drops a cause not told yet (under the callback lock).
    - processBlock feeds every block's MIDI to a state tracker. A switch or a load into the active
      slot sets that slot's catch-up flag (under the callback lock, or while suspended); the next
      block that plays the slot takes the flag and starts with the tracker's state, written into a
      MIDI buffer whose room is reserved at construction. Others read the tracker only under the
      callback lock. The plugin switched away from gets its notes ended by one block of its own,
      played on the message thread under slotLock once the switch is done, never when it crashed.
    - The container reports one latency, the largest of its loaded slots', and delays each slot's
      output by the difference to its own (OutputDelay, preallocated). The reported latency and
      the delays change only with a load, an unload or a prepare, never with a switch. A slot's
      delay is replaced under the callback lock (a block may be playing that slot); a switch
      clears the delay of the slot it makes active, under the same lock, so stale audio of that
      slot's last turn never comes out.
    - A switch by hand crossfades over 5 ms. The plugin switched away from is not played by the
      audio thread: once the switch is done, the message thread renders its next 5 ms (under
      slotLock, the slot being inactive) into the fade's buffer and arms the fade under the
      callback lock, unless a block has been played since the switch. The switch cancels a fade
      still running before it renders, so the buffer is never written while a block reads it. A
      switch away from a crashed plugin has no fade.
    - Hot standby (an option): the audio thread also plays the slot named by hotStandbySlot, with
      a copy of the block's events, into a buffer sized at prepare, and throws the output away.
      That index is set only under the callback lock; every change of a slot's loader, a prepare
      and a release first take the slot out of it (exchangeLoader, stopHotStandby), and it is set
      again once the slot is complete (updateHotStandby). So, with the option on, the inactive
      slot is still never touched by a block while it changes. A slot that becomes the hot standby
      gets the catch-up in its first block; a switch to the hot standby gives it none (it has every
      note already) and makes the slot switched away from the standby, notes kept, unless it
      crashed; the switch's fade then mixes the standby's output of that very block. The message
      thread never plays the hot standby's plugin (no note release, no fade rendering, no reset).
    - The host's parameter calls (get, set, name, text) may come from any thread, the audio thread
      included. They hold a SlotAccessGuard for the length of the forwarded call; every change of
      a slot's loader or of the active index takes the guard's write side for the pointer move
      only, and destroys what it took out after letting go. A switch takes the guard before the
      callback lock, never the other way round, so the audio thread never waits for a parameter
      call in flight. Get and set reach a hosted VST2 plugin's own entry points: the framework's
      parameter objects take the instance's lock, which a save's chunk or a reset holds for long.
    - prepareToPlay, releaseResources and getStateInformation run on whatever thread the host
      uses. They and every change of the slots hold slotLock, so a prepare never meets a
      half-made load, and a save never reads a plugin that is being replaced. slotLock is never
      held across a dialog, and never taken by processBlock or the parameter forwarders.
    - setStateInformation on the message thread restores at once. From another thread it keeps a
      copy of the document and hands the restore to the message thread (loads create plugins and
      may ask the user, which is message-thread work). Either way, until the restore has finished
      getStateInformation gives the host that document back unchanged.
    - A save never asks a plugin that cannot answer for its state: a crashed slot, one being
      reloaded and one whose plugin is missing are written from the slot's kept snapshot. A
      healthy slot's state is captured once per save, for the document and the snapshot alike.
    - A new plugin gets its snapshot (program, state block, parameters) before it is put into the
      slot, so the audio thread never plays it in its default state.
    - Each slot keeps two snapshot generations (under slotLock). The crash-loop guard that counts
      automatic reloads is told of crashes and reloads on the message thread and of new snapshots
      by saves on the host's thread; it has a lock of its own, held for its bookkeeping only. Its
      delayed reloads run from a framework timer on the message thread; the audio thread never
      reloads, and nothing waits for a delay.
    - Operations that destroy a hosted plugin (unload, reload, restore) wait while a call of ours
      into one of the container's plugins is in progress: the plugin may have run a loop of its
      own (a modal dialog) in which our panel, timers or posted work came to run.
    - Loads can open modal dialogs, in whose nested loops the host may destroy the container.
      Every caller of a dialog checks afterwards, through a weak reference, that the container
      still exists, and gives up quietly if it does not.
    - Everything else (construction, destruction, accessors, loads, switches, the watchdog) runs on
      the message thread. Constructions and destructions of containers must not overlap: they
      share process-wide state without locks.
*/
class PluginContainerAudioProcessor : public juce::AudioProcessor
{
public:
    static constexpr int numSlots = 2;
    static constexpr int numHostParameters = 1024;
    static constexpr int numOptions = 4;

    enum OptionIndex
    {
        optionConsole = 0,
        optionAutoCrashRecovery = 1,
        optionAutoSwitch = 2,
        optionReloadCrashedPluginData = 3
    };

    PluginContainerAudioProcessor();
    ~PluginContainerAudioProcessor() override;

    //==============================================================================================
    // Own operations. Every slot argument is 0 or 1.

    juce::String getLoadedPluginName(int slot) const;
    void setOption(int index, bool value);
    bool getOption(int index);
    void setInstanceName(const juce::String& name);
    juce::String getInstanceName() const;
    int getActivePluginIndex() const noexcept { return activePluginIndex.load(); }
    juce::AudioPluginInstance* getPluginInstance(int slot) const;
    bool isPluginCrashed(int slot) const noexcept { return pluginCrashed[(size_t) slot].load(); }
    /** MIDI events the slot's plugin did not get because a block carried more than it can take. */
    std::uint64_t getDroppedMidiEventCount(int slot) const;
    /**
        Events of the host's block that the first block after a switch could not pass on: the
        state handed to the new plugin and the block's own events together outgrew the room kept
        for them (see processBlock).
    */
    std::uint64_t getDroppedCatchUpEventCount() const noexcept { return catchUpDropped.load(std::memory_order_relaxed); }

    /**
        True while the slot holds no running plugin but keeps one for the project: its reload or
        restore failed (file gone, a question nobody could answer). The slot is still saved as it
        was (file, plugin name, last good snapshot) until the user unloads or replaces it.
    */
    bool isPluginMissing(int slot) const;
    /** Why the slot's plugin is missing; empty when it is not. */
    juce::String getMissingReason(int slot) const;
    /**
        "Run plugins in separate processes": plugins loaded from now on run each in a helper
        process of its own (pendulum-slot-host, next to the plugin's binary), so that their crash
        or hang never takes the host down. A slot whose helper is missing or cannot start loads
        its plugin in-process, and the console and panel say so. Plugins already loaded stay
        where they are until they are loaded again.
    */
    void setRunInSeparateProcesses(bool on);
    bool getRunInSeparateProcesses() const noexcept { return separateProcesses.load(); }
    /**
        How long a helper process may leave blocks unanswered before it is declared hung and ended
        (250 ms by default, about the dropout threshold of hosts). For every slot, now and later.
    */
    void setHangLimitMs(int milliseconds);
    int getHangLimitMs() const noexcept { return hangLimitMs.load(); }
    /** True when the slot's plugin runs in a helper process. */
    bool isSlotIsolated(int slot) const;
    /**
        How the slot's plugin last failed in its helper process ("segmentation fault (signal 11)"),
        kept across its recovery; empty if it never did, or once the slot has been emptied.
    */
    juce::String getFailureCause(int slot) const;

    /** True between the start of a slot's recovery and the end of its reload. */
    bool isPluginRecovering(int slot) const;
    /**
        True while a load, recovery or restore of this container is in progress (one of them may
        be waiting for a dialog); the watchdog then leaves the container's recoveries for later.
    */
    bool isBusy() const noexcept { return operationDepth > 0; }

    /**
        The last thing that happened to the slots, for the panel's one-line report: when, and what
        in a short sentence that counts slots from 1 as people do ("slot 1 crashed; playing slot
        2"). Recorded by the crash probe, switches, recoveries (with their duration), loads that
        fail and plugins of a project that cannot be loaded. An empty text before the first event.
        Any thread.
    */
    struct SlotEvent
    {
        juce::Time time;
        juce::String text;
    };
    SlotEvent getLastEvent() const;

    //==============================================================================================
    // Loading, unloading and switching (message thread).

    /**
        Loads a plugin into the slot: from filePath (asking to locate it if it has gone), or from a
        file the user picks when filePath is empty; pluginName picks one plugin of a shell file
        (empty: the only one, or the user's choice). Instruments with audio inputs are refused. The
        slot keeps what it had unless the new plugin was created, started and accepted.
    */
    bool loadPlugin(int slot, const juce::String& filePath, const juce::String& pluginName);

    /**
        Empties the slot; suspends processing first if it is the active one. Without
        keepRecoveryState the slot forgets its plugin altogether (snapshot, missing placeholder).
        While a call into the slot's plugin is in progress the unload waits until it has returned.
    */
    void unloadPlugin(int slot, bool keepRecoveryState, bool resumeProcessing);

    /**
        The user's unload (the panel's "Unload"): empties the slot, forgetting its recovery
        snapshot, and resumes processing. If the slot was the active one and the other slot holds a
        plugin that has not crashed, the other slot becomes the active one, so the container keeps
        playing; otherwise the empty slot stays active.
    */
    void unloadPluginByUser(int slot);

    /** The native open-file dialog; a non-existent file when the user cancels. */
    juce::File choosePluginFile();

    /** Makes a loaded slot the active one; false (and nothing changes) for an empty slot. */
    bool setActivePlugin(int slot);

    /**
        Shows the slot's plugin's own editor in a native window of the container's (restores and
        raises the window if it is open already), titled "<instance name> - slot N - <plugin>" with
        N counted from 1. A new window opens on the monitor of the container's editor, owned by the
        host's window that shows it, cascaded by slot and container. Does nothing for an empty slot.
        A plugin in a helper process shows it in a window of the helper's, by the same rules.
    */
    void openEditor(int slot);
    /**
        True while the slot's plugin's editor is open, in a window of ours or of the slot's helper
        process; false once the user closed it from its frame, or the helper ended.
    */
    bool isEditorOpen(int slot) const;
    /** This container's place in the cascade of editor windows (0 for the first living container). */
    int getEditorCascadeIndex() const noexcept { return cascadeSeat.index(); }

    /** Replaces the dialogs through which loads ask the user (the system's dialogs by default). */
    void setLoadDialogs(std::shared_ptr<LoadDialogs> dialogs);

    //==============================================================================================
    // Crash watch and recovery (message thread).

    /**
        Asks the slot's plugin whether it has crashed (the vendor-specific crash query) and marks
        the slot if it answers 1. Returns the slot's crash mark afterwards; false for an empty slot.
    */
    bool probePluginCrash(int slot);

    /**
        Reloads the slot's plugin (the same plugin of the same file) and, when the option says so,
        gives the new instance the program, state block and parameter values of the slot's recovery
        snapshot before it plays. A slot whose plugin is missing is tried again the same way.
        With mayAskUser false (the watchdog) no dialog opens: a reload that would need an answer
        fails, and the slot is kept as missing with the reason. An editor that was open on the
        crashed plugin is opened again on the new one (an editor in a helper process that ended
        went with it: the slot comes back without one).
    */
    void recoverPlugin(int slot, bool mayAskUser = true);

    /** The slot's recovery snapshot, or null. */
    const AudioProcessorState* getRecoveryState(int slot) const noexcept { return recoveryStates[(size_t) slot].get(); }
    /**
        The snapshot before the slot's last one (the state of the save before), or null: what an
        automatic reload gives a plugin that crashed right after it was given the last one. Only
        in memory; a project document holds the last snapshot alone.
    */
    const AudioProcessorState* getOlderRecoveryState(int slot) const noexcept { return olderStates[(size_t) slot].get(); }

    /**
        The watchdog's and the helper watcher's recovery of a crashed slot, through the crash-loop
        guard (see CrashLoopGuard): reloads at once or after a delay (a timer, never a wait), with
        the last or an older snapshot, or gives up past the limit and says so on the console, the
        panel's last-event line and the session log. The slot then stays crashed until the user
        reloads it (recoverPlugin with mayAskUser), loads a plugin into it or a project.
    */
    void recoverAfterCrash(int slot);
    /** True once automatic recovery gave up on the slot (until the user reloads or loads it). */
    bool hasRecoveryGivenUp(int slot) const { return crashLoop.hasGivenUp(slot); }
    /** True while an automatic reload of the slot waits for its delay. */
    bool isRecoveryWaiting(int slot) const { return crashLoop.isWaiting(slot); }

    /**
        Hot standby: the inactive slot's plugin plays every block with the same events as the
        active one, its output thrown away, so that at a switch its voices are already sounding.
        Off by default (it doubles the standby's processing). Message thread.
    */
    void setHotStandby(bool on);
    bool isHotStandby() const noexcept { return hotStandbyOption.load(); }
    /** The slot played as the hot standby now, or -1. */
    int getHotStandbySlot() const noexcept { return hotStandbySlot.load(); }

    /**
        How often the watchdog asks this container's plugins whether they have crashed: 1000 ms by
        default, between 50 and 1000 ms (a value outside is brought inside). The watchdog ticks at
        the smallest period of the live containers. Message thread.
    */
    void setWatchPeriodMs(int milliseconds);
    int getWatchPeriodMs() const noexcept { return watchPeriodMs.load(); }

    /**
        Output health: every block a slot plays is checked on the audio thread, and a plugin whose
        output is not finite (NaN, infinity) or stuck (the same audible block over and over for
        more than OutputHealth::stuckLimitMs) is treated as crashed: switched away from in that
        block, marked, told and recovered. Off by default. Message thread.
    */
    void setOutputHealthCheck(bool on);
    bool getOutputHealthCheck() const noexcept { return outputHealthOption.load(); }

    /**
        Tells console and panel of the failures found in blocks since the last call (a crash
        reported to the query while rendering offline, output health) and returns the slots that
        failed; the watchdog calls it at every tick and recovers them. Message thread.
    */
    std::array<bool, 2> reportBlockFailures();

    /**
        True while the host renders offline and the active slot's plugin is asked the crash query
        on the rendering thread (an in-process plugin): the watchdog neither asks nor switches that
        slot then, so a bounce switches where its audio says, not where the clock does.
    */
    bool isActiveSlotProbedWhileRendering() const;

    /** True while a document handed over from another thread waits for the message thread. */
    bool isRestorePending() const;

    //==============================================================================================
    // juce::AudioProcessor

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    void processBlockBypassed(juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const juce::String getInputChannelName(int channelIndex) const override;
    const juce::String getOutputChannelName(int channelIndex) const override;
    bool isInputChannelStereoPair(int index) const override;
    bool isOutputChannelStereoPair(int index) const override;

    int getNumParameters() override;
    const juce::String getParameterName(int parameterIndex) override;
    float getParameter(int parameterIndex) override;
    const juce::String getParameterText(int parameterIndex) override;
    void setParameter(int parameterIndex, float newValue) override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    bool silenceInProducesSilenceOut() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 0; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    /** The name of channel i as the host sees it: the channel number counted from 1. */
    static juce::String channelNameFor(int channelIndex);

private:
    /** Replaces the snapshot of the slot by a fresh capture of its plugin; returns it. */
    const AudioProcessorState& captureRecoveryState(int slot);
    /**
        Makes a fresh capture the slot's snapshot. The one it replaces becomes the older generation
        when their states differ; after a reload that was given an older snapshot or none, the
        snapshot blamed for the crash is dropped instead.
    */
    void keepSnapshot(int slot, std::shared_ptr<AudioProcessorState> fresh);
    /** Forgets both snapshot generations of the slot and its crash-loop record (under slotLock). */
    void forgetSnapshots(int slot);
    /** Says on the console, panel and session log that automatic recovery of the slot gave up. */
    void tellRecoveryGaveUp(int slot, int reloads);
    /** Starts the slot's granted reload after the delay, through scheduleRecovery or a framework timer. */
    void scheduleDelayedRecovery(int slot, std::uint32_t ticket, int delayMs);
    /** The delayed reload, unless the slot was reset since it was granted (ticket). */
    void runDelayedRecovery(int slot, std::uint32_t ticket);
    /**
        Runs an automatic reload granted by the guard (ticket): into a helper process, first
        started in the background (finishBackgroundStart continues), otherwise at once.
    */
    void runGrantedRecovery(int slot, std::uint32_t ticket);
    /** A background start of the slot's reload finished: the reload takes its plugin over. */
    void finishBackgroundStart(int slot, std::uint32_t ticket);
    /** A snapshot holding only which plugin the slot has (file, name, channels): no state. */
    std::shared_ptr<AudioProcessorState> identityOf(int slot) const;
    /** Writes one "plugin" element for the slot from a snapshot. */
    static void writePluginElement(class XmlDocumentText& xml, int slot, const AudioProcessorState& state);
    /** How the writer takes a slot: asks its plugin, from its kept snapshot, or not at all. */
    enum class SaveSource { none, plugin, snapshot };
    SaveSource saveSourceOf(int slot) const;
    /** Restores the container from a state document, on the message thread. */
    void restoreFromDocument(const char* text, size_t length);
    void restorePluginElement(const DocumentElement& element, std::array<bool, 2>& slotsToUnload);
    /** The plugin element's content as a snapshot (identity, program, state block, parameters). */
    static std::shared_ptr<AudioProcessorState> snapshotFromElement(const DocumentElement& element);
    void applyMainPluginElement(const DocumentElement& element);
    /** Runs the restore that another thread handed over, if it is still the latest one. */
    void runPendingRestore(juce::uint32 generation);
    /**
        Keeps a document as the state until its restore has finished; returns its generation.
        Without a copy it refers to the caller's bytes, which must outlive the restore.
    */
    juce::uint32 holdPendingDocument(const void* data, int sizeInBytes, bool copy);
    /** The document for the host: built from the slots, or the handed-over one while it waits. */
    void writeStateDocument(juce::MemoryBlock& destData);

    /**
        Makes both slots come out with the same latency: the container's is the largest of the
        slots' (a missing or reloading slot counts with the latency its plugin had), and each
        loaded slot's output delay is the difference to its own. Tells the host when the
        container's latency changed. Does nothing while alignment is held (see LatencyHold) or
        while the container is being destroyed. Under slotLock; delays are replaced under the
        callback lock.
    */
    void alignLatencies();

    /** Holds alignLatencies() back while it exists, and aligns once when the last hold goes. */
    struct LatencyHold
    {
        explicit LatencyHold(PluginContainerAudioProcessor& c);
        ~LatencyHold();
        juce::WeakReference<PluginContainerAudioProcessor> container;
    };
    /** Puts a loader into the slot (or empties it) and returns what was there, to destroy later. */
    std::unique_ptr<GenericAudioPluginLoader> exchangeLoader(int slot, std::unique_ptr<GenericAudioPluginLoader> loader);
    /**
        The active slot's helper process failed in this block, or its plugin's output failed the
        health check (audio thread): the slot is marked
        and, when the option says so and the other slot can play, the other slot plays this very
        block with the stream's held notes and controllers, and stays active.
    */
    void failOverInBlock(size_t failed, juce::AudioBuffer<float>& buffer,
                         const juce::AudioBuffer<float>* standbyPlayed) noexcept;

    /** What a block found wrong with a slot's plugin, kept for the message thread. */
    enum class BlockFailure
    {
        none,
        crashReported, // the crash query answered 1 while rendering offline
        notFinite,
        stuck
    };
    /** Keeps the cause for the message thread (the first one until it is told), then marks the slot crashed. Audio thread. */
    void markFailedInBlock(size_t slot, BlockFailure cause, double stuckMs) noexcept;
    /**
        Offline blocks: counts the rendered samples and, at each watch period, asks the active
        slot's plugin the crash query; on a crash (or a slot marked crashed already) switches to the
        other slot before the block is played. Returns the slot that plays the block. Audio thread.
    */
    size_t probeWhileRendering(size_t active, int numSamples) noexcept;
    /** Judges the output the slot's plugin just gave (see OutputHealth); false marks it failed. Audio thread. */
    bool outputIsHealthy(size_t slot, const juce::AudioBuffer<float>& buffer) noexcept;
    /**
        Tells console and panel, once per plugin, that the slot's helper process failed and why,
        and switches if no block did; false if there was nothing new to tell. Message thread.
    */
    bool reportIsolatedFailure(int slot);
    /** A helper process of a slot failed (message thread, posted by its watcher). */
    void isolatedSlotFailed(int slot, const pendulum::isolation::IsolatedPluginInstance* instance);
    /** Makes the loader for a new load: in a helper process when the option says so. */
    std::unique_ptr<GenericAudioPluginLoader> makeLoader(int slot) const;
    /** What the stream and the audio thread were at the instant of a switch. */
    struct SwitchMoment
    {
        MidiStateTracker held;         // what the plugin switched away from holds
        std::uint32_t blocksPlayed = 0; // blocks played up to the switch
    };
    /**
        Makes the slot the active one, atomically with respect to blocks (under the callback
        lock); returns the slot that was active. With a moment, fills it in at that instant; with
        fadeFromHotStandby, a switch to the hot standby fades the slot switched away from out in the
        next block. The rest of the switch (see setActivePlugin) needs no suspension.
    */
    int setActiveIndex(int slot, SwitchMoment* moment = nullptr, bool fadeFromHotStandby = false);
    /**
        Asks the open editor to bring its panel in line with the slots, unless refreshes are held
        (see panelRefreshHolds). Called after every change of a slot.
    */
    void refreshEditorPanel();
    /** The slot's plugin changed its program or program list itself: the panel's chooser follows. */
    void programsChangedInPlugin(int slot);

    /**
        The load itself. beforeCommit is given the new instance, prepared and not yet visible to
        the audio thread, to set it up (a snapshot); mayAskUser false answers every dialog with
        cancel, and why is put into *unanswered.
    */
    bool loadPluginWith(int slot, const juce::String& filePath, const juce::String& pluginName,
                        const std::function<void(juce::AudioPluginInstance&)>& beforeCommit, bool mayAskUser,
                        juce::String* unanswered);
    /** The unload itself, under no condition (see unloadPlugin). */
    void unloadSlot(int slot, bool keepRecoveryState, bool resumeProcessing);
    /** Marks the slot missing (kept for the project) with the reason, or clears the mark. */
    void setMissing(int slot, bool missing, const juce::String& reason);

    /** True while a call of ours into one of the slots' plugins is on the stack. */
    bool pluginCallInProgress() const;
    /**
        Plays one short block, output discarded, into the slot's plugin (inactive, prepared, not
        crashed) with the events that end what it holds by the stream the tracker saw: note-offs,
        pedals up, all-notes-off. Message thread, after the switch away from the slot.
    */
    void releaseHeldNotes(int slot, const MidiStateTracker& held);

    /**
        After a switch by hand: renders what the slot's plugin (inactive now, healthy) would have
        played next, through its output delay, as the material of the switch's crossfade, and arms
        the fade unless a block has already been played since the switch (blocksAtSwitch).
        Message thread, with processing running.
    */
    void renderFadeOut(int slot, std::uint32_t blocksAtSwitch);

    /** Runs the work later, once no call into the container's plugins is in progress. */
    void deferUntilPluginsFree(const juce::String& what, std::function<void(PluginContainerAudioProcessor&)> work);

    /** Counts an operation that changes slots (load, recovery, restore) for isBusy(). */
    struct OperationScope
    {
        explicit OperationScope(PluginContainerAudioProcessor& c) : container(&c) { ++c.operationDepth; }
        ~OperationScope()
        {
            if (auto* c = container.get())
                --c->operationDepth;
        }
        juce::WeakReference<PluginContainerAudioProcessor> container;
    };

    /**
        Plays the slot's plugin into the buffer (the container's two channels), through its
        auxiliary buffer if it has one, then its output delay and the sanitizer. With output health
        on, the plugin's raw output is judged first; false when it failed (the slot is marked).
        Audio thread.
    */
    bool renderSlot(size_t slot, juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) noexcept;
    /**
        The events the slot gets in this block: the host's own, or, when the slot's catch-up is
        pending or a copy is asked for, the catch-up and the host's events in `room`. Audio thread.
    */
    juce::MidiBuffer& eventsForSlot(size_t slot, juce::MidiBuffer& hostEvents, juce::MidiBuffer& room, bool alwaysCopy) noexcept;
    /**
        Makes the inactive slot the hot standby if the option is on and its plugin can play
        (loaded, prepared, not crashed), or stops it; a plugin that stops being the hot standby
        gets its notes ended. Message thread (or the host's, inside a prepare); under slotLock.
    */
    void updateHotStandby();
    /** No slot is played as the hot standby from the next block on (under the callback lock). */
    void stopHotStandby();

    /** Channels of a slot's auxiliary buffer: the larger of the plugin's input and output counts. */
    static int auxChannelsFor(const juce::AudioPluginInstance& instance);

    /** No inputs, one stereo output: the only layout the container accepts. */
    static BusesProperties containerBuses();

    void prepareSlot(int slot, double sampleRate, int samplesPerBlock);
    /** The path to load, asking the user where needed; nothing if the container died in a dialog. */
    std::optional<juce::String> resolveLoadPath(const juce::String& filePath, const std::shared_ptr<LoadDialogs>& dialogs);
    void commitLoadedPlugin(int slot, std::unique_ptr<GenericAudioPluginLoader> loader);
    bool slotsShareOneEffect() const;
    double startSampleRate() const;
    int startBlockSize() const;
    void logLine(const juce::String& message) const;
    /**
        Keeps the text, stamped with the current time, as the last event (see getLastEvent), and
        writes it to the session's log file, with the cause in parentheses when one is given.
    */
    void recordEvent(const juce::String& text, const juce::String& cause = {});
    /** Writes a line to the session's log file (see console/SessionLog.h); never from the audio thread. */
    void logSessionEvent(const juce::String& text) const;
    /** The slot as the panel names it: counted from 1. */
    static juce::String slotNumber(int slot) { return juce::String(slot + 1); }
    /** Parameter i of the plugin in the active slot, or null if there is no plugin or no such parameter. */
    juce::AudioProcessorParameter* activeParameter(int parameterIndex) const;

    std::atomic<int> activePluginIndex { 0 };

    // The MIDI state of the host's stream, fed by every block (audio thread). Others read it only
    // under the callback lock, when no block runs.
    MidiStateTracker midiState;
    // Set for a slot when it becomes the active one, or gets a new plugin while active (both while
    // no block runs); the next block that plays the slot takes it and starts with the catch-up.
    std::array<std::atomic<bool>, numSlots> catchUpPending { { false, false } };
    // Set while the active slot's plugin is being replaced (a load, reload or restore into it):
    // blocks leave the slot alone, play silence for it and track their MIDI (see processBlock).
    std::array<std::atomic<bool>, numSlots> slotHandOver { { false, false } };
    // The first block after a switch: the catch-up, then the host's events. Its room is reserved
    // at construction and never grows on the audio thread.
    static constexpr std::size_t catchUpHostRoomBytes = 16384;
    static constexpr std::size_t catchUpCapacityBytes = MidiStateTracker::maxCatchUpBytes + catchUpHostRoomBytes;
    juce::MidiBuffer catchUpMidi;
    std::atomic<std::uint64_t> catchUpDropped { 0 };
    // While above 0, slot changes do not refresh the editor's panel: a change made of smaller ones
    // (the unload inside a load, an unload followed by a switch) refreshes it once, complete, and
    // the destructor's unloads refresh nothing. Atomic: a host may destroy the container on a
    // thread of its own.
    std::atomic<int> panelRefreshHolds { 0 };
    std::array<std::unique_ptr<GenericAudioPluginLoader>, numSlots> pluginLoaders;
    // Follows the slots' plugins for program changes made on their side (after the loaders, so
    // it lets go of their instances before they go).
    std::unique_ptr<ProgramChangeWatch> programWatch;
    // The snapshot doubles as the record of which plugin the slot holds while it has none running.
    std::array<std::shared_ptr<AudioProcessorState>, numSlots> recoveryStates;
    // The generation before each slot's snapshot, for a plugin that crashes right after being
    // given the last one (under slotLock, as recoveryStates).
    std::array<std::shared_ptr<AudioProcessorState>, numSlots> olderStates;
    // Counts automatic reloads per slot and picks their snapshot (message thread); the delayed
    // reloads it asks for are started through scheduleRecovery (a framework timer; tests replace it).
    CrashLoopGuard crashLoop;
    std::function<void(int, std::function<void()>)> scheduleRecovery;
    // An automatic reload into a helper process starts the helper and the plugin, with its
    // snapshot, on a thread of its own (BackgroundPluginStart); the reload then takes that plugin
    // over (message thread). The state a start gave, to know it is still the one to give.
    std::array<std::unique_ptr<pendulum::isolation::BackgroundPluginStart>, numSlots> backgroundStarts;
    std::array<std::shared_ptr<const AudioProcessorState>, numSlots> backgroundStartStates;
    // A finished start's loader, for the reload's load to take (makeLoader); message thread.
    mutable std::array<std::unique_ptr<GenericAudioPluginLoader>, numSlots> startedLoaders;
    // Holders of the windows showing the hosted plugins' own editors; a slot's goes before its loader.
    std::array<std::unique_ptr<MyHostAudioProcessorEditor>, numSlots> pluginEditors;
    // Where this container's editor windows stand in the cascade of all containers' windows.
    EditorCascadeSeat cascadeSeat;
    std::array<std::unique_ptr<juce::AudioBuffer<float>>, numSlots> auxBuffers;
    // Each loaded slot's output delay (see alignLatencies); replaced only under the callback lock.
    std::array<std::unique_ptr<pendulum::container::OutputDelay>, numSlots> outputDelays;
    // The latency each slot's plugin last reported, kept while the slot is missing or reloading
    // (under slotLock).
    std::array<int, numSlots> slotLatencies {};
    // The crossfade of a switch by hand (see SwitchCrossfade) and the count of blocks played, by
    // which a switch knows whether its fade would still come in time.
    pendulum::container::SwitchCrossfade switchFade { 2 };
    std::atomic<std::uint32_t> blocksPlayed { 0 };
    // Hot standby: the option, the slot the audio thread plays as the standby (-1: none; set under
    // the callback lock), its events (room reserved at construction) and its thrown-away output
    // (sized at prepare), and the fade of a switch to it, taken by the next block.
    std::atomic<bool> hotStandbyOption { false };
    std::atomic<int> hotStandbySlot { -1 };
    juce::MidiBuffer standbyMidi;
    juce::AudioBuffer<float> standbyOutput;
    std::atomic<bool> hotFadePending { false };
    std::atomic<int> watchPeriodMs { 1000 };
    // Output health: the option, each slot's judge (audio thread only) with the block it last
    // judged, and a request to start it afresh (a new loader), taken by the audio thread.
    std::atomic<bool> outputHealthOption { false };
    std::array<pendulum::container::OutputHealth, numSlots> outputHealth;
    std::array<std::uint32_t, numSlots> healthJudgedBlock {};
    std::array<std::atomic<bool>, numSlots> healthRestart { { false, false } };
    // A failure found in a block, per slot, until the message thread tells it (see reportBlockFailures).
    std::array<std::atomic<BlockFailure>, numSlots> blockFailures { { BlockFailure::none, BlockFailure::none } };
    std::array<std::atomic<int>, numSlots> blockFailureMs { { 0, 0 } };
    // Offline rendering (audio thread only, but for the restart a prepare asks for): samples
    // rendered since the bounce began, and where the next crash query is due.
    std::atomic<bool> offlineRestart { true };
    std::atomic<double> blockSampleRate { 44100.0 }; // the host's last prepare, for the audio thread's counts
    bool renderingOffline = false;
    std::int64_t offlineSamples = 0;
    std::int64_t nextOfflineProbe = 0;
    int latencyHolds = 0;       // message thread (or the host's thread inside a prepare, under slotLock)
    bool tearingDown = false;   // set by the destructor: its unloads tell the host nothing
    // The audio path into a slot's hosted VST2 plugin; null for other instances (framework's call).
    std::array<std::unique_ptr<DirectVst2Processor>, numSlots> directPaths;
    std::array<std::atomic<bool>, numSlots> pluginCrashed { { false, false } };
    // The slot's plugin when it runs in a helper process (null otherwise); changes with the loader.
    std::array<pendulum::isolation::IsolatedPluginInstance*, numSlots> isolatedInstances {};
    std::atomic<bool> separateProcesses { false };
    std::atomic<int> hangLimitMs { 250 };
    std::array<juce::String, numSlots> failureCauses; // message thread
    // The failed plugin whose end was told (message thread; compared, never followed).
    std::array<const void*, numSlots> failureReported {};
    std::array<std::atomic<bool>, numOptions> options { { false, false, true, true } };
    mutable juce::SpinLock instanceNameLock;
    juce::String instanceName { "default instance" };
    std::shared_ptr<LoadDialogs> loadDialogs;
    mutable juce::CriticalSection lastEventLock;
    SlotEvent lastEvent;
    juce::WeakReference<PluginContainerAudioProcessor> weakThis; // made at construction, copied by other threads

    juce::CriticalSection slotLock;
    SlotAccessGuard parameterGuard;
    double preparedSampleRate = 0.0; // the host's last prepare (under slotLock); 0 before it
    int preparedBlockSize = 0;
    std::array<bool, numSlots> slotPrepared {}; // the slot's plugin was prepared and not released since

    // Slots that keep a plugin without running it (all under slotLock): being reloaded, or missing.
    std::array<bool, numSlots> slotRecovering {};
    std::array<bool, numSlots> slotMissing {};
    std::array<juce::String, numSlots> missingReason;
    // Written under slotLock and this one, read by the getters under this one alone; nothing is
    // locked while it is held.
    mutable juce::CriticalSection slotMarksLock;

    int operationDepth = 0; // message thread
    std::unique_ptr<DeferredSlotWork> deferredWork; // message thread

    // A document being restored: kept as the state until its restore is done (under pendingStateLock).
    // A restore that runs at once, inside the host's call, reads the host's own bytes; one that has
    // to wait keeps a copy.
    struct PendingDocument
    {
        juce::MemoryBlock copy;
        const void* data = nullptr;
        size_t size = 0;
    };
    mutable juce::CriticalSection pendingStateLock;
    std::shared_ptr<const PendingDocument> pendingState;
    bool restorePending = false;
    juce::uint32 pendingGeneration = 0;

    friend struct PluginContainerTestAccess; // tests fill slots directly, without plugin files

    JUCE_DECLARE_WEAK_REFERENCEABLE(PluginContainerAudioProcessor)
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginContainerAudioProcessor)
};
