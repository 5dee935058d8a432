#include "container/PluginContainerAudioProcessor.h"
#include "isolation/BackgroundPluginStart.h"
#include "container/ProgramChangeWatch.h"
#include "hosting/MyHostAudioProcessorEditor.h"

#include "console/ConsoleGlobals.h"
#include "console/SessionLog.h"
#include "container/LoadDialogs.h"
#include "container/DeferredSlotWork.h"
#include "container/ProcessGlobals.h"
#include "container/SampleSanitizer.h"
#include "crashwatch/AudioProcessorState.h"
#include "crashwatch/CrashWatchDog.h"
#include "hosting/DirectVst2Processor.h"
#include "hosting/EffectHandle.h"
#include "hosting/GenericAudioPluginLoader.h"
#include "isolation/IsolatedPluginInstance.h"
#include "ui/PluginContainerAudioProcessorEditor.h"

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

juce::AudioProcessor::BusesProperties PluginContainerAudioProcessor::containerBuses()
{
    return BusesProperties().withOutput("Output", juce::AudioChannelSet::stereo(), true);
}

PluginContainerAudioProcessor::PluginContainerAudioProcessor()
    : juce::AudioProcessor(containerBuses()), loadDialogs(std::make_shared<SystemLoadDialogs>())
{
    weakThis = this;
    catchUpMidi.ensureSize(catchUpCapacityBytes);
    programWatch = std::make_unique<ProgramChangeWatch>([this](int slot) { programsChangedInPlugin(slot); });
    standbyMidi.ensureSize(catchUpCapacityBytes);
    standbyOutput.setSize(2, 512);

    // The process-wide watchdog and console belong to the message thread. A host may create a
    // plugin on another thread (on Linux the plugin's message thread is its own), so the
    // registration then waits for the message thread to stand still, as the wrapper does when it
    // destroys a plugin.
    std::unique_ptr<juce::MessageManagerLock> messageThreadLock;
    if (auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
        messageManager != nullptr && !messageManager->isThisTheMessageThread())
        messageThreadLock = std::make_unique<juce::MessageManagerLock>();

    CrashWatchDog::registerContainer(*this);

    if (debugConsole == nullptr)
        debugConsole = std::make_unique<KWDebugConsole>();

    debugConsole->setTitle("PluginPendulum console");

    if (consoleEnabled)
        debugConsole->show();

    ++numInstances;

    consolePrint("watchdog->getNumberOfPluginsBeingWatched():"
                 + juce::String(watchdog != nullptr ? watchdog->getNumberOfPluginsBeingWatched() : 0));
    consolePrint("PluginContainerAudioProcessor::PluginContainerAudioProcessor()");
}

PluginContainerAudioProcessor::~PluginContainerAudioProcessor()
{
    // As in the constructor: the process-wide watchdog, the console and the editor windows belong
    // to the message thread, and a host may destroy a plugin from another thread.
    std::unique_ptr<juce::MessageManagerLock> messageThreadLock;
    if (auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
        messageManager != nullptr && !messageManager->isThisTheMessageThread())
        messageThreadLock = std::make_unique<juce::MessageManagerLock>();

    // Work that waited for a plugin's call to return is dropped with the container.
    deferredWork.reset();

    // Reloads being started in the background are given up (their helpers are killed).
    for (auto& start : backgroundStarts)
        start.reset();
    for (auto& started : startedLoaders)
        started.reset();

    // The editor has been closed by now (a host closes it first); the unloads below ask no panel
    // to follow them, whatever editor may still be going away.
    ++panelRefreshHolds;
    tearingDown = true;

    for (int slot = 0; slot < numSlots; ++slot)
        unloadSlot(slot, false, false);

    CrashWatchDog::unregisterContainer(*this);

    --numInstances;

    if (numInstances == 0 && debugConsole != nullptr)
    {
        debugConsole->hide();
        debugConsole.reset();
    }
}

//==================================================================================================

