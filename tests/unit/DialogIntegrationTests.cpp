// The load procedure with its real dialogs, worked from inside their modal loops (under Xvfb):
// the plugin chooser for shell files, the "Error" box and the file browser for moved files, and
// the "Info" box.
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/ComboBoxChooseComponent.h"
#include "support/FixtureFiles.h"
#include "support/ModalDriver.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <thread>
#endif

namespace
{
constexpr int blockSize = 128;

/** The level a held note gives on the first output: each ShellTrio member plays its own. */
float levelOfHeldNote(PluginContainerAudioProcessor& container)
{
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 60, (juce::uint8) 127), 0);
    processLikeWrapper(container, buffer, midi);
    return buffer.getSample(0, blockSize - 1);
}

struct ShellCase
{
    const char* what;
    int pickId;     // 0: close the chooser with its close button
    const char* expectedName;
    float expectedLevel; // which member was made
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const ShellCase& c, std::ostream* os)
{
    *os << c.what;
}

class ShellChooser : public ::testing::TestWithParam<ShellCase>
{
};

TEST_P(ShellChooser, AsksWhichPluginOfTheShellToLoad)
{
    const auto& c = GetParam();
    PluginContainerAudioProcessor container;
    container.prepareToPlay(44100.0, blockSize);

    juce::StringArray listed;
    ModalDriver driver({ [&](juce::Component& modal) {
        auto* chooser = findDescendant<comboBoxChooseComponent>(modal);
        if (chooser == nullptr)
            return false;
        auto& box = chooser->getOptionsComboBox();
        for (int i = 0; i < box.getNumItems(); ++i)
            listed.add(box.getItemText(i));
        EXPECT_EQ(box.getSelectedId(), 1);
        EXPECT_EQ(modal.getName(), "Please choose a plugin");

        if (c.pickId == 0)
        {
            auto* dialog = dynamic_cast<juce::DialogWindow*>(&modal);
            EXPECT_NE(dialog, nullptr);
            if (dialog != nullptr)
                dialog->closeButtonPressed();
        }
        else
        {
            box.setSelectedId(c.pickId);
            chooser->getOkButton().triggerClick();
        }
        return true;
    } });

    StdoutCapture quiet;
    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("ShellTrio"), {}));
    quiet.take();

    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_EQ(listed, juce::StringArray({ "Trio Alpha", "Trio Twin", "Trio Twin" }));
    EXPECT_EQ(container.getLoadedPluginName(0), c.expectedName);
    EXPECT_FLOAT_EQ(levelOfHeldNote(container), c.expectedLevel);
}

INSTANTIATE_TEST_SUITE_P(Picks, ShellChooser,
                         ::testing::Values(ShellCase { "first", 1, "Trio Alpha", 0.1f },
                                           // Plugins are matched by name: of two "Trio Twin", the later one stays.
                                           ShellCase { "second", 2, "Trio Twin", 0.3f },
                                           ShellCase { "closed", 0, "Trio Alpha", 0.1f }),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(ShellStoredName, RestoresTheNamedPluginWithoutAskingAndFailsForAVanishedName)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(44100.0, blockSize);
    bool asked = false;
    ModalDriver watcher({ [&](juce::Component& modal) {
        asked = true;
        modal.exitModalState(0);
        return true;
    } }, 2000);

    StdoutCapture quiet;
    EXPECT_TRUE(container.loadPlugin(0, FixtureFiles::path("ShellTrio"), "Trio Alpha"));
    EXPECT_FALSE(container.loadPlugin(1, FixtureFiles::path("ShellTrio"), "Trio Gamma"));
    quiet.take();

    EXPECT_FALSE(asked);
    EXPECT_EQ(container.getLoadedPluginName(0), "Trio Alpha");
    EXPECT_EQ(container.getLoadedPluginName(1), "<none>");
}

/** The message of a box drawn by JUCE: its accessible description is "<title>. <message>". */
[[maybe_unused]] juce::String alertMessage(juce::AlertWindow& box)
{
    const auto prefix = box.getName() + ". ";
    const auto description = box.getDescription();
    return description.startsWith(prefix) ? description.substring(prefix.length()) : description;
}

#if defined(_WIN32)
/**
    On Windows the "Error" box is the system's own message box, which runs its own loop outside
    JUCE: it is found by its title from another thread and answered with a button command.
*/
class ErrorBoxAnswer
{
public:
    explicit ErrorBoxAnswer(const juce::String& button)
        : buttonId(button == "Yes" ? IDYES : button == "No" ? IDNO : IDCANCEL), worker([this] { answer(); })
    {
    }

    ~ErrorBoxAnswer()
    {
        stop = true;
        worker.join();
    }

