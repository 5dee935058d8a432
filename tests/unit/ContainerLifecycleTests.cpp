// Construction, destruction, options and the process-wide console shared between containers.
#include "container/PluginContainerAudioProcessor.h"
#include "container/ProcessGlobals.h"
#include "support/ConsoleProbe.h"

#include <gtest/gtest.h>

namespace
{
constexpr const char* constructionLine = "PluginContainerAudioProcessor::PluginContainerAudioProcessor()";

// Every test starts and ends with no container alive and the console option off.
class ContainerLifecycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(numInstances, 0);
        ASSERT_EQ(debugConsole, nullptr);
        consoleEnabled = false;
    }

    void TearDown() override
    {
        consoleEnabled = false;
        EXPECT_EQ(numInstances, 0);
        EXPECT_EQ(debugConsole, nullptr);
    }
};

TEST_F(ContainerLifecycle, NewContainerHasEmptySlotsDefaultOptionsAndPlaysSilence)
{
    PluginContainerAudioProcessor container;

    EXPECT_EQ(container.getName(), "PluginPendulum(Synth)");
    EXPECT_EQ(container.getInstanceName(), "default instance");
    EXPECT_EQ(container.getActivePluginIndex(), 0);

    for (int slot = 0; slot < 2; ++slot)
    {
        EXPECT_EQ(container.getPluginInstance(slot), nullptr);
        EXPECT_EQ(container.getLoadedPluginName(slot), "<none>");
        EXPECT_FALSE(container.isPluginCrashed(slot));
    }

    const bool defaults[] = { false, false, true, true };
    for (int option = 0; option < 4; ++option)
        EXPECT_EQ(container.getOption(option), defaults[option]) << "option " << option;

    EXPECT_EQ(container.getTotalNumInputChannels(), 0);
    EXPECT_EQ(container.getTotalNumOutputChannels(), 2);

    container.prepareToPlay(44100.0, 128);
    juce::AudioBuffer<float> buffer(2, 128);
    for (int channel = 0; channel < 2; ++channel)
        juce::FloatVectorOperations::fill(buffer.getWritePointer(channel), 0.5f, 128);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, 0.8f), 3);

    container.processBlock(buffer, midi);

    EXPECT_EQ(buffer.getMagnitude(0, 128), 0.0f);
    EXPECT_EQ(midi.getNumEvents(), 1); // left untouched
}

TEST_F(ContainerLifecycle, OptionsAndInstanceNameAreStoredPerContainer)
{
    PluginContainerAudioProcessor a;
    PluginContainerAudioProcessor b;

    a.setOption(PluginContainerAudioProcessor::optionAutoCrashRecovery, true);
    a.setOption(PluginContainerAudioProcessor::optionAutoSwitch, false);
    a.setInstanceName("stage left");

    EXPECT_TRUE(a.getOption(1));
    EXPECT_FALSE(a.getOption(2));
    EXPECT_FALSE(b.getOption(1));
    EXPECT_TRUE(b.getOption(2));
    EXPECT_EQ(a.getInstanceName(), "stage left");
    EXPECT_EQ(b.getInstanceName(), "default instance");
}

TEST_F(ContainerLifecycle, ContainersShareOneConsoleWhoseOptionIsProcessWide)
{
    auto first = std::make_unique<PluginContainerAudioProcessor>();
    ASSERT_NE(debugConsole, nullptr);
    EXPECT_EQ(debugConsole->getTitle(), "PluginPendulum console");
    EXPECT_EQ(debugConsole->getWindow(), nullptr); // the option is off: no window, line dropped

    first->setOption(PluginContainerAudioProcessor::optionConsole, true);
    auto* window = debugConsole->getWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->getName(), "PluginPendulum console");

    debugConsole->setTitle("something else");
    auto second = std::make_unique<PluginContainerAudioProcessor>();
    EXPECT_EQ(numInstances, 2);
    EXPECT_EQ(debugConsole->getWindow(), window);                   // one window for both
    EXPECT_EQ(debugConsole->getTitle(), "PluginPendulum console"); // every construction sets it
    EXPECT_TRUE(second->getOption(PluginContainerAudioProcessor::optionConsole));
    EXPECT_EQ(console_probe::lines(),
              juce::StringArray("watchdog->getNumberOfPluginsBeingWatched():2", constructionLine));

    // Switching the console off in one container hides it for both.
    second->setOption(PluginContainerAudioProcessor::optionConsole, false);
    EXPECT_EQ(debugConsole->getWindow(), nullptr);
    EXPECT_FALSE(first->getOption(PluginContainerAudioProcessor::optionConsole));

    second.reset();
    EXPECT_NE(debugConsole, nullptr); // still one container left
    first.reset();
    EXPECT_EQ(debugConsole, nullptr);
}

TEST_F(ContainerLifecycle, LastContainerDeletesConsoleAndTheNextGetsAFreshOne)
{
    {
        PluginContainerAudioProcessor container;
        container.setOption(PluginContainerAudioProcessor::optionConsole, true);
        debugConsole->getWindow()->setBounds(30, 40, 500, 300);
        EXPECT_EQ(debugConsole->getX(), 30);
    }
    EXPECT_EQ(debugConsole, nullptr);
    EXPECT_TRUE(consoleEnabled); // the option outlives every container

    PluginContainerAudioProcessor next;
    ASSERT_NE(debugConsole, nullptr);
    EXPECT_EQ(debugConsole->getTitle(), "PluginPendulum console");
    ASSERT_NE(debugConsole->getWindow(), nullptr); // opened at once: the option is still on
    EXPECT_EQ(console_probe::lines(), // fresh, empty text
              juce::StringArray("watchdog->getNumberOfPluginsBeingWatched():1", constructionLine));
    EXPECT_TRUE(next.getOption(PluginContainerAudioProcessor::optionConsole));

    // Bounds of the deleted console are not inherited.
    debugConsole->hide();
    EXPECT_EQ(debugConsole->getX(), -1);
}

TEST_F(ContainerLifecycle, ClosedConsoleReopensWhenTheOptionIsSwitchedOffAndOn)
{
    PluginContainerAudioProcessor container;
    container.setOption(PluginContainerAudioProcessor::optionConsole, true);
    debugConsole->getWindow()->closeButtonPressed();

    EXPECT_TRUE(container.getOption(PluginContainerAudioProcessor::optionConsole)); // still reads on
    container.setOption(PluginContainerAudioProcessor::optionConsole, true);
    EXPECT_FALSE(debugConsole->getWindow()->isOnDesktop()); // show alone does not bring it back

    container.setOption(PluginContainerAudioProcessor::optionConsole, false);
    container.setOption(PluginContainerAudioProcessor::optionConsole, true);
    ASSERT_NE(debugConsole->getWindow(), nullptr);
    EXPECT_TRUE(debugConsole->getWindow()->isOnDesktop());
}
} // namespace
