// Compile-time check of the VST 2.4 record layouts against the binary interface of 64-bit hosts.
// A wrong field type or order fails the build on the platform where it happens.
#include "Vst2.h"

#include <cstddef>

namespace
{
using namespace Vst2;

static_assert(sizeof(void*) == 8, "PluginPendulum is built for 64-bit hosts only");
static_assert(sizeof(VstInt16) == 2 && sizeof(VstInt32) == 4 && sizeof(VstInt64) == 8);
static_assert(sizeof(VstIntPtr) == sizeof(void*));

static_assert(kEffectMagic == 0x56737450);
static_assert(kVstVersion == 2400);

static_assert(offsetof(AEffect, magic) == 0);
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, process) == 16);
static_assert(offsetof(AEffect, setParameter) == 24);
static_assert(offsetof(AEffect, getParameter) == 32);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, numParams) == 44);
static_assert(offsetof(AEffect, numInputs) == 48);
static_assert(offsetof(AEffect, numOutputs) == 52);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, resvd1) == 64);
static_assert(offsetof(AEffect, resvd2) == 72);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, realQualities) == 84);
static_assert(offsetof(AEffect, offQualities) == 88);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, user) == 104);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, version) == 116);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, processDoubleReplacing) == 128);
static_assert(offsetof(AEffect, future) == 136);
static_assert(sizeof(AEffect) == 192);

static_assert(sizeof(VstEvent) == 32);
static_assert(sizeof(VstMidiEvent) == 32);
static_assert(offsetof(VstMidiEvent, deltaFrames) == 8);
static_assert(offsetof(VstMidiEvent, noteLength) == 16);
static_assert(offsetof(VstMidiEvent, midiData) == 24);
static_assert(offsetof(VstMidiEvent, detune) == 28);
static_assert(offsetof(VstMidiSysexEvent, dumpBytes) == 16);
static_assert(offsetof(VstMidiSysexEvent, resvd1) == 24);
static_assert(offsetof(VstMidiSysexEvent, sysexDump) == 32);
static_assert(sizeof(VstMidiSysexEvent) == 48);
static_assert(offsetof(VstEvents, reserved) == 8);
static_assert(offsetof(VstEvents, events) == 16);
static_assert(sizeof(VstEvents) == 32);

static_assert(offsetof(VstTimeInfo, cycleEndPos) == 56);
static_assert(offsetof(VstTimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(VstTimeInfo, flags) == 84);
static_assert(sizeof(VstTimeInfo) == 88);

static_assert(sizeof(ERect) == 8);
static_assert(offsetof(ERect, left) == 2 && offsetof(ERect, bottom) == 4 && offsetof(ERect, right) == 6);

static_assert(offsetof(VstPinProperties, flags) == 64);
static_assert(offsetof(VstPinProperties, arrangementType) == 68);
static_assert(offsetof(VstPinProperties, shortLabel) == 72);
static_assert(sizeof(VstPinProperties) == 128);

static_assert(offsetof(VstSpeakerProperties, name) == 16);
static_assert(offsetof(VstSpeakerProperties, type) == 80);
static_assert(sizeof(VstSpeakerProperties) == 112);
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8);
static_assert(sizeof(VstSpeakerArrangement) == 8 + 8 * 112);

// Opcode values that differ between interface generations and that the hosted editors, bypass,
// latency notification and shell plugins depend on.
static_assert(effEditTop == 20 && effEditSleep == 21 && effIdentify == 22 && effGetChunk == 23);
static_assert(effProcessEvents == 25 && effSetBypass == 44 && effVendorSpecific == 50);
static_assert(effCanDo == 51 && effGetTailSize == 52 && effShellGetNextPlugin == 70);
static_assert(effGetNumMidiOutputChannels == 79);
static_assert(audioMasterWantMidi == 6 && audioMasterIOChanged == 13 && audioMasterCanDo == 37);
static_assert(audioMasterGetInputSpeakerArrangement == 49);
static_assert(kSpeakerArr102 == 28 && kSpeakerLfe2 == 19 && kSpeakerCs == kSpeakerS);
} // namespace
