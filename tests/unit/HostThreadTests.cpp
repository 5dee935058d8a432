// The container under the threads a real DAW uses: automation from other threads while slots are
// loaded and replaced, prepare and release from the host's thread, dialogs during which the host
// closes the plugin. Meant for the sanitizer builds too (PENDULUM_ASAN, PENDULUM_TSAN).
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/ComboBoxChooseComponent.h"
#include "hosting/LoaderGlobals.h"
#include "support/ContainerTestAccess.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/ModalDriver.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace
{
using Processor = PluginContainerAudioProcessor;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int slotChanges = 600;
#else
constexpr int slotChanges = 2500;
#endif

TEST(HostThreads, AutomationPrepareAndAudioWhileSlotsChangeThousandsOfTimes)
{
    constexpr int blockSize = 64;
    DialogScript script;
    Processor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    container.prepareToPlay(48000.0, blockSize);

    StdoutCapture quiet;
    const juce::String synths[] = { FixtureFiles::path("PlainSynth"), FixtureFiles::path("CrashPlainSynth"),
                                    FixtureFiles::path("LatencySynth256"), FixtureFiles::path("WideSynth") };
    ASSERT_TRUE(container.loadPlugin(0, synths[0], {}));
    ASSERT_TRUE(container.loadPlugin(1, synths[1], {}));

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, parameterRounds { 0 }, prepares { 0 }, badSamples { 0 };

    // The host's engine: blocks stop while the host suspends and resumes the plugin.
    std::mutex engine;

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        midi.ensureSize(256);
        for (int n = 0; !stop.load(); ++n)
        {
            const std::lock_guard<std::mutex> running(engine);
            midi.clear();
            if (n % 8 == 0)
                midi.addEvent(juce::MidiMessage::noteOn(1, 60 + n % 12, (juce::uint8) 90), 0);
            processLikeWrapper(container, buffer, midi);
            for (int channel = 0; channel < 2; ++channel)
                for (int i = 0; i < blockSize; ++i)
                    if (!std::isfinite(buffer.getSample(channel, i)) || std::abs(buffer.getSample(channel, i)) > 4.0f)
                        ++badSamples;
            ++blocks;
        }
    });

    // Automation from a worker thread, over every host parameter, with names and texts.
    std::thread automation([&] {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        while (!stop.load())
        {
            for (int index = 0; index < Processor::numHostParameters && !stop.load(); ++index)
            {
                container.setParameter(index, (float) (index % 7) / 7.0f);
                const auto value = container.getParameter(index);
                const auto name = container.getParameterName(index);
                const auto text = container.getParameterText(index);
                if (value < 0.0f || value > 1.0f || (index >= 4 && (name.isNotEmpty() || text.isNotEmpty())))
                    ++badSamples; // no fixture here has more than four parameters
            }
            ++parameterRounds;
        }
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    });

    // The host suspends and resumes the plugin from a thread of its own, at changing rates.
    std::thread host([&] {
        for (int n = 0; !stop.load(); ++n)
        {
            {
                const std::lock_guard<std::mutex> suspended(engine);
                container.releaseResources();
                container.prepareToPlay(n % 2 == 0 ? 44100.0 : 48000.0, blockSize);
            }
            ++prepares;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    std::mt19937 random(1234);
    for (int change = 0; change < slotChanges; ++change)
    {
        const int slot = (int) (random() % 2);
        switch (random() % 4)
        {
        case 0:
        case 1:
            ASSERT_TRUE(container.loadPlugin(slot, synths[random() % 4], {})) << "change " << change;
            break;
        case 2:
            container.unloadPlugin(slot, false, true);
            break;
        default:
            container.setActivePlugin(slot);
            break;
        }
    }

    // Let every thread have done its work at least once more against the final slots.
    const int roundsBefore = parameterRounds.load();
    while (parameterRounds.load() < roundsBefore + 2)
        std::this_thread::yield();

    stop = true;
    audio.join();
    automation.join();
    host.join();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(prepares.load(), 0);
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_FALSE(container.isSuspended() && container.getPluginInstance(container.getActivePluginIndex()) != nullptr);
}

TEST(HostThreads, PluginLoadedBeforeTheHostPreparesGetsTheHostsRateAndBlockSize)
{
    StdoutCapture quiet;
    DialogScript script;
    Processor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));

    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("WideSynth"), {}));
    auto* plugin = container.getPluginInstance(0);
    ASSERT_EQ(PluginContainerTestAccess::auxChannels(container, 0), 16);

    std::thread host([&] { container.prepareToPlay(96000.0, 1024); });
    host.join();

    EXPECT_EQ(plugin->getSampleRate(), 96000.0);
    EXPECT_EQ(plugin->getBlockSize(), 1024);
    EXPECT_EQ(PluginContainerTestAccess::auxSamples(container, 0), 1024);

    // A block of the host's size then plays without the buffer growing.
    juce::AudioBuffer<float> buffer(2, 1024);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 69, (juce::uint8) 100), 0);
    processLikeWrapper(container, buffer, midi);
    EXPECT_GT(buffer.getMagnitude(0, 0, 1024), 0.01f);

    // A plugin loaded after the prepare starts at the host's values at once.
    ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    EXPECT_EQ(container.getPluginInstance(1)->getSampleRate(), 96000.0);
    EXPECT_EQ(container.getPluginInstance(1)->getBlockSize(), 1024);
}

