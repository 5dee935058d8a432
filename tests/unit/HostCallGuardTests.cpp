// Which host calls the container answers itself because they lack what they need (the rest reach
// the framework's wrapper, which would write through a null pointer).
#include "container/HostCallGuard.h"

#include <gtest/gtest.h>

namespace
{
using pendulum::hostcalls::answeredMissingParameterText;
using pendulum::hostcalls::lacksRequiredPointer;

TEST(HostCallGuard, CallsWithoutTheirPointerStopHereAndOthersGoOn)
{
    char buffer[8] = {};
    const struct
    {
        Vst2::VstInt32 opcode;
        Vst2::VstInt32 index;
        Vst2::VstIntPtr value;
        void* ptr;
        bool stopped;
    } cases[] = {
        { Vst2::effGetParamName, 0, 0, nullptr, true },
        { Vst2::effGetParamName, 0, 0, buffer, false },
        { Vst2::effGetChunk, 0, 0, nullptr, true },
        { Vst2::effProcessEvents, 0, 0, nullptr, true },
        { Vst2::effEditGetRect, 0, 0, nullptr, true },
        { Vst2::effEditOpen, 0, 0, nullptr, true },
        { Vst2::effCanDo, 0, 0, nullptr, true },
        { Vst2::effSetChunk, 0, 100, nullptr, true },  // bytes announced, none given
        { Vst2::effSetChunk, 0, 0, nullptr, false },   // an empty chunk is harmless
        { Vst2::effSetSpeakerArrangement, 0, 0, buffer, true },
        { Vst2::effSetSpeakerArrangement, 0, (Vst2::VstIntPtr) buffer, buffer, false },
        { Vst2::effGetSpeakerArrangement, 0, (Vst2::VstIntPtr) buffer, nullptr, true },
        { Vst2::effVendorSpecific, Vst2::effGetParamDisplay, 0, nullptr, true },
        { Vst2::effVendorSpecific, 12345, 0, nullptr, false },
        { Vst2::effMainsChanged, 0, 1, nullptr, false }, // needs no pointer
        { Vst2::effEditIdle, 0, 0, nullptr, false },
        { Vst2::effGetVstVersion, 0, 0, nullptr, false },
    };

    for (const auto& c : cases)
        EXPECT_EQ(lacksRequiredPointer(c.opcode, c.index, c.value, c.ptr), c.stopped)
            << "opcode " << c.opcode << ", index " << c.index << ", value " << c.value << ", ptr " << c.ptr;
}

TEST(HostCallGuard, TextsOfParametersThatDoNotExistAreEmpty)
{
    for (auto opcode : { Vst2::effGetParamName, Vst2::effGetParamDisplay, Vst2::effGetParamLabel })
    {
        for (int index : { -1, 1024, 5000 })
        {
            char text[4] = { 'Q', 'Q', 'Q', 'Q' };
            EXPECT_TRUE(answeredMissingParameterText(opcode, index, 1024, text)) << opcode << " " << index;
            EXPECT_EQ(text[0], '\0');
            EXPECT_EQ(text[1], 'Q'); // one terminator, nothing more: the host's buffer may be that short
        }
        char text[4] = { 'Q', 'Q', 'Q', 'Q' };
        EXPECT_FALSE(answeredMissingParameterText(opcode, 1023, 1024, text)) << opcode;
        EXPECT_FALSE(answeredMissingParameterText(opcode, 0, 1024, text)) << opcode;
        EXPECT_EQ(text[0], 'Q');
        EXPECT_FALSE(answeredMissingParameterText(opcode, -1, 1024, nullptr)) << opcode; // the pointer guard's case
    }
    char text[4] = { 'Q', 'Q', 'Q', 'Q' };
    EXPECT_FALSE(answeredMissingParameterText(Vst2::effGetProgramName, -1, 1024, text));
    EXPECT_EQ(text[0], 'Q');
}
} // namespace