juce::String PluginContainerAudioProcessor::getLoadedPluginName(int slot) const
{
    const auto& loader = pluginLoaders[(size_t) slot];

    if (loader == nullptr)
    {
        // A missing plugin is named as the project names it.
        if (const auto& kept = recoveryStates[(size_t) slot]; kept != nullptr && isPluginMissing(slot))
            return kept->pluginName.isNotEmpty() ? kept->pluginName : kept->displayName;
        return "<none>";
    }

    if (const auto* description = loader->getChosenDescription())
        return description->name;

    return {};
}

void PluginContainerAudioProcessor::setOption(int index, bool value)
{
    options[(size_t) index] = value;

    if (index != optionConsole)
        return;

    consoleEnabled = value;

    if (debugConsole != nullptr)
    {
        if (value)
            debugConsole->show();
        else
            debugConsole->hide();
    }
}

bool PluginContainerAudioProcessor::getOption(int index)
{
    if (index == optionConsole)
        options[optionConsole] = consoleEnabled.load();

    return options[(size_t) index];
}

void PluginContainerAudioProcessor::setInstanceName(const juce::String& name)
{
    const juce::SpinLock::ScopedLockType lock(instanceNameLock);
    instanceName = name;
}

juce::String PluginContainerAudioProcessor::getInstanceName() const
{
    const juce::SpinLock::ScopedLockType lock(instanceNameLock);
    return instanceName;
}

juce::AudioPluginInstance* PluginContainerAudioProcessor::getPluginInstance(int slot) const
{
    const auto& loader = pluginLoaders[(size_t) slot];
    return loader != nullptr ? loader->getPluginInstance() : nullptr;
}

std::uint64_t PluginContainerAudioProcessor::getDroppedMidiEventCount(int slot) const
{
    const auto& direct = directPaths[(size_t) slot];
    return direct != nullptr ? direct->droppedEvents() : 0;
}

juce::AudioProcessorParameter* PluginContainerAudioProcessor::activeParameter(int parameterIndex) const
{
    auto* instance = getPluginInstance(activePluginIndex.load());

    if (instance == nullptr)
        return nullptr;

    // Array's operator[] answers null for an index out of range, negative ones included.
    return instance->getParameters()[parameterIndex];
}

void PluginContainerAudioProcessor::setLoadDialogs(std::shared_ptr<LoadDialogs> dialogs)
{
    if (dialogs != nullptr)
        loadDialogs = std::move(dialogs);
}

PluginContainerAudioProcessor::SlotEvent PluginContainerAudioProcessor::getLastEvent() const
{
    const juce::ScopedLock lock(lastEventLock);
    return lastEvent;
}

void PluginContainerAudioProcessor::recordEvent(const juce::String& text, const juce::String& cause)
{
    const auto now = juce::Time::getCurrentTime();
    {
        const juce::ScopedLock lock(lastEventLock);
        lastEvent = { now, text };
    }
    logSessionEvent(cause.isEmpty() ? text : text + " (" + cause + ")");
}

void PluginContainerAudioProcessor::logSessionEvent(const juce::String& text) const
{
    session_log::write(getInstanceName(), text);
}

void PluginContainerAudioProcessor::logLine(const juce::String& message) const
{
    consolePrint(getInstanceName() + message);
}

//==================================================================================================

const juce::String PluginContainerAudioProcessor::getName() const
{
    return "PluginPendulum(Synth)";
}

void PluginContainerAudioProcessor::prepareToPlay(double sampleRate, int samplesPerBlock)
{
    // A load on the message thread prepares its plugin and commits it under the same lock, so
    // each plugin ends up prepared with the host's latest rate and block size.
    const juce::ScopedLock lock(slotLock);

    preparedSampleRate = sampleRate;
    preparedBlockSize = samplesPerBlock;
    // A bounce begins with a prepare: its crash queries count from its first block.
    offlineRestart.store(true, std::memory_order_release);
    blockSampleRate.store(sampleRate, std::memory_order_release);

    // No block plays the standby while the slots are prepared; its buffer gets the new size.
    stopHotStandby();
    {
        const juce::ScopedLock audioLock(getCallbackLock());
        standbyOutput.setSize(2, samplesPerBlock, false, true, false);
        switchFade.setSampleRate(sampleRate);
    }

    for (int slot = 0; slot < numSlots; ++slot)
        if (pluginLoaders[(size_t) slot] != nullptr)
            prepareSlot(slot, sampleRate, samplesPerBlock);

    updateHotStandby();

    // A plugin may report another latency at another rate or block size.
    alignLatencies();
}