//==================================================================================================
// The host closes the plugin while one of the load's dialogs is open

struct ClosedInDialogCase
{
    const char* dialog; // the dialog during which the container is destroyed
    bool emptyPath;     // the load asks for a file (otherwise it names one that has gone)
    LoadDialogs::LocateAnswer locateAnswer;
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const ClosedInDialogCase& c, std::ostream* os)
{
    *os << c.dialog;
}

class ClosedInDialog : public ::testing::TestWithParam<ClosedInDialogCase>
{
};

TEST_P(ClosedInDialog, LoadGivesUpWithoutTouchingTheDeadContainer)
{
    const auto& c = GetParam();
    StdoutCapture quiet;
    DialogScript script;
    script.fileToChoose = juce::File(FixtureFiles::path("PlainSynth"));
    script.locateAnswer = c.locateAnswer;
    script.locatedPath = FixtureFiles::path("PlainSynth");

    auto container = std::make_unique<Processor>();
    container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    auto* raw = container.get();
    script.whileOpen = [&](const juce::String& dialog) {
        if (dialog == c.dialog)
            container.reset();
    };

    const auto missing = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("gone/Missing.so");
    EXPECT_FALSE(raw->loadPlugin(0, c.emptyPath ? juce::String() : missing.getFullPathName(), {}));
    EXPECT_EQ(container, nullptr);
    EXPECT_EQ(liveVstLoaderCount, 0); // the candidate loader went as well
}

INSTANTIATE_TEST_SUITE_P(HostThreads, ClosedInDialog,
                         ::testing::Values(ClosedInDialogCase { "choose", true, LoadDialogs::LocateAnswer::no },
                                           ClosedInDialogCase { "locate?", false, LoadDialogs::LocateAnswer::yes },
                                           ClosedInDialogCase { "browse", false, LoadDialogs::LocateAnswer::yes }),
                         [](const auto& info) { return std::string(info.param.dialog == std::string("locate?") ? "locate" : info.param.dialog); });

TEST(HostThreads, ContainerClosedWhileTheShellChooserIsOpen)
{
    StdoutCapture quiet;
    auto container = std::make_unique<Processor>();
    auto* raw = container.get();

    ModalDriver driver({ [&](juce::Component& modal) {
        auto* chooser = findDescendant<comboBoxChooseComponent>(modal);
        if (chooser == nullptr)
            return false;
        container.reset();                      // the host closes the project...
        chooser->getOkButton().triggerClick(); // ...and then the user answers
        return true;
    } });

    EXPECT_FALSE(raw->loadPlugin(0, FixtureFiles::path("ShellTrio"), {}));
    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_EQ(container, nullptr);
    EXPECT_EQ(liveVstLoaderCount, 0);
}

TEST(HostThreads, ARestoreWhoseLoadAsksGivesUpWhenTheContainerIsClosed)
{
    StdoutCapture quiet;
    DialogScript script;
    auto container = std::make_unique<Processor>();
    container->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    auto* raw = container.get();
    script.whileOpen = [&](const juce::String&) { container.reset(); };

    const juce::String document = "<pluginData><main_plugin activePlugin=\"0\"/>"
                                  "<plugin index=\"0\" filePath=\"/nowhere/Missing.so\"/>"
                                  "<plugin index=\"1\" filePath=\"/nowhere/Other.so\"/></pluginData>";
    raw->setStateInformation(document.toRawUTF8(), (int) document.getNumBytesAsUTF8());
    EXPECT_EQ(container, nullptr);
    EXPECT_EQ(script.asked.size(), 1); // the second element was never reached
}

//==================================================================================================
// What the host is told when a switch changes the latency

struct ChangeRecorder : public juce::AudioProcessorListener
{
    void audioProcessorParameterChanged(juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails& details) override
    {
        latencyChanges += details.latencyChanged ? 1 : 0;
        displayUpdates += details.parameterInfoChanged ? 1 : 0;
    }
    int latencyChanges = 0;
    int displayUpdates = 0;
};

