#pragma once

#include <vector>

namespace pendulum::rawhost
{

// Non-interleaved float channels plus the pointer arrays a processReplacing call takes.
// The pointer arrays are never null, even with zero channels.
class AudioBuffers
{
public:
    // Lays out fresh buffers: inputs zeroed, outputs filled with `outputFill`.
    void prepare(int numInputs, int numOutputs, int frames, float outputFill);
    void fillOutputs(float value);

    int numInputs() const noexcept { return static_cast<int>(inputs_.size()); }
    int numOutputs() const noexcept { return static_cast<int>(outputs_.size()); }
    int frames() const noexcept { return frames_; }

    float* input(int channel);
    const float* output(int channel) const;
    const std::vector<float>& outputChannel(int channel) const;

    float** inputPointers() noexcept { return inputPointers_.data(); }
    float** outputPointers() noexcept { return outputPointers_.data(); }

private:
    int frames_ = 0;
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

} // namespace pendulum::rawhost
