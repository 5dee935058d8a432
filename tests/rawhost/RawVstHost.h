#pragma once

#include "AudioBuffers.h"
#include "DynamicLibrary.h"
#include "HostCallLog.h"
#include "MidiEventBlock.h"
#include "SpeakerArrangementRecord.h"
#include "Vst2.h"

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pendulum::rawhost
{

enum class ChunkKind : Vst2::VstInt32
{
    Bank = 0,
    Program = 1
};

struct ShellEntry
{
    Vst2::VstInt32 uniqueId = 0;
    std::string name;
};

// A minimal VST 2.4 host for tests: loads one plugin library, creates its effect with our host
// callback, records every callback the plugin makes, and drives the dispatcher and audio directly.
// One instance hosts one effect; closing (or destruction) suspends it if needed, sends effClose and
// unloads the library. Not copyable or movable: the effect refers back to this object.
class RawVstHost
{
public:
    static constexpr float kDefaultOutputSentinel = 12345.0f;
    static constexpr const char* kVendorString = "PluginPendulum";
    static constexpr const char* kProductString = "RawVstHost";
    static constexpr Vst2::VstIntPtr kVendorVersion = 1000;

    RawVstHost();
    ~RawVstHost();
    RawVstHost(const RawVstHost&) = delete;
    RawVstHost& operator=(const RawVstHost&) = delete;

    // Answers given while the plugin is created; set them before load().
    void setVersionAnswer(Vst2::VstIntPtr answer) noexcept { versionAnswer_ = answer; }
    void setCurrentIdAnswer(Vst2::VstInt32 uniqueId) noexcept { currentIdAnswer_ = uniqueId; }

    // Loads the library and calls its VSTPluginMain. Returns false with error() set when the file
    // is missing, is not a loadable library, has no entry point, or yields no valid effect.
    bool load(const std::string& path);
    void close();

    bool isLoaded() const noexcept { return effect_ != nullptr; }
    const std::string& error() const noexcept { return error_; }
    Vst2::AEffect* effect() const noexcept { return effect_; }

    HostCallLog& calls() noexcept { return calls_; }
    std::size_t callCount(Vst2::VstInt32 opcode) const { return calls_.count(opcode); }
    void clearCalls() { calls_.clear(); }

    Vst2::VstTimeInfo& timeInfo() noexcept { return timeInfo_; }

    // Dispatcher. Every helper answers 0 / empty when no effect is loaded.
    Vst2::VstIntPtr dispatch(Vst2::VstInt32 opcode, Vst2::VstInt32 index = 0, Vst2::VstIntPtr value = 0,
                             void* ptr = nullptr, float opt = 0.0f);
    Vst2::VstIntPtr open();
    void setSampleRate(double sampleRate);
    void setBlockSize(int blockSize);
    void resume();
    /** Renders offline from now on (a bounce): the process level the plugin asks for says so. */
    void setOffline(bool offline) noexcept { offline_ = offline; }
    void suspend();
    bool isResumed() const noexcept { return resumed_; }

    Vst2::VstIntPtr canDo(const std::string& feature);
    std::string effectName();
    std::string vendorString();
    std::string productString();
    Vst2::VstIntPtr vendorVersion();
    Vst2::VstIntPtr vstVersion();
    Vst2::VstIntPtr category();

    int numParameters() const noexcept;
    float getParameter(int index);
    void setParameter(int index, float value);
    std::string parameterName(int index);
    std::string parameterDisplay(int index);
    std::string parameterLabel(int index);

    int numPrograms() const noexcept;
    Vst2::VstIntPtr program();
    void setProgram(int index);
    std::string programName();
    void setProgramName(const std::string& name);
    std::optional<std::string> programNameIndexed(int index);

    // A copy of the plugin's chunk; empty when it has none.
    std::vector<unsigned char> getChunk(ChunkKind kind);
    Vst2::VstIntPtr setChunk(ChunkKind kind, const std::vector<unsigned char>& data);

    bool inputProperties(int index, Vst2::VstPinProperties& out);
    bool outputProperties(int index, Vst2::VstPinProperties& out);
    Vst2::VstIntPtr setSpeakerArrangement(int numInputs, int numOutputs);
    bool editorRect(Vst2::ERect& out);
    Vst2::VstIntPtr vendorSpecific(Vst2::VstInt32 index, Vst2::VstIntPtr value, void* ptr, float opt);
    std::vector<ShellEntry> shellPlugins(std::size_t limit = 1024);
    Vst2::VstIntPtr tailSize();
    Vst2::VstIntPtr setBypass(bool bypass);

    // Sends the messages with effProcessEvents; the block stays alive until the next send.
    Vst2::VstIntPtr sendMidi(const std::vector<MidiMessage>& messages);

    // Audio through processReplacing. Inputs are zero unless written through buffers().input()
    // between prepareBuffers() and processReplacing(); outputs are pre-filled with the sentinel so
    // a test can tell written silence from untouched memory. The time info advances per block.
    void setOutputSentinel(float value) noexcept { outputSentinel_ = value; }
    float outputSentinel() const noexcept { return outputSentinel_; }
    void prepareBuffers(int numInputs, int numOutputs, int frames);
    bool processReplacing();
    bool processReplacing(int numInputs, int numOutputs, int frames);
    AudioBuffers& buffers() noexcept { return buffers_; }
    const std::vector<float>& output(int channel) const { return buffers_.outputChannel(channel); }

private:
    static Vst2::VstIntPtr VSTCALLBACK hostCallback(Vst2::AEffect* effect, Vst2::VstInt32 opcode, Vst2::VstInt32 index,
                                                    Vst2::VstIntPtr value, void* ptr, float opt);
    Vst2::VstIntPtr answer(Vst2::VstInt32 opcode, Vst2::VstInt32 index, Vst2::VstIntPtr value, void* ptr, float opt);
    Vst2::VstIntPtr answerCanDo(const std::string& feature) const;
    bool fail(const std::string& message);
    std::string dispatchString(Vst2::VstInt32 opcode, Vst2::VstInt32 index = 0);
    void resetTimeInfo();

    DynamicLibrary library_;
    Vst2::AEffect* effect_ = nullptr;
    std::string error_;
    bool resumed_ = false;

    Vst2::VstIntPtr versionAnswer_;
    Vst2::VstInt32 currentIdAnswer_ = 0;
    std::atomic<double> sampleRate_{44100.0};
    std::atomic<int> blockSize_{512};
    std::atomic<bool> processing_{false};
    std::atomic<bool> offline_{false};

    HostCallLog calls_;
    Vst2::VstTimeInfo timeInfo_{};
    MidiEventBlock midi_;
    AudioBuffers buffers_;
    float outputSentinel_ = kDefaultOutputSentinel;
    SpeakerArrangementRecord inputArrangement_;
    SpeakerArrangementRecord outputArrangement_;
};

} // namespace pendulum::rawhost
