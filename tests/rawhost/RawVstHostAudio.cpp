// RawVstHost's real-time side: MIDI delivery and processReplacing on owned buffers.
#include "RawVstHost.h"

namespace pendulum::rawhost
{

Vst2::VstIntPtr RawVstHost::sendMidi(const std::vector<MidiMessage>& messages)
{
    midi_.assign(messages);
    return dispatch(Vst2::effProcessEvents, 0, 0, midi_.events());
}

void RawVstHost::prepareBuffers(int numInputs, int numOutputs, int frames)
{
    buffers_.prepare(numInputs, numOutputs, frames, outputSentinel_);
}

bool RawVstHost::processReplacing()
{
    if (effect_ == nullptr || effect_->processReplacing == nullptr)
        return false;

    buffers_.fillOutputs(outputSentinel_);
    processing_ = true;
    effect_->processReplacing(effect_, buffers_.inputPointers(), buffers_.outputPointers(), buffers_.frames());
    processing_ = false;

    timeInfo_.samplePos += buffers_.frames();
    if (timeInfo_.sampleRate > 0.0)
        timeInfo_.ppqPos = timeInfo_.samplePos / timeInfo_.sampleRate * timeInfo_.tempo / 60.0;
    return true;
}

bool RawVstHost::processReplacing(int numInputs, int numOutputs, int frames)
{
    prepareBuffers(numInputs, numOutputs, frames);
    return processReplacing();
}

} // namespace pendulum::rawhost
