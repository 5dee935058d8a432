// Loads a VST 2.x plugin library the way a DAW does (through VSTPluginMain, with a host callback of
// ours) and prints the identity it presents to hosts. The release check reads it.
//
//   pendulum-identity path-to-plugin-library
#include "RawVstHost.h"

#include <cstdio>
#include <string>

namespace
{
std::string fourCharacters(Vst2::VstInt32 code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += static_cast<char>((code >> shift) & 0xff);
    return text;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: pendulum-identity path-to-plugin-library\n");
        return 2;
    }

    pendulum::rawhost::RawVstHost host;
    if (!host.load(argv[1]))
    {
        std::fprintf(stderr, "could not load %s: %s\n", argv[1], host.error().c_str());
        return 1;
    }
    host.open();

    const auto& effect = *host.effect();
    std::printf("plugin file       %s\n", argv[1]);
    std::printf("effect name       %s\n", host.effectName().c_str());
    std::printf("vendor            %s (version %ld)\n", host.vendorString().c_str(), (long) host.vendorVersion());
    std::printf("unique ID         '%s'\n", fourCharacters(effect.uniqueID).c_str());
    std::printf("audio             %d in, %d out\n", effect.numInputs, effect.numOutputs);
    std::printf("parameters        %d, programs %d\n", effect.numParams, effect.numPrograms);
    host.close();
    return 0;
}
