#pragma once

#include "Vst2.h"

#include <vector>

namespace pendulum::rawhost
{

// A short MIDI message placed `deltaFrames` samples into the next processed block.
struct MidiMessage
{
    Vst2::VstInt32 deltaFrames = 0;
    unsigned char status = 0;
    unsigned char data1 = 0;
    unsigned char data2 = 0;
};

MidiMessage noteOn(int note, int velocity, int deltaFrames = 0, int channel = 0);
MidiMessage noteOff(int note, int deltaFrames = 0, int channel = 0);
MidiMessage controller(int number, int value, int deltaFrames = 0, int channel = 0);

// Owns a VstEvents block (with its variable-length pointer tail) and the VstMidiEvent records it
// points at. The block stays valid until the next assign() or destruction.
class MidiEventBlock
{
public:
    void assign(const std::vector<MidiMessage>& messages);

    Vst2::VstEvents* events() noexcept;
    int size() const noexcept { return static_cast<int>(midi_.size()); }

private:
    std::vector<Vst2::VstMidiEvent> midi_;
    std::vector<Vst2::VstIntPtr> storage_;
};

} // namespace pendulum::rawhost