TEST(HostThreads, ALoadOfAnotherLatencyAsksForTheNewDelayAndADisplayUpdateAndASwitchForNothing)
{
    StdoutCapture quiet;
    DialogScript script;
    Processor container;
    container.setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));

    ChangeRecorder recorder;
    container.addListener(&recorder);

    ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("LatencySynth256"), {}));
    EXPECT_EQ(container.getLatencySamples(), 256);
    EXPECT_EQ(recorder.latencyChanges, 1);
    EXPECT_EQ(recorder.displayUpdates, 1);

    ASSERT_TRUE(container.setActivePlugin(1));
    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("LatencySynth256"), {}));
    ASSERT_TRUE(container.setActivePlugin(0)); // same latency: nothing to tell
    EXPECT_EQ(recorder.latencyChanges, 1);
    EXPECT_EQ(recorder.displayUpdates, 1);

    container.unloadPlugin(1, false, true);
    container.unloadPlugin(0, false, true); // the last plugin with a latency gone: 0 again
    EXPECT_EQ(container.getLatencySamples(), 0);
    EXPECT_EQ(recorder.latencyChanges, 2);
    EXPECT_EQ(recorder.displayUpdates, 2);

    container.removeListener(&recorder);
}
//==================================================================================================
// A switch while a parameter call is in the hosted plugin

/** A parameter whose reads wait until the test lets them go, as a plugin's slow call would. */
class LatchedParameter : public juce::HostedAudioProcessorParameter
{
public:
    void open()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        opened = true;
        changed.notify_all();
    }

    mutable std::atomic<bool> entered { false };

    juce::String getParameterID() const override { return "latched"; }
    float getValue() const override
    {
        entered = true;
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return opened; });
        return 0.5f;
    }
    void setValue(float) override {}
    float getDefaultValue() const override { return 0.0f; }
    juce::String getName(int) const override { return "latched"; }
    juce::String getLabel() const override { return {}; }
    float getValueForText(const juce::String&) const override { return 0.0f; }

private:
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool opened = false;
};

/** An instrument with the latched parameter; it tells when a switch away from it resets it. */
class LatchedInstrument : public FakeInstrument
{
public:
    LatchedInstrument() : FakeInstrument(1, 2, 0)
    {
        auto owned = std::make_unique<LatchedParameter>();
        parameter = owned.get();
        addHostedParameter(std::move(owned));
    }

    void reset() override { resetBySwitch = true; }

    LatchedParameter* parameter = nullptr;
    std::atomic<bool> resetBySwitch { false };
};

// The switch has to wait for the parameter call in the plugin before it moves the active index;
// the audio thread must not wait with it. Here the call is held until a block has gone through
// (or two seconds have passed): a block held by the switch would only end after that.
TEST(HostThreads, ASwitchWaitingForAParameterCallDoesNotHoldTheAudioThread)
{
    Processor container;
    auto latched = std::make_unique<LatchedInstrument>();
    auto* instrument = latched.get();
    PluginContainerTestAccess::install(container, 0, std::move(latched));
    PluginContainerTestAccess::install(container, 1, std::make_unique<FakeInstrument>(2, 2, 0));
    PluginContainerTestAccess::setActive(container, 0);
    container.prepareToPlay(48000.0, 64);

    float value = 0.0f;
    std::thread parameterCall([&] {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        value = container.getParameter(0);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    });
    while (!instrument->parameter->entered.load())
        std::this_thread::yield();

    std::atomic<bool> blockDone { false }, switchAsked { false };
    std::thread audio([&] {
        // The switch has begun and waits for the parameter call; the host's next block comes.
        while (!switchAsked.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        juce::AudioBuffer<float> buffer(2, 64);
        juce::MidiBuffer midi;
        processLikeWrapper(container, buffer, midi);
        blockDone = true;
    });

    bool blockDoneWhileTheCallWasHeld = false;
    std::thread release([&] {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!blockDone.load() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        blockDoneWhileTheCallWasHeld = blockDone.load();
        instrument->parameter->open();
    });

    {
        StdoutCapture quiet;
        switchAsked = true;
        EXPECT_TRUE(container.setActivePlugin(1)); // returns once the parameter call has left
    }
    release.join();
    parameterCall.join();
    audio.join();

    EXPECT_TRUE(blockDoneWhileTheCallWasHeld);
    EXPECT_EQ(container.getActivePluginIndex(), 1);
    EXPECT_TRUE(instrument->resetBySwitch.load()); // the plugin left is reset after the switch
    EXPECT_EQ(value, 0.5f);
}
} // namespace
