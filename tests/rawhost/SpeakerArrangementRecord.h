#pragma once

#include "Vst2.h"

#include <vector>

namespace pendulum::rawhost
{

// A VstSpeakerArrangement for a plain channel count: empty, mono, stereo, 5.1 and 7.1 get their
// named arrangement and speaker types, other counts a user-defined one. More than eight channels
// extend the record past its declared speaker array.
class SpeakerArrangementRecord
{
public:
    void build(int numChannels);

    Vst2::VstSpeakerArrangement* get() noexcept;

private:
    std::vector<Vst2::VstIntPtr> storage_;
};

} // namespace pendulum::rawhost
