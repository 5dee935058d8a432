#pragma once

// The picture of a failover run: both channels' waveforms over time, coloured by the instrument
// that played them, with the crash, the switch the host saw and the silence between them marked.
#include "FailoverRun.h"
#include "PngWriter.h"
#include "Timeline.h"

#include <string>

namespace pendulum::demo
{

struct PlotLabels
{
    std::string title;
    std::string before; // the instrument that played until the crash
    std::string after;  // the one that took over
};

IndexedImage plotFailover(const FailoverRecord& record, const FailoverTimeline& timeline, const PlotLabels& labels);

} // namespace pendulum::demo