    bool sawErrorBox() const { return seen; }
    juce::String message() const { return seen ? text : juce::String(); }

private:
    void answer()
    {
        for (int attempt = 0; attempt < 300 && !stop; ++attempt)
        {
            if (auto* box = FindWindowW(L"#32770", L"Error"))
            {
                // The message box's text is its static control with the id 0xffff.
                wchar_t buffer[1024] = {};
                GetDlgItemTextW(box, 0xffff, buffer, (int) std::size(buffer));
                text = juce::String(buffer);
                seen = true;
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
                return;
            }
            Sleep(50);
        }
    }

    const int buttonId;
    std::atomic<bool> stop { false };
    std::atomic<bool> seen { false };
    juce::String text; // written before seen is set
    std::thread worker;
};
#else
/** Elsewhere the "Error" box is drawn by JUCE: it is answered like any other modal dialog. */
class ErrorBoxAnswer
{
public:
    explicit ErrorBoxAnswer(const juce::String& buttonText) : button(buttonText) {}

    bool sawErrorBox() const { return seen; }
    juce::String message() const { return text; }

    ModalDriver::Step step()
    {
        return [this](juce::Component& modal) {
            auto* box = dynamic_cast<juce::AlertWindow*>(&modal);
            if (box == nullptr)
                return false;
            seen = box->getName() == "Error" && box->getNumButtons() == 3;
            text = alertMessage(*box);
            clickOrDismiss(modal, button);
            return true;
        };
    }

private:
    juce::String button;
    bool seen = false;
    juce::String text;
};
#endif

/** The steps for the dialogs of a moved file: the "Error" box (except on Windows), then the browser. */
std::vector<ModalDriver::Step> answerMissingFile([[maybe_unused]] ErrorBoxAnswer& errorBox, const juce::File& toPick)
{
    std::vector<ModalDriver::Step> steps;
#if !defined(_WIN32)
    steps.push_back(errorBox.step());
#endif

    if (toPick != juce::File())
        steps.push_back([toPick](juce::Component& modal) {
            auto* browser = findDescendant<juce::FileBrowserComponent>(modal);
            auto* list = findDescendant<juce::FileListComponent>(modal);
            if (browser == nullptr || list == nullptr)
                return false;
            if (browser->getRoot() != toPick.getParentDirectory())
            {
                browser->setRoot(toPick.getParentDirectory());
                return false;
            }
            if (list->directoryContentsList.isStillLoading())
                return false;
            list->setSelectedFile(toPick);
            clickOrDismiss(modal, "Open");
            return true;
        });

    return steps;
}

TEST(MissingPluginFile, YesOpensTheBrowserAndTheFileFoundThereIsLoaded)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(44100.0, blockSize);
    const auto synth = juce::File(FixtureFiles::path("PlainSynth"));
    const auto moved = synth.getParentDirectory().getChildFile("gone").getChildFile(synth.getFileName()).getFullPathName();

    ErrorBoxAnswer errorBox("Yes");
    ModalDriver driver(answerMissingFile(errorBox, synth));
    StdoutCapture quiet;
    const bool loaded = container.loadPlugin(0, moved, {});
    quiet.take();

    EXPECT_TRUE(errorBox.sawErrorBox());
    EXPECT_EQ(errorBox.message(), moved + " does not exist. Locate manually?");
    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_TRUE(loaded);
    EXPECT_EQ(container.getLoadedPluginName(0), "PlainSynth");
}

TEST(MissingPluginFile, NoEndsTheLoadWithoutABrowser)
{
    PluginContainerAudioProcessor container;
    ErrorBoxAnswer errorBox("No");
    ModalDriver driver(answerMissingFile(errorBox, {}));
    const auto nowhere = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("nowhere/PlainSynth.so");
    EXPECT_FALSE(container.loadPlugin(0, nowhere.getFullPathName(), {}));
    EXPECT_TRUE(errorBox.sawErrorBox());
    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_EQ(juce::Component::getCurrentlyModalComponent(), nullptr);
}

TEST(SharedEffect, SecondSlotWithTheSameEffectShowsTheInfoBoxAndKeepsTheLoad)
{
    PluginContainerAudioProcessor container;
    container.prepareToPlay(44100.0, blockSize);
    StdoutCapture quiet;
    ASSERT_TRUE(container.loadPlugin(0, FixtureFiles::path("SharedEffectSynth"), {}));
    ASSERT_TRUE(container.loadPlugin(1, FixtureFiles::path("SharedEffectSynth"), {}));
    quiet.take();

    juce::MessageManager::getInstance()->runDispatchLoopUntil(200);
    juce::AlertWindow* info = nullptr;
    for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
        if (auto* box = dynamic_cast<juce::AlertWindow*>(juce::Desktop::getInstance().getComponent(i)))
            info = box;

    // The box was shown without waiting for it: both loads returned while it is still up.
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->getName(), "Info");
    EXPECT_EQ(alertMessage(*info), "effect == effect?|! WTF");
    EXPECT_NE(container.getPluginInstance(1), nullptr);

    juce::Component::SafePointer<juce::Component> box(info);
    findButtonWithText(*info, "OK")->triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(200);
    EXPECT_EQ(box.getComponent(), nullptr); // dismissing it removes it
}
} // namespace
