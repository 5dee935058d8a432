// A program that must fail under the checker it names: the container hosts RogueSynth and makes it
// commit one fault inside the container's processBlock. Each test lane runs it for its checker and
// expects that checker's report; a checker that lets the fault through leaves "not caught" and exit
// code 3 instead.
//
//   sanitizer_canary heap-overflow | signed-overflow | leak | race | realtime-alloc
#include "RealtimeContext.h"
#include "RogueSynthFaults.h"
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/EffectHandle.h"

#include "FixturePaths.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <cstring>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// LeakSanitizer's check on demand: reports what is unreachable now, returns non-zero if anything is.
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace
{
namespace rogue = pendulum::fixtures::rogue;
constexpr int blockSize = 256;

void playBlock(PluginContainerAudioProcessor& container, juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    buffer.clear();
    container.processBlock(buffer, midi);
}

int run(const char* mode)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(48000.0, blockSize);
    if (!container.loadPlugin(0, pendulum::fixtures::fixturePath("RogueSynth"), {}))
    {
        std::puts("canary: RogueSynth did not load");
        return 2;
    }
    auto* effect = vstEffectOf(*container.getPluginInstance(0));
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    midi.ensureSize(256);
    playBlock(container, buffer, midi); // warm-up, outside any checked stretch

    const auto arm = [&](int fault) {
        effect->dispatcher(effect, Vst2::effVendorSpecific, rogue::kFaultIndex, fault, nullptr, 0.0f);
    };

    if (std::strcmp(mode, "heap-overflow") == 0)
        arm(rogue::heapOverflow);
    else if (std::strcmp(mode, "signed-overflow") == 0)
        arm(rogue::signedOverflow);
    else if (std::strcmp(mode, "realtime-alloc") == 0)
        arm(rogue::allocate);
    else if (std::strcmp(mode, "leak") == 0)
        arm(rogue::leak);
    else if (std::strcmp(mode, "race") != 0)
    {
        std::printf("canary: unknown mode %s\n", mode);
        return 2;
    }

    if (std::strcmp(mode, "race") == 0)
    {
        // The audio thread plays while this thread pokes the plugin's block counter.
        std::thread audio([&] {
            juce::AudioBuffer<float> audioBuffer(2, blockSize);
            juce::MidiBuffer audioMidi;
            for (int block = 0; block < 200; ++block)
                playBlock(container, audioBuffer, audioMidi);
        });
        for (int poke = 0; poke < 200; ++poke)
            effect->dispatcher(effect, Vst2::effVendorSpecific, rogue::kRaceIndex, 0, nullptr, 0.0f);
        audio.join();
    }
    else if (std::strcmp(mode, "leak") == 0)
    {
        playBlock(container, buffer, midi);
#if defined(__SANITIZE_ADDRESS__)
        // Checked here rather than at exit, so that "not caught" below means what it says.
        if (__lsan_do_recoverable_leak_check() != 0)
            return 1;
#endif
    }
    else
    {
        const ScopedRealtimeContext realtime;
        playBlock(container, buffer, midi);
    }

    std::printf("canary: %s not caught\n", mode);
    return 3;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::puts("usage: sanitizer_canary heap-overflow|signed-overflow|leak|race|realtime-alloc");
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juce;
    return run(argv[1]);
}
