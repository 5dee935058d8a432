#pragma once

#include "Vst2.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace pendulum::rawhost
{

// One call the plugin made to the host callback. `text` holds the string argument of the calls
// that carry one (audioMasterCanDo), empty otherwise.
struct HostCall
{
    Vst2::VstInt32 opcode = 0;
    Vst2::VstInt32 index = 0;
    Vst2::VstIntPtr value = 0;
    float opt = 0.0f;
    std::string text;
};

// Thread-safe record of the host callbacks, in call order. Plugins may call from any thread.
class HostCallLog
{
public:
    void record(HostCall call);
    void clear();

    // While off, calls are answered but not recorded: a test that counts what the plugin allocates
    // on the processing thread must not count the log growing.
    void setRecording(bool on) noexcept { recording_ = on; }

    std::vector<HostCall> snapshot() const;
    std::size_t count(Vst2::VstInt32 opcode) const;
    std::size_t size() const;

private:
    std::atomic<bool> recording_{true};
    mutable std::mutex mutex_;
    std::vector<HostCall> calls_;
};

} // namespace pendulum::rawhost
