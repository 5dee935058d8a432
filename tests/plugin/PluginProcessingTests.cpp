// The built plugin with both slots empty: silence, parameters that address nothing, no programs.
#include "PluginHost.h"

#include <cmath>

namespace
{
using namespace pendulum::rawhost;

TEST(PluginProcessing, EmptySlotsPlaySilenceOnBothOutputsWhateverMidiArrives)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    host->setSampleRate(48000.0);
    host->setBlockSize(256);
    host->resume();

    for (int block = 0; block < 4; ++block)
    {
        host->sendMidi({ noteOn(60, 100, 3), noteOff(60, 200) });
        ASSERT_TRUE(host->processReplacing(0, 2, 256));

        for (int channel = 0; channel < 2; ++channel)
            for (float sample : host->output(channel))
                ASSERT_EQ(sample, 0.0f) << "block " << block << " channel " << channel;
    }
}

TEST(PluginProcessing, EveryHostParameterExistsAndReadsEmptyWithoutAPlugin)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    for (int index : { 0, 1, 512, 1023 })
    {
        host->setParameter(index, 0.5f);
        EXPECT_EQ(host->getParameter(index), 0.0f) << index;
        EXPECT_EQ(host->parameterName(index), "") << index;
        EXPECT_EQ(host->parameterDisplay(index), "") << index;
        EXPECT_EQ(host->parameterLabel(index), "") << index;
    }
}

TEST(PluginProcessing, NoProgramsAndNoLatencyReports)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());
    host->resume();
    host->processReplacing(0, 2, 128);

    EXPECT_EQ(host->program(), 0);
    EXPECT_EQ(host->programName(), "");
    EXPECT_EQ(host->callCount(Vst2::audioMasterIOChanged), 0u);
}
} // namespace