void PluginContainerAudioProcessor::prepareSlot(int slot, double sampleRate, int samplesPerBlock)
{
    auto* instance = getPluginInstance(slot);

    logLine(":prepareToPlay (" + juce::String(slot) + "), " + juce::String(sampleRate) + ", "
            + juce::String(samplesPerBlock));

    if (auto* playHead = getPlayHead())
        instance->setPlayHead(playHead);

    // A plugin that is prepared already (loaded before the host's first prepare, or prepared
    // again without a release in between) is released first: many plugins compute what depends
    // on the rate and block size only when they are started.
    if (slotPrepared[(size_t) slot])
        instance->releaseResources();

    // Only the rate and block size are handed on: asking a hosted plugin for the container's own
    // channel layout would make JUCE reconfigure the plugin's buses. It keeps its own channels.
    instance->setRateAndBufferSizeDetails(sampleRate, samplesPerBlock);
    instance->prepareToPlay(sampleRate, samplesPerBlock);
    slotPrepared[(size_t) slot] = true;

    auto& aux = auxBuffers[(size_t) slot];
    auto& direct = directPaths[(size_t) slot];
    if (aux != nullptr || direct != nullptr)
    {
        // The host should not process while it prepares, but the wrapper does not enforce it: the
        // buffers are reallocated under the callback lock, which every block holds.
        const juce::ScopedLock audioLock(getCallbackLock());
        if (aux != nullptr)
            aux->setSize(auxChannelsFor(*instance), samplesPerBlock, false, true, false);
        if (direct != nullptr)
            direct->prepare(sampleRate, samplesPerBlock);
    }
}

void PluginContainerAudioProcessor::releaseResources()
{
    const juce::ScopedLock lock(slotLock);
    stopHotStandby();

    for (int slot = 0; slot < numSlots; ++slot)
    {
        if (auto* instance = getPluginInstance(slot))
        {
            logLine(":releaseResources (" + juce::String(slot) + "), ");
            instance->releaseResources();
            slotPrepared[(size_t) slot] = false;
        }
    }
}

void PluginContainerAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages)
{
    blocksPlayed.fetch_add(1, std::memory_order_relaxed);
    auto active = (size_t) activePluginIndex.load(std::memory_order_acquire);

    // An active slot whose plugin is being replaced is left alone until the new one is complete.
    const bool handedOver = slotHandOver[active].load(std::memory_order_acquire);

    // Offline, the rendering thread asks the active plugin whether it crashed, by the audio
    // rendered, and may switch before the block is played.
    if (!isNonRealtime())
        renderingOffline = false;
    else if (!handedOver)
        active = probeWhileRendering(active, buffer.getNumSamples());

    // The hot standby, if there is one that can play: it gets the same events, in a copy of its
    // own (a plugin played through the framework may rewrite the buffer it is given).
    const int hot = hotStandbySlot.load(std::memory_order_acquire);
    const bool playStandby = hot >= 0 && (size_t) hot != active && pluginLoaders[(size_t) hot] != nullptr
                          && !pluginCrashed[(size_t) hot].load(std::memory_order_acquire);
    if (playStandby)
        eventsForSlot((size_t) hot, midiMessages, standbyMidi, true);

    if (pluginLoaders[active] == nullptr || handedOver)
    {
        // Silence for an empty slot or one being replaced. The events still go into the tracker
        // (the next plugin to play starts from the stream's state) and to the hot standby, which
        // must hold every note it will sound when a switch makes it active.
        midiState.process(midiMessages);
        const auto numSamples = buffer.getNumSamples();
        const auto numChannels = juce::jmin(getTotalNumOutputChannels(), buffer.getNumChannels());
        for (int channel = 0; channel < numChannels; ++channel)
            buffer.clear(channel, 0, numSamples);
        if (playStandby)
        {
            standbyOutput.setSize(standbyOutput.getNumChannels(), numSamples, false, false, true);
            standbyOutput.clear();
            renderSlot((size_t) hot, standbyOutput, standbyMidi);
        }
        return;
    }

    // The first block a plugin plays after a switch (or after its load into the active slot)
    // starts with what the stream has left standing: controllers, program, bend, pressure and the
    // notes still held, at sample 0 before the block's own events. The state is the tracker's as
    // of the previous block; this block's events then go to the tracker as to every block.
    auto* midi = &eventsForSlot(active, midiMessages, catchUpMidi, false);
    midiState.process(midiMessages);
    if (midi != &midiMessages)
        midiMessages.clear(); // its events went on in the catch-up buffer, as a plugin leaves it

    if (playStandby)
    {
        // Played and thrown away: only its voices matter, and the fade of a switch back to it.
        standbyOutput.setSize(standbyOutput.getNumChannels(), buffer.getNumSamples(), false, false, true);
        standbyOutput.clear();
        renderSlot((size_t) hot, standbyOutput, standbyMidi);
    }

    const bool healthy = renderSlot(active, buffer, *midi);

    // A slot in a helper process that failed in this block, or a plugin whose output failed the
    // health check: the other slot plays it.
    if (auto* isolated = isolatedInstances[active]; !healthy || (isolated != nullptr && isolated->getConnection().failed()))
        failOverInBlock(active, buffer, playStandby ? &standbyOutput : nullptr);

    // The block of a switch by hand fades the plugin switched away from out: with a hot standby
    // from what it played just now, otherwise from what the switch rendered of it beforehand.
    // Every slot's output left renderSlot clean; only a mix needs cleaning again.
    bool faded = true;
    if (hotFadePending.exchange(false, std::memory_order_acq_rel) && playStandby)
        switchFade.applyFrom(buffer, standbyOutput);
    else
        faded = switchFade.apply(buffer);

    if (faded)
        pendulum::container::sanitizeChannels(buffer, getTotalNumOutputChannels());
}

