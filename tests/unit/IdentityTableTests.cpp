// The identity answers that the container gives in front of the JUCE wrapper.
#include "ExpectedCanDo.h"
#include "container/VstIdentity.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using namespace pendulum::identity;

TEST(Identity, CanDoTableAnswersYesNoOrDontKnow)
{
    for (const auto& c : pendulum::expected::canDoAnswers)
        EXPECT_EQ(answerCanDo(c.text), c.answer) << '"' << c.text << '"';

    EXPECT_EQ(answerCanDo(nullptr), 0);
}

TEST(Identity, OutputPinsAreNamedByChannelNumberActiveAndStereo)
{
    for (int index = 0; index < 2; ++index)
    {
        Vst2::VstPinProperties pin;
        std::memset(&pin, 0x7f, sizeof(pin));
        ASSERT_TRUE(describeOutputPin(index, pin));
        EXPECT_STREQ(pin.label, index == 0 ? "1" : "2");
        EXPECT_STREQ(pin.shortLabel, index == 0 ? "1" : "2");
        EXPECT_EQ(pin.flags, Vst2::kVstPinIsActive | Vst2::kVstPinIsStereo);
    }

    Vst2::VstPinProperties pin {};
    EXPECT_FALSE(describeOutputPin(2, pin));
    EXPECT_FALSE(describeOutputPin(-1, pin));
}

TEST(Identity, EffectRecordGetsTheContainersFlagsAndCounts)
{
    Vst2::AEffect effect {};
    effect.flags = Vst2::effFlagsHasEditor | Vst2::effFlagsCanDoubleReplacing;
    effect.numPrograms = 1;
    applyToEffect(effect);

    EXPECT_EQ(effect.flags, 0x331);
    EXPECT_EQ(effect.numPrograms, 0);
    EXPECT_EQ(effect.uniqueID, 0x506e646d); // 'Pndm'
}
} // namespace
