#include "AudioBuffers.h"

#include <algorithm>
#include <cstddef>

namespace pendulum::rawhost
{

namespace
{
void layOut(std::vector<std::vector<float>>& channels, std::vector<float*>& pointers, int count, int frames, float fill)
{
    channels.assign(static_cast<std::size_t>(std::max(count, 0)),
                    std::vector<float>(static_cast<std::size_t>(std::max(frames, 0)), fill));
    pointers.assign(std::max<std::size_t>(channels.size(), 1), nullptr);
    for (std::size_t i = 0; i < channels.size(); ++i)
        pointers[i] = channels[i].data();
}
} // namespace

void AudioBuffers::prepare(int numInputs, int numOutputs, int frames, float outputFill)
{
    frames_ = std::max(frames, 0);
    layOut(inputs_, inputPointers_, numInputs, frames_, 0.0f);
    layOut(outputs_, outputPointers_, numOutputs, frames_, outputFill);
}

void AudioBuffers::fillOutputs(float value)
{
    for (auto& channel : outputs_)
        std::fill(channel.begin(), channel.end(), value);
}

float* AudioBuffers::input(int channel)
{
    return channel >= 0 && channel < numInputs() ? inputs_[static_cast<std::size_t>(channel)].data() : nullptr;
}

const float* AudioBuffers::output(int channel) const
{
    return channel >= 0 && channel < numOutputs() ? outputs_[static_cast<std::size_t>(channel)].data() : nullptr;
}

const std::vector<float>& AudioBuffers::outputChannel(int channel) const
{
    return outputs_.at(static_cast<std::size_t>(channel));
}

} // namespace pendulum::rawhost