juce::MidiBuffer& PluginContainerAudioProcessor::eventsForSlot(size_t slot, juce::MidiBuffer& hostEvents,
                                                               juce::MidiBuffer& room, bool alwaysCopy) noexcept
{
    const bool catchUp = catchUpPending[slot].exchange(false, std::memory_order_acq_rel);
    if (!catchUp && !alwaysCopy)
        return hostEvents;

    room.clear();
    if (catchUp)
        midiState.writeCatchUp(room, 0);

    // Only what fits the reserved room is passed on (6 bytes of the buffer's own per event).
    std::size_t used = 0;
    for (const auto metadata : room)
        used += (std::size_t) metadata.numBytes + 6;
    for (const auto metadata : hostEvents)
    {
        const auto size = (std::size_t) metadata.numBytes + 6;
        if (used + size > catchUpCapacityBytes)
        {
            catchUpDropped.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        used += size;
        room.addEvent(metadata.data, metadata.numBytes, metadata.samplePosition);
    }
    return room;
}

bool PluginContainerAudioProcessor::renderSlot(size_t slot, juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) noexcept
{
    auto* instance = pluginLoaders[slot]->getPluginInstance();
    auto* direct = directPaths[slot].get();
    auto* isolated = isolatedInstances[slot];

    // A hosted VST2 plugin plays through its own entry points, one in a helper process through its
    // connection; any other instance through the framework's call.
    const auto play = [&](juce::AudioBuffer<float>& target) {
        if (direct != nullptr)
        {
            direct->process(target, midi, getPlayHead());
            return;
        }
        if (auto* playHead = getPlayHead())
            instance->setPlayHead(playHead);
        if (isolated != nullptr)
            isolated->setOffline(isNonRealtime());
        instance->processBlock(target, midi);
    };

    auto& aux = auxBuffers[slot];

    if (aux == nullptr)
    {
        play(buffer);

        // A plugin with fewer outputs than the container leaves the rest of the buffer as it was.
        for (int channel = instance->getTotalNumOutputChannels(); channel < buffer.getNumChannels(); ++channel)
            buffer.clear(channel, 0, buffer.getNumSamples());
    }
    else
    {
        // A plugin with more outputs than the container writes into its own wider buffer; only its
        // first two channels are exchanged with the host.
        const auto numSamples = buffer.getNumSamples();
        const auto exchanged = juce::jmin(2, buffer.getNumChannels(), aux->getNumChannels());

        // Nothing of the last block is kept: the host's two channels are copied in below and the
        // plugin writes all of its outputs. Keeping the content would make the framework allocate
        // a new block whenever a block is longer than the one before, even within the prepared size.
        aux->setSize(aux->getNumChannels(), numSamples, false, false, true);

        for (int channel = 0; channel < exchanged; ++channel)
            aux->copyFrom(channel, 0, buffer, channel, 0, numSamples);

        play(*aux);

        for (int channel = 0; channel < exchanged; ++channel)
            buffer.copyFrom(channel, 0, *aux, channel, 0, numSamples);
    }

    // Judged as the plugin gave it: the sanitizer below would hide what is not finite.
    const bool healthy = !outputHealthOption.load(std::memory_order_relaxed) || outputIsHealthy(slot, buffer);

    // Held back by the difference to the container's latency, so that both slots come out in step.
    if (auto* delay = outputDelays[slot].get())
        delay->process(buffer);

    pendulum::container::sanitizeChannels(buffer, getTotalNumOutputChannels());
    return healthy;
}

bool PluginContainerAudioProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    return layouts.getMainInputChannels() == 0 && layouts.inputBuses.isEmpty()
        && layouts.outputBuses.size() == 1 && layouts.getMainOutputChannelSet() == juce::AudioChannelSet::stereo();
}

