#pragma once

// What the validation and host-abuse tests share: the plugin loaded through the raw host with
// fixture synths in its slots (given as a project's state document, as a DAW reopening a project
// gives it), and checks on what comes out.
#include "FixturePaths.h"
#include "HelperProcesses.h"
#include "PluginHost.h"

#include <cmath>
#include <string>
#include <vector>

namespace validation
{
using namespace pendulum::rawhost;

/** What the run tried, printed at its end (ValidationMain.cpp) for the README's figures. */
struct Tally
{
    std::size_t processCalls = 0;
    std::size_t samplesChecked = 0;
    std::size_t dispatcherCalls = 0;
    std::size_t chunksTried = 0;
    std::size_t parameterCalls = 0;
};

inline Tally& tally()
{
    static Tally counts;
    return counts;
}
using pendulum::fixtures::fixturePath;

inline std::vector<unsigned char> bytesOf(const std::string& text)
{
    return { text.begin(), text.end() };
}

/**
    Whether the run's projects put the slots' plugins in helper processes: the suite runs twice,
    once with in-process slots and once with the option on (ValidationMain.cpp's --isolated).
*/
inline bool& isolatedSlots()
{
    static bool on = false;
    return on;
}

/**
    A project's state document naming two fixture plugins by file, `active` being the playing slot;
    in the isolated run, with the slots in helper processes.
*/
inline std::string projectWith(const std::string& slot0, const std::string& slot1, int active = 0)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pluginData>"
           "<main_plugin activePlugin=\"" + std::to_string(active) + "\" optionB0=\"0\" optionB1=\"0\" optionB2=\"1\" "
           "optionB3=\"1\" instanceName=\"validation\"" + std::string(isolatedSlots() ? " separateProcesses=\"1\"" : "") + "/>"
           "<plugin index=\"0\" filePath=\"" + fixturePath(slot0) + "\"/>"
           "<plugin index=\"1\" filePath=\"" + fixturePath(slot1) + "\"/></pluginData>";
}

/**
    Gives the plugin the project and waits until the slots are filled: a document that arrives off
    the plugin's message thread is restored there.
*/
inline bool openProject(RawVstHost& host, const std::string& document, double sampleRate = 48000.0, int blockSize = 256)
{
    host.setSampleRate(sampleRate);
    host.setBlockSize(blockSize);
    host.setChunk(ChunkKind::Bank, bytesOf(document));
    host.resume();
    // The restore runs on the plugin's message thread. Until it is done a save hands back the
    // document being restored; afterwards it is written afresh.
    const auto given = bytesOf(document);
    if (!runHostEventLoopUntil([&] { return host.getChunk(ChunkKind::Bank) != given; }, 10000))
        return false;
    // In the isolated run a slot that fell back to this process would test nothing new.
    return !isolatedSlots() || document.find("filePath") == std::string::npos || helperCount() > 0;
}

/** Why a sample is not something a host may be handed, or null when it is fine. */
inline const char* badSampleKind(float sample)
{
    switch (std::fpclassify(sample))
    {
    case FP_NAN: return "NaN";
    case FP_INFINITE: return "infinity";
    case FP_SUBNORMAL: return "denormal";
    default: return nullptr;
    }
}

/** Checks every output channel of the last block; the number of samples checked. */
inline std::size_t expectCleanOutput(RawVstHost& host, const std::string& where)
{
    std::size_t checked = 0;
    for (int channel = 0; channel < host.buffers().numOutputs(); ++channel)
        for (std::size_t i = 0; i < host.output(channel).size(); ++i, ++checked, ++tally().samplesChecked)
            if (const auto* kind = badSampleKind(host.output(channel)[i]))
            {
                ADD_FAILURE() << where << ": " << kind << " at channel " << channel << " sample " << i;
                return checked;
            }
    return checked;
}

} // namespace validation
