// What a VST2 host sees of PluginPendulum, read from the built library.
#include "ExpectedCanDo.h"
#include "PluginHost.h"

#include <cstring>

namespace
{
using pendulum::rawhost::RawVstHost;

TEST(PluginIdentity, EffectRecordAndDispatcherAnswersMatchTheProduct)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    const auto& effect = *host->effect();

    EXPECT_EQ(effect.magic, 0x56737450);                      // 'VstP'
    EXPECT_EQ(effect.uniqueID, 0x506e646d);                   // 'Pndm'
    EXPECT_EQ(effect.flags, 0x331);                           // editor, replacing, chunks, synth, no sound in stop
    EXPECT_EQ(effect.flags & Vst2::effFlagsCanDoubleReplacing, 0);
    EXPECT_EQ(effect.numInputs, 0);
    EXPECT_EQ(effect.numOutputs, 2);
    EXPECT_EQ(effect.numParams, 1024);
    EXPECT_EQ(effect.numPrograms, 0);
    EXPECT_EQ(effect.initialDelay, 0);
    EXPECT_NE(effect.processReplacing, nullptr);

    EXPECT_EQ(host->effectName(), "PluginPendulum(Synth)");
    EXPECT_EQ(host->productString(), "PluginPendulum(Synth)");
    EXPECT_EQ(host->vendorString().rfind("https://", 0), 0u) << host->vendorString(); // a web address
    EXPECT_EQ(host->vendorVersion(), 100);
    EXPECT_EQ(host->vstVersion(), 2400);
    EXPECT_EQ(host->category(), Vst2::kPlugCategSynth);
    EXPECT_EQ(host->tailSize(), 0);
}

TEST(PluginIdentity, CanDoAnswersFollowTheTable)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    for (const auto& c : pendulum::expected::canDoAnswers)
        EXPECT_EQ(host->canDo(c.text), c.answer) << '"' << c.text << '"';
}

TEST(PluginIdentity, OnlyNoInputsAndTwoOutputsAreAccepted)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    const struct
    {
        int inputs, outputs;
        Vst2::VstIntPtr answer;
    } cases[] = { { 0, 2, 1 }, { 2, 2, 0 }, { 1, 2, 0 }, { 0, 1, 0 }, { 0, 6, 0 } };

    for (const auto& c : cases)
        EXPECT_EQ(host->setSpeakerArrangement(c.inputs, c.outputs), c.answer) << c.inputs << " in, " << c.outputs << " out";

    EXPECT_EQ(host->setSpeakerArrangement(0, 2), 1); // still accepted after refusals
}

TEST(PluginIdentity, OutputPinsAreOneAndTwoActiveStereoAndThereAreNoInputPins)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    for (int index = 0; index < 2; ++index)
    {
        Vst2::VstPinProperties pin {};
        ASSERT_TRUE(host->outputProperties(index, pin));
        EXPECT_STREQ(pin.label, index == 0 ? "1" : "2");
        EXPECT_NE(pin.flags & Vst2::kVstPinIsActive, 0);
        EXPECT_NE(pin.flags & Vst2::kVstPinIsStereo, 0);
    }

    Vst2::VstPinProperties pin {};
    EXPECT_FALSE(host->outputProperties(2, pin));
    EXPECT_FALSE(host->inputProperties(0, pin));
}

TEST(PluginIdentity, HostAnsweringVersionZeroGetsNoPlugin)
{
    RawVstHost host;
    host.setVersionAnswer(0);
    EXPECT_FALSE(host.load(PENDULUM_PLUGIN_PATH));
    EXPECT_EQ(host.effect(), nullptr);

    // The library is still usable by a host that answers properly.
    auto proper = loadContainer();
    EXPECT_TRUE(proper->isLoaded());
}

TEST(PluginIdentity, EditorIsThreeHundredSixtyEightByThreeHundredEightyFour)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    Vst2::ERect rect {};
    ASSERT_TRUE(host->editorRect(rect));
    EXPECT_EQ(rect.right - rect.left, 368);
    EXPECT_EQ(rect.bottom - rect.top, 384);
}
} // namespace