//==================================================================================================

int PluginContainerAudioProcessor::auxChannelsFor(const juce::AudioPluginInstance& instance)
{
    return juce::jmax(instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels());
}

juce::String PluginContainerAudioProcessor::channelNameFor(int channelIndex)
{
    return juce::String(channelIndex + 1);
}

const juce::String PluginContainerAudioProcessor::getInputChannelName(int channelIndex) const
{
    return channelNameFor(channelIndex);
}

const juce::String PluginContainerAudioProcessor::getOutputChannelName(int channelIndex) const
{
    return channelNameFor(channelIndex);
}

bool PluginContainerAudioProcessor::isInputChannelStereoPair(int) const
{
    return true;
}

bool PluginContainerAudioProcessor::isOutputChannelStereoPair(int) const
{
    return true;
}

int PluginContainerAudioProcessor::getNumParameters()
{
    return numHostParameters;
}

const juce::String PluginContainerAudioProcessor::getParameterName(int parameterIndex)
{
    const SlotAccessGuard::ReadScope guard(parameterGuard);

    if (auto* parameter = activeParameter(parameterIndex))
        return parameter->getName(1024);
    return {};
}

float PluginContainerAudioProcessor::getParameter(int parameterIndex)
{
    const SlotAccessGuard::ReadScope guard(parameterGuard);

    if (auto* instance = getPluginInstance(activePluginIndex.load()))
        if (auto* effect = vstEffectOf(*instance))
            return vstParameterValue(*effect, parameterIndex);

    if (auto* parameter = activeParameter(parameterIndex))
        return parameter->getValue();
    return 0.0f;
}

const juce::String PluginContainerAudioProcessor::getParameterText(int parameterIndex)
{
    const SlotAccessGuard::ReadScope guard(parameterGuard);

    if (auto* parameter = activeParameter(parameterIndex))
        return parameter->getCurrentValueAsText();
    return {};
}

void PluginContainerAudioProcessor::setParameter(int parameterIndex, float newValue)
{
    const SlotAccessGuard::ReadScope guard(parameterGuard);

    if (auto* instance = getPluginInstance(activePluginIndex.load()))
    {
        if (auto* effect = vstEffectOf(*instance))
        {
            setVstParameterValue(*effect, parameterIndex, newValue);
            return;
        }
    }

    if (auto* parameter = activeParameter(parameterIndex))
        parameter->setValue(newValue);
}

//==================================================================================================

juce::AudioProcessorEditor* PluginContainerAudioProcessor::createEditor()
{
    auto* editor = new PluginContainerAudioProcessorEditor(*this);
    editor->attachConsole(debugConsole.get());
    editor->refreshPanel();
    return editor;
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE

//==================================================================================================

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PluginContainerAudioProcessor();
}
