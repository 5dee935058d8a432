#include "HostCallLog.h"

#include <algorithm>
#include <utility>

namespace pendulum::rawhost
{

void HostCallLog::record(HostCall call)
{
    if (!recording_)
        return;
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
}

void HostCallLog::clear()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<HostCall> HostCallLog::snapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t HostCallLog::count(Vst2::VstInt32 opcode) const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(), [opcode](const HostCall& call) { return call.opcode == opcode; }));
}

std::size_t HostCallLog::size() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

} // namespace pendulum::rawhost
