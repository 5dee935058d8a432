#include "MidiEventBlock.h"

#include <algorithm>
#include <cstddef>
#include <new>

namespace pendulum::rawhost
{

MidiMessage noteOn(int note, int velocity, int deltaFrames, int channel)
{
    return {deltaFrames, static_cast<unsigned char>(0x90 | (channel & 0x0f)), static_cast<unsigned char>(note & 0x7f),
            static_cast<unsigned char>(velocity & 0x7f)};
}

MidiMessage noteOff(int note, int deltaFrames, int channel)
{
    return {deltaFrames, static_cast<unsigned char>(0x80 | (channel & 0x0f)), static_cast<unsigned char>(note & 0x7f),
            0};
}

MidiMessage controller(int number, int value, int deltaFrames, int channel)
{
    return {deltaFrames, static_cast<unsigned char>(0xb0 | (channel & 0x0f)), static_cast<unsigned char>(number & 0x7f),
            static_cast<unsigned char>(value & 0x7f)};
}

void MidiEventBlock::assign(const std::vector<MidiMessage>& messages)
{
    midi_.assign(messages.size(), Vst2::VstMidiEvent{});
    for (std::size_t i = 0; i < messages.size(); ++i)
    {
        Vst2::VstMidiEvent& event = midi_[i];
        event.type = Vst2::kVstMidiType;
        event.byteSize = static_cast<Vst2::VstInt32>(sizeof(Vst2::VstMidiEvent));
        event.deltaFrames = messages[i].deltaFrames;
        event.flags = Vst2::kVstMidiEventIsRealtime;
        event.midiData[0] = static_cast<char>(messages[i].status);
        event.midiData[1] = static_cast<char>(messages[i].data1);
        event.midiData[2] = static_cast<char>(messages[i].data2);
    }

    // The header declares room for two pointers; longer lists extend past it.
    const std::size_t bytes =
        std::max(sizeof(Vst2::VstEvents), offsetof(Vst2::VstEvents, events) + midi_.size() * sizeof(Vst2::VstEvent*));
    storage_.assign((bytes + sizeof(Vst2::VstIntPtr) - 1) / sizeof(Vst2::VstIntPtr), 0);

    auto* block = new (storage_.data()) Vst2::VstEvents{};
    block->numEvents = static_cast<Vst2::VstInt32>(midi_.size());
    Vst2::VstEvent** slots = block->events;
    for (std::size_t i = 0; i < midi_.size(); ++i)
        slots[i] = reinterpret_cast<Vst2::VstEvent*>(&midi_[i]);
}

Vst2::VstEvents* MidiEventBlock::events() noexcept
{
    return storage_.empty() ? nullptr : reinterpret_cast<Vst2::VstEvents*>(storage_.data());
}

} // namespace pendulum::rawhost
