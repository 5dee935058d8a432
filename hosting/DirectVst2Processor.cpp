#include "hosting/DirectVst2Processor.h"

#include "hosting/EffectHandle.h"

#include <cstddef>
#include <cstring>

// The event list as the plugin reads it: VstEvents with room for eventCapacity pointers.
struct DirectVst2Processor::EventList
{
    Vst2::VstInt32 numEvents;
    Vst2::VstIntPtr reserved;
    Vst2::VstEvent* events[eventCapacity];
};

// One event's storage: short messages travel as MIDI events, longer ones (system exclusive) as
// sysex events pointing into the block's MIDI buffer, which outlives the plugin's call.
union DirectVst2Processor::EventSlot
{
    Vst2::VstMidiEvent midi;
    Vst2::VstMidiSysexEvent sysex;
};

namespace
{
static_assert(offsetof(Vst2::VstEvents, numEvents) == 0);

// The framework's host callback, the function every plugin it hosts was given at creation. The
// framework hands it to the entry point of a "plugin" made from a function of ours; that function
// keeps it and creates nothing, so the framework gives up and nothing is left behind.
std::atomic<Vst2::audioMasterCallback> recordedHostCallback { nullptr };

Vst2::AEffect* VSTCALLBACK recordHostCallback(Vst2::audioMasterCallback host)
{
    recordedHostCallback.store(host);
    return nullptr;
}

Vst2::audioMasterCallback frameworkHostCallback()
{
    // Message thread only (loads); the first call asks, later ones find the answer.
    if (auto known = recordedHostCallback.load())
        return known;

    const std::unique_ptr<juce::AudioPluginInstance> none(
        juce::VSTPluginFormat::createCustomVSTFromMainCall(reinterpret_cast<void*>(&recordHostCallback), 44100.0, 512));
    return recordedHostCallback.load();
}

Vst2::VstInt32 smpteRateOf(const juce::AudioPlayHead::FrameRate& rate, bool& known) noexcept
{
    known = true;
    switch (rate.getBaseRate())
    {
    case 24:
        return rate.isPullDown() ? Vst2::kVstSmpte239fps : Vst2::kVstSmpte24fps;
    case 25:
        return rate.isPullDown() ? Vst2::kVstSmpte249fps : Vst2::kVstSmpte25fps;
    case 30:
        if (rate.isPullDown())
            return rate.isDrop() ? Vst2::kVstSmpte2997dfps : Vst2::kVstSmpte2997fps;
        return rate.isDrop() ? Vst2::kVstSmpte30dfps : Vst2::kVstSmpte30fps;
    case 60:
        return rate.isPullDown() ? Vst2::kVstSmpte599fps : Vst2::kVstSmpte60fps;
    default:
        known = false;
        return 0;
    }
}

template <typename Field, typename Value>
void setOrClear(Vst2::VstTimeInfo& info, Field& field, const juce::Optional<Value>& value, Vst2::VstInt32 flag) noexcept
{
    if (value.hasValue())
    {
        field = static_cast<Field>(*value);
        info.flags |= flag;
    }
    else
    {
        info.flags &= ~flag;
    }
}

void setFlag(Vst2::VstTimeInfo& info, Vst2::VstInt32 flag, bool on) noexcept
{
    info.flags = on ? (info.flags | flag) : (info.flags & ~flag);
}
} // namespace

std::unique_ptr<DirectVst2Processor> DirectVst2Processor::create(juce::AudioPluginInstance& instance)
{
    auto* effect = vstEffectOf(instance);
    if (effect == nullptr)
        return nullptr;

    const auto host = frameworkHostCallback();
    if (host == nullptr)
        return nullptr;

    // The framework finds the instance through the effect and answers with the instance's record.
    auto* timeInfo = reinterpret_cast<Vst2::VstTimeInfo*>(host(effect, Vst2::audioMasterGetTime, 0, 0, nullptr, 0.0f));
    if (timeInfo == nullptr)
        return nullptr;

    return std::unique_ptr<DirectVst2Processor>(new DirectVst2Processor(*effect, *timeInfo));
}

