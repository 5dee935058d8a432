// Loads PluginPendulum the way a DAW does (through VSTPluginMain, with a host callback of ours),
// prints the identity it presents, and plays a few blocks with MIDI through it.
//
//   pendulum-demo [path-to-plugin-library]
#include "RawVstHost.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace
{
using namespace pendulum::rawhost;

std::string fourCharacters(Vst2::VstInt32 code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += static_cast<char>((code >> shift) & 0xff);
    return text;
}

double rms(const std::vector<float>& samples)
{
    double sum = 0.0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}
} // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : PENDULUM_PLUGIN_PATH;

    RawVstHost host;
    if (!host.load(path))
    {
        std::fprintf(stderr, "could not load %s: %s\n", path.c_str(), host.error().c_str());
        return 1;
    }
    host.open();

    const auto& effect = *host.effect();
    std::printf("plugin file       %s\n", path.c_str());
    std::printf("effect name       %s\n", host.effectName().c_str());
    std::printf("vendor            %s (version %ld)\n", host.vendorString().c_str(), (long) host.vendorVersion());
    std::printf("unique ID         '%s'\n", fourCharacters(effect.uniqueID).c_str());
    std::printf("VST version       %ld, category %ld\n", (long) host.vstVersion(), (long) host.category());
    std::printf("flags             0x%x\n", effect.flags);
    std::printf("audio             %d in, %d out\n", effect.numInputs, effect.numOutputs);
    std::printf("parameters        %d, programs %d\n", effect.numParams, effect.numPrograms);
    std::printf("canDo receiveVstMidiEvent %ld, sendVstMidiEvent %ld\n", (long) host.canDo("receiveVstMidiEvent"),
                (long) host.canDo("sendVstMidiEvent"));

    constexpr int blockSize = 512;
    host.setSampleRate(44100.0);
    host.setBlockSize(blockSize);
    host.resume();

    for (int block = 0; block < 4; ++block)
    {
        if (block == 0)
            host.sendMidi({ noteOn(69, 100, 0) });
        host.processReplacing(0, 2, blockSize);
        std::printf("block %d           rms L %.4f, R %.4f\n", block, rms(host.output(0)), rms(host.output(1)));
    }

    host.close();
    std::printf("done\n");
    return 0;
}
