#pragma once

#include <juce_events/juce_events.h>

#include <array>
#include <memory>

class PluginContainerAudioProcessor;

/**
    The process-wide crash watchdog: once a period, on the message thread, it asks every hosted
    plugin of every container whether it has crashed, and acts on the answers per container:
    switch away from a crashed active plugin (option auto-switch), then reload the crashed ones
    (option auto crash recovery), through the container's crash-loop guard (CrashLoopGuard: at
    most 3 reloads of a slot in 60 s, 0, 1 and 2 s after the crash, then it gives up).

    There is one watchdog while at least one container exists: the first container creates it, the
    last one deletes it. Containers register in their constructor and leave in their destructor.

    A tick first probes every container and switches each away from a crashed active plugin, then
    reloads the crashed plugins, so one container's reload never delays another's switch. The
    watchdog's reloads open no dialog; a reload that would need an answer leaves the slot marked
    as missing, with the reason. A plugin's reload may still run a nested loop of its own, in which
    the host may destroy containers, or the last of them and with it the watchdog: the tick holds
    weak references and stops at once when the watchdog itself is gone. A tick never nests.

    The period is each container's option (1000 ms by default, down to 50 ms): the watchdog ticks
    at the smallest period of the live containers, and every tick probes every container. A plugin
    answers the crash query in microseconds, so a container that asked for 1000 ms loses nothing
    worth measuring by being probed as often as the fastest one; one timer keeps the ticks' order
    (every switch before any reload) across containers.

    Failures the audio thread found in blocks (a crash reported while rendering offline, output
    health) are told by the tick, first, and recovered like the probe's. While the host renders
    offline, a container's active in-process slot is asked on the rendering thread by the rendered
    audio (see PluginContainerAudioProcessor::isActiveSlotProbedWhileRendering): the tick neither
    asks nor switches that slot, so a bounce sounds the same however fast it renders.

    Message thread only.
*/
class CrashWatchDog : public juce::Timer
{
public:
    static constexpr int periodMs = 1000;   // the default period
    static constexpr int minPeriodMs = 50;  // the shortest a container may ask for

    CrashWatchDog();
    ~CrashWatchDog() override;

    /** One tick: every registered container, in registration order. */
    void timerCallback() override;

    int getNumberOfPluginsBeingWatched() const noexcept { return watchedProcessors.size(); }

    /** The period the watchdog ticks at: the smallest of the registered containers'. */
    int getPeriodMs() const noexcept { return tickPeriodMs; }

    /**
        A container's period changed: the watchdog takes the smallest again, restarting its timer
        with it if that changed (a stopped timer stays stopped).
    */
    static void watchPeriodChanged();

    /** The registered containers, in registration order. */
    const juce::Array<PluginContainerAudioProcessor*>& getWatchedProcessors() const noexcept { return watchedProcessors; }

    /** Creates the watchdog if there is none, and appends the container to its list. */
    static void registerContainer(PluginContainerAudioProcessor& container);

    /**
        Removes the container, logs how many are left, and deletes the watchdog when none is.
    */
    static void unregisterContainer(PluginContainerAudioProcessor& container);

private:
    /** Probe and auto-switch of one container; returns the slots found crashed. */
    static std::array<bool, 2> probeAndSwitch(PluginContainerAudioProcessor& container);
    /** Auto-recovery of the slots found crashed, without dialogs; none while the container is busy. */
    static void recoverCrashed(PluginContainerAudioProcessor& container, std::array<bool, 2> crashed);

    /** Takes the smallest period of the registered containers (see watchPeriodChanged). */
    void retime();

    juce::Array<PluginContainerAudioProcessor*> watchedProcessors;
    int tickPeriodMs = periodMs;
    int tickPosition = -1; // the container the running tick's probe is at, or -1
    bool ticking = false;  // a tick is running (a nested one returns at once)

    JUCE_DECLARE_WEAK_REFERENCEABLE(CrashWatchDog)
    JUCE_DECLARE_NON_COPYABLE(CrashWatchDog)
};

/** The single watchdog; null while no container exists. Message thread only. */
extern std::unique_ptr<CrashWatchDog> watchdog;