DirectVst2Processor::DirectVst2Processor(Vst2::AEffect& hostedEffect, Vst2::VstTimeInfo& hostTimeInfo)
    : effect(hostedEffect), timeInfo(hostTimeInfo), events(std::make_unique<EventList>()),
      eventSlots(std::make_unique<EventSlot[]>((size_t) eventCapacity))
{
    static_assert(offsetof(EventList, events) == offsetof(Vst2::VstEvents, events));
    events->numEvents = 0;
    events->reserved = 0;
}

DirectVst2Processor::~DirectVst2Processor() = default;

void DirectVst2Processor::prepare(double newSampleRate, int maximumBlockSize)
{
    sampleRate = newSampleRate;
    const auto samples = juce::jmax(1, maximumBlockSize);

    // Room for the channels the plugin declares now and a few it may announce later.
    channelCapacity = juce::jmax(2, effect.numInputs, effect.numOutputs) + 8;
    inputPointers = std::make_unique<float*[]>((size_t) channelCapacity);
    outputPointers = std::make_unique<float*[]>((size_t) channelCapacity);
    accumulatePointers = std::make_unique<float*[]>((size_t) channelCapacity);
    scratch.setSize(channelCapacity, samples);
    accumulated.setSize(channelCapacity, samples);
}

bool DirectVst2Processor::fitBlock(int numSamples, int channels) noexcept
{
    if (channels > channelCapacity)
        return false;
    if (numSamples <= scratch.getNumSamples())
        return true;

    // A block longer than the prepared size (the host broke its promise): the buffers grow, once.
    try
    {
        scratch.setSize(channelCapacity, numSamples);
        accumulated.setSize(channelCapacity, numSamples);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

void DirectVst2Processor::writeTimeInfo(juce::AudioPlayHead* playHead) noexcept
{
    auto& info = timeInfo;
    info.sampleRate = sampleRate;

    juce::Optional<juce::AudioPlayHead::PositionInfo> position;
    if (playHead != nullptr)
        position = playHead->getPosition();

    if (position.hasValue())
    {
        if (const auto samples = position->getTimeInSamples())
            info.samplePos = (double) *samples;

        setOrClear(info, info.ppqPos, position->getPpqPosition(), Vst2::kVstPpqPosValid);
        setOrClear(info, info.barStartPos, position->getPpqPositionOfLastBarStart(), Vst2::kVstBarsValid);
        setOrClear(info, info.tempo, position->getBpm(), Vst2::kVstTempoValid);

        const auto signature = position->getTimeSignature();
        if (signature)
        {
            info.timeSigNumerator = signature->numerator;
            info.timeSigDenominator = signature->denominator;
        }
        setFlag(info, Vst2::kVstTimeSigValid, signature.hasValue());

        // "Changed" marks the first block after the transport started, stopped or began recording.
        const Vst2::VstInt32 transportFlags = Vst2::kVstTransportPlaying | Vst2::kVstTransportRecording;
        const Vst2::VstInt32 transport = (position->getIsPlaying() ? Vst2::kVstTransportPlaying : 0)
                                       | (position->getIsRecording() ? Vst2::kVstTransportRecording : 0);
        const bool changed = transport != (info.flags & transportFlags);
        info.flags = (info.flags & ~transportFlags) | transport;
        setFlag(info, Vst2::kVstTransportChanged, changed);

        const auto loop = position->getLoopPoints();
        if (loop)
        {
            info.cycleStartPos = loop->ppqStart;
            info.cycleEndPos = loop->ppqEnd;
        }
        setFlag(info, Vst2::kVstCyclePosValid, loop.hasValue());
        setFlag(info, Vst2::kVstTransportCycleActive, position->getIsLooping());

        bool knownRate = false;
        if (const auto frameRate = position->getFrameRate())
        {
            info.smpteFrameRate = smpteRateOf(*frameRate, knownRate);
            // The offset counts subframes, 80 to a frame.
            info.smpteOffset = (Vst2::VstInt32) (position->getTimeInSeconds().orFallback(0.0) * 80.0
                                                     * frameRate->getEffectiveRate()
                                                 + 0.5);
        }
        setFlag(info, Vst2::kVstSmpteValid, knownRate);

        if (const auto hostNanoseconds = position->getHostTimeNs())
        {
            info.nanoSeconds = (double) *hostNanoseconds;
            info.flags |= Vst2::kVstNanosValid;
            return;
        }
    }

    // The system time of the block, when the host gives none.
    info.nanoSeconds = juce::Time::getMillisecondCounterHiRes() * 1.0e6;
    info.flags |= Vst2::kVstNanosValid;
}

void DirectVst2Processor::sendEvents(const juce::MidiBuffer& midi, int numSamples) noexcept
{
    int count = 0;
    std::uint64_t lost = 0;

    for (const auto metadata : midi)
    {
        if (count == eventCapacity)
        {
            ++lost;
            continue;
        }

        if (metadata.numBytes <= 0)
            continue;

        auto& slot = eventSlots[(size_t) count];
        const auto offset = juce::jlimit(0, numSamples - 1, metadata.samplePosition);

        if (metadata.numBytes <= 3)
        {
            auto& event = slot.midi;
            std::memset(&event, 0, sizeof(event));
            event.type = Vst2::kVstMidiType;
            event.byteSize = (Vst2::VstInt32) sizeof(event);
            event.deltaFrames = offset;
            std::memcpy(event.midiData, metadata.data, (size_t) metadata.numBytes);
        }
        else
        {
            auto& event = slot.sysex;
            std::memset(&event, 0, sizeof(event));
            event.type = Vst2::kVstSysExType;
            event.byteSize = (Vst2::VstInt32) sizeof(event);
            event.deltaFrames = offset;
            event.dumpBytes = metadata.numBytes;
            event.sysexDump = const_cast<char*>(reinterpret_cast<const char*>(metadata.data));
        }

        events->events[count++] = reinterpret_cast<Vst2::VstEvent*>(&slot);
    }

    if (lost > 0)
        dropped.fetch_add(lost, std::memory_order_relaxed);

    if (count == 0)
        return;

    events->numEvents = count;
    effect.dispatcher(&effect, Vst2::effProcessEvents, 0, 0, events.get(), 0.0f);
}

void DirectVst2Processor::process(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi,
                                  juce::AudioPlayHead* playHead) noexcept
{
    const auto numSamples = buffer.getNumSamples();
    const auto numChannels = buffer.getNumChannels();
    // Read once: a plugin may announce other channel counts between blocks.
    const auto numInputs = juce::jmax(0, (int) effect.numInputs);
    const auto numOutputs = juce::jmax(0, (int) effect.numOutputs);
    const auto pluginChannels = juce::jmax(numInputs, numOutputs);

    const bool replacing = (effect.flags & Vst2::effFlagsCanReplacing) != 0 && effect.processReplacing != nullptr;
    const bool playable = numSamples > 0 && (replacing || effect.process != nullptr);

    if (!playable || !fitBlock(numSamples, pluginChannels))
    {
        buffer.clear();
        midi.clear();
        return;
    }

    try
    {
        writeTimeInfo(playHead);
        sendEvents(midi, numSamples);

        // Channels the buffer lacks are scratch memory, silent going in.
        for (int channel = 0; channel < pluginChannels; ++channel)
        {
            float* memory = nullptr;
            if (channel < numChannels)
            {
                memory = buffer.getWritePointer(channel);
            }
            else
            {
                memory = scratch.getWritePointer(channel);
                juce::FloatVectorOperations::clear(memory, numSamples);
            }
            inputPointers[(size_t) channel] = memory;
            outputPointers[(size_t) channel] = memory;
        }

        if (replacing)
        {
            effect.processReplacing(&effect, inputPointers.get(), outputPointers.get(), numSamples);
        }
        else
        {
            // The accumulating call adds to its outputs: it gets silent ones of its own, and its
            // result replaces the block's content.
            for (int channel = 0; channel < numOutputs; ++channel)
            {
                accumulatePointers[(size_t) channel] = accumulated.getWritePointer(channel);
                juce::FloatVectorOperations::clear(accumulatePointers[(size_t) channel], numSamples);
            }

            effect.process(&effect, inputPointers.get(), accumulatePointers.get(), numSamples);

            for (int channel = 0; channel < numOutputs; ++channel)
                juce::FloatVectorOperations::copy(outputPointers[(size_t) channel], accumulatePointers[(size_t) channel],
                                                  numSamples);
        }
    }
    catch (...)
    {
        // A plugin's exception ends its block, in silence.
        thrown.fetch_add(1, std::memory_order_relaxed);
        buffer.clear();
    }

    midi.clear();
}
