#pragma once

// The project's VST 2.4 interface for its own code, under the same Vst2:: namespace that JUCE uses
// for these headers (the include guards make both inclusions one).
namespace Vst2
{
#include "pluginterfaces/vst2.x/aeffect.h"
#include "pluginterfaces/vst2.x/aeffectx.h"
} // namespace Vst2
