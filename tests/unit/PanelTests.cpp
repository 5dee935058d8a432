// The container's editor and control panel, worked through its real controls: the children and
// their look, every click, the instance name, the program choosers, the status lines painted
// after a crash, and refreshes that the processor asks for from another thread.
#include "console/ConsoleGlobals.h"
#include "console/KWDebugConsoleWindow.h"
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/EffectHandle.h"
#include "hosting/MyHostAudioProcessorEditor.h"
#include "hosting/HostedEditorWindow.h"
#include "isolation/IsolatedPluginInstance.h"
#include "support/ConsoleProbe.h"
#include "support/ContainerTestAccess.h"
#include "support/CrashSupport.h"
#include "support/FakeInstrument.h"
#include "support/FixtureFiles.h"
#include "support/NativeWindowProbe.h"
#include "support/PanelProbe.h"
#include "support/Screenshot.h"
#include "support/ScriptedLoadDialogs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <thread>

namespace
{
using namespace panel_probe;
using Processor = PluginContainerAudioProcessor;

const juce::Colour background(GUI::backgroundArgb);
const juce::Colour white(GUI::emptyStatusArgb);
const juce::Colour red(GUI::crashedStatusArgb);
const juce::Colour green(GUI::okStatusArgb);

/** A column's title as the panel should show it: the slot counted from 1, a middle dot, the plugin. */
juce::String title(int slot, const juce::String& plugin)
{
    return "Slot " + juce::String(slot + 1) + juce::String(juce::CharPointer_UTF8(" \xc2\xb7 ")) + plugin;
}

/** An in-process instrument with named programs that counts the program changes it is asked for. */
class ProgramInstrument : public FakeInstrument
{
public:
    explicit ProgramInstrument(juce::StringArray programNames, int initialProgram = 0)
        : FakeInstrument(7, 2, 0), names(std::move(programNames)), program(initialProgram)
    {
    }

    int getNumPrograms() override { return names.size(); }
    int getCurrentProgram() override { return program; }
    void setCurrentProgram(int index) override
    {
        ++setCalls;
        lastSet = index;
        program = index;
    }
    const juce::String getProgramName(int index) override { return names[index]; }

    /** A change the plugin makes by itself (its own editor, a MIDI program change). */
    void switchProgramItself(int index) { program = index; }
    void renameProgram(int index, const juce::String& name) { names.set(index, name); }

    int setCalls = 0;
    int lastSet = -100;

private:
    juce::StringArray names;
    int program;
};


/** WCAG 2 relative luminance of an opaque colour. */
double luminance(juce::Colour colour)
{
    const auto linear = [](juce::uint8 channel) {
        const auto c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.getRed()) + 0.7152 * linear(colour.getGreen()) + 0.0722 * linear(colour.getBlue());
}

/** WCAG 2 contrast ratio of two opaque colours, from 1 to 21. */
double contrast(juce::Colour a, juce::Colour b)
{
    const auto la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class Panel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        consoleEnabled = true; // the log lines are read back from the console window
        container = makeContainer();
        editor = openEditor(*container);
    }

    void TearDown() override
    {
        editor.reset();
        container.reset();
        consoleEnabled = false;
    }

    std::unique_ptr<Processor> makeContainer()
    {
        auto made = std::make_unique<Processor>();
        made->setLoadDialogs(std::make_shared<ScriptedLoadDialogs>(script));
        made->prepareToPlay(44100.0, 256);
        return made;
    }

    GUI& panel() { return panelOf(*editor); }
    template <typename T> T& get(const juce::String& name, int occurrence = 0) { return child<T>(panel(), name, occurrence); }

    juce::Label& status(int slot) { return get<juce::Label>("loadedPlugin1", slot); }
    juce::TextButton& loadButton(int slot) { return get<juce::TextButton>(slot == 0 ? "plugin1LoadUnload" : "plugin1LoadUnload2"); }
    juce::TextButton& editButton(int slot) { return get<juce::TextButton>(slot == 0 ? "plugin1Edit" : "plugin1Edit2"); }
    juce::ToggleButton& activeToggle(int slot) { return get<juce::ToggleButton>(slot == 0 ? "activatePlugin1" : "activatePlugin2"); }
    juce::TextButton& unloadButton(int slot) { return get<juce::TextButton>(slot == 0 ? "pluginUnload0" : "pluginUnload1"); }
    AudioPluginInstanceProgramComboBox& chooser(int slot) { return get<AudioPluginInstanceProgramComboBox>("new combo box", slot); }
    juce::GroupComponent& frame(int slot) { return get<juce::GroupComponent>("new group", slot == 0 ? 1 : 0); }


    /** Clicks "Load new" of the slot, the file dialog answering with the fixture's file. */
    void loadByClick(int slot, const juce::String& fixture)
    {
        script.fileToChoose = juce::File(FixtureFiles::path(fixture));
        click(loadButton(slot));
        ASSERT_NE(container->getPluginInstance(slot), nullptr) << fixture;
    }

    /** Puts an in-process instrument into the slot and refreshes the editor as a load does. */
    ProgramInstrument& install(int slot, std::unique_ptr<ProgramInstrument> instrument)
    {
        auto& kept = *instrument;
        PluginContainerTestAccess::install(*container, slot, std::move(instrument));
        editor->refreshProgramChooser(slot);
        editor->refreshPanel();
        return kept;
    }

    static juce::StringArray itemsOf(juce::ComboBox& box)
    {
        juce::StringArray items;
        for (int i = 0; i < box.getNumItems(); ++i)
            items.add(juce::String(box.getItemId(i)) + "=" + box.getItemText(i));
        return items;
    }

    /**
        The slot's status line, in the picture: its text is painted in the label's colour, which
        reads at 4.5:1 or better on what is painted behind the label (a corner of it, where no
        letter lies).
    */
    void expectReadable(int slot, const juce::Image& image)
    {
        auto& label = status(slot);
        const auto area = label.getBounds();
        const auto text = label.findColour(juce::Label::textColourId);
        const auto behind = image.getPixelAt(area.getX() + 1, area.getY() + 1);
        SCOPED_TRACE(label.getText() + " in slot " + juce::String(slot));

        bool painted = false;
        for (int y = area.getY(); y < area.getBottom() && !painted; ++y)
            for (int x = area.getX(); x < area.getRight() && !painted; ++x)
                painted = image.getPixelAt(x, y) == text;

        EXPECT_TRUE(painted) << "no pixel of the line has its colour " << text.toDisplayString(true);
        EXPECT_GE(contrast(text, behind), 4.5) << text.toDisplayString(true) << " on " << behind.toDisplayString(true);
    }

    /** The last event's line shows the container's last event, which is this one, at its time. */
    void expectLastEvent(const juce::String& what)
    {
        const auto event = container->getLastEvent();
        EXPECT_EQ(event.text, what);
        EXPECT_LE(std::abs((juce::Time::getCurrentTime() - event.time).inSeconds()), 60.0) << "stamped now";
        EXPECT_EQ(get<juce::Label>("lastEvent").getText(), event.time.formatted("%H:%M:%S") + " " + what);
    }

    DialogScript script;
    std::unique_ptr<Processor> container;
    EditorPtr editor;
};

//==================================================================================================
// The children, their texts, places and look.

struct ChildRow
{
    const char* kind; // group, text, toggle, label, chooser
    const char* name;
    int occurrence;
    const char* text;
    juce::Rectangle<int> bounds;
};

juce::String shownText(juce::Component& component)
{
    if (auto* group = dynamic_cast<juce::GroupComponent*>(&component))
        return group->getText();
    if (auto* button = dynamic_cast<juce::Button*>(&component))
        return button->getButtonText();
    if (auto* label = dynamic_cast<juce::Label*>(&component))
        return label->getText();
    if (auto* box = dynamic_cast<juce::ComboBox*>(&component))
        return box->getText();
    return "?";
}

juce::String kindOf(juce::Component& component)
{
    if (dynamic_cast<juce::GroupComponent*>(&component) != nullptr)
        return "group";
    if (dynamic_cast<juce::ToggleButton*>(&component) != nullptr)
        return "toggle";
    if (dynamic_cast<juce::TextButton*>(&component) != nullptr)
        return "text";
    if (dynamic_cast<juce::Label*>(&component) != nullptr)
        return "label";
    if (dynamic_cast<AudioPluginInstanceProgramComboBox*>(&component) != nullptr)
        return "chooser";
    if (dynamic_cast<juce::ComboBox*>(&component) != nullptr)
        return "combo";
    return "?";
}

TEST(PanelChildren, EveryChildInCreationOrderWithItsNameTextAndBounds)
{
    const auto about = GUI::aboutText();
    const ChildRow table[] = {
        { "group", "new group", 0, "group", { 184, 52, 184, 196 } },
        { "group", "new group", 1, "group", { 0, 52, 184, 196 } },
        { "text", "plugin1LoadUnload", 0, "Load new", { 16, 100, 150, 24 } },
        { "label", "loadedPlugin1", 0, "Plugin1: <none>", { 16, 68, 150, 24 } },
        { "text", "plugin1Edit", 0, "Edit", { 16, 148, 150, 24 } },
        { "toggle", "activatePlugin1", 0, "Active", { 16, 220, 64, 24 } },
        { "text", "plugin1LoadUnload2", 0, "Load new", { 200, 100, 150, 24 } },
        { "label", "loadedPlugin1", 1, "Plugin2: <none>", { 210, 68, 150, 24 } },
        { "text", "plugin1Edit2", 0, "Edit", { 200, 148, 150, 24 } },
        { "toggle", "activatePlugin2", 0, "Active", { 200, 220, 64, 24 } },
        { "group", "new group", 2, "options", { 0, 270, 368, 114 } },
        { "toggle", "consoleB", 0, "Console ( global )", { 16, 284, 136, 24 } },
        { "toggle", "autoSwitchB", 0, "Auto-switch plugin", { 16, 332, 160, 24 } },
        { "toggle", "autoCrashRecoveryB", 0, "Auto crash recovery", { 16, 308, 160, 24 } },
        { "toggle", "reloadCrashedPluginDataB", 0, "Reload crashed plugin data", { 16, 356, 192, 24 } },
        { "toggle", "separateProcessesB", 0, "Run plugins in separate processes", { 184, 18, 180, 28 } },
        { "toggle", "hotStandbyB", 0, "Hot standby", { 208, 356, 144, 24 } },
        { "combo", "watchPeriodB", 0, "Crash watch 1000 ms", { 208, 332, 144, 24 } },
        { "group", "new group", 3, "Instance name", { 0, 0, 368, 50 } },
        { "chooser", "new combo box", 0, "", { 16, 188, 150, 24 } },
        { "chooser", "new combo box", 1, "", { 200, 188, 150, 24 } },
        { "label", "new label", 0, "Plugin Pendulum v" JucePlugin_VersionString, { 236, 284, 132, 24 } },
        { "label", "new label", 1, JucePlugin_ManufacturerWebsite "\n", { 184, 308, 190, 24 } },
        { "label", "instanceName", 0, "Instance name", { 16, 20, 160, 24 } },
        { "text", "pluginUnload0", 0, "Unload", { 96, 220, 72, 24 } },
        { "text", "pluginUnload1", 0, "Unload", { 280, 220, 72, 24 } },
        { "label", "lastEvent", 0, "", { 4, 249, 360, 20 } },
        { "toggle", "outputHealthB", 0, "Health check", { 152, 284, 84, 24 } },
    };

    GUI gui;
    ASSERT_EQ(gui.getNumChildComponents(), (int) std::size(table));
    EXPECT_EQ(gui.getBounds(), juce::Rectangle<int>(0, 0, 384, 600));

    for (int i = 0; i < (int) std::size(table); ++i)
    {
        const auto& row = table[i];
        auto& component = *gui.getChildComponent(i);
        SCOPED_TRACE(juce::String(i) + " " + row.name);
        EXPECT_EQ(component.getName(), row.name);
        EXPECT_EQ(&component, &child<juce::Component>(gui, row.name, row.occurrence));
        EXPECT_EQ(kindOf(component), row.kind);
        EXPECT_EQ(shownText(component), row.text);
        EXPECT_EQ(component.getBounds(), row.bounds);
        EXPECT_TRUE(component.isVisible());
    }

    // The about text is the address the host gets as the vendor string.
    EXPECT_EQ(about, juce::String(JucePlugin_Manufacturer) + "\n");
}

TEST(PanelChildren, LookOfTheChildren)
{
    GUI gui;

    for (int group = 0; group < 4; ++group)
    {
        auto& frame = child<juce::GroupComponent>(gui, "new group", group);
        EXPECT_EQ(frame.findColour(juce::GroupComponent::outlineColourId), white) << group;
        EXPECT_EQ(frame.findColour(juce::GroupComponent::textColourId), white) << group;
    }

    for (auto name : { "plugin1LoadUnload", "plugin1Edit", "plugin1LoadUnload2", "plugin1Edit2", "pluginUnload0", "pluginUnload1" })
    {
        auto& button = child<juce::TextButton>(gui, name);
        EXPECT_EQ(button.findColour(juce::TextButton::buttonColourId), white) << name;
        EXPECT_TRUE(button.getTooltip().isEmpty()) << name;
        // The caption must be readable on the white button.
        EXPECT_NE(button.findColour(juce::TextButton::textColourOffId), white) << name;
    }

    for (auto name : { "activatePlugin1", "activatePlugin2", "consoleB", "autoSwitchB", "autoCrashRecoveryB",
                       "reloadCrashedPluginDataB", "separateProcessesB", "hotStandbyB", "outputHealthB" })
        EXPECT_EQ(child<juce::ToggleButton>(gui, name).findColour(juce::ToggleButton::textColourId), white) << name;

    // The status lines and the last event's line are bold, to be read from a distance.
    struct LabelRow { const char* name; int occurrence; juce::Justification justification; bool bold; };
    for (const auto& row : { LabelRow { "loadedPlugin1", 0, juce::Justification::centred, true },
                             LabelRow { "loadedPlugin1", 1, juce::Justification::centred, true },
                             LabelRow { "new label", 0, juce::Justification::centredLeft, false },
                             LabelRow { "new label", 1, juce::Justification::centredLeft, false },
                             LabelRow { "instanceName", 0, juce::Justification::centred, false },
                             LabelRow { "lastEvent", 0, juce::Justification::centredLeft, true } })
    {
        auto& label = child<juce::Label>(gui, row.name, row.occurrence);
        SCOPED_TRACE(juce::String(row.name) + " " + juce::String(row.occurrence));
        EXPECT_EQ(label.getFont().getHeight(), 15.0f);
        EXPECT_EQ(label.getFont().isBold(), row.bold);
        EXPECT_EQ(label.getJustificationType(), row.justification);
        EXPECT_EQ(label.findColour(juce::Label::textWhenEditingColourId), juce::Colour(0xFF000000));
        EXPECT_EQ(label.findColour(juce::Label::backgroundWhenEditingColourId), juce::Colour(0x00000000));
        EXPECT_FALSE(label.isEditableOnSingleClick());
        if (juce::String(row.name) != "instanceName")
        {
            EXPECT_FALSE(label.isEditableOnDoubleClick());
            EXPECT_EQ(label.findColour(juce::Label::textColourId), white);
        }
    }

    auto& name = child<juce::Label>(gui, "instanceName");
    EXPECT_TRUE(name.isEditableOnDoubleClick());
    EXPECT_FALSE(name.doesLossOfFocusDiscardChanges());
    EXPECT_EQ(name.findColour(juce::Label::backgroundColourId), white);
    EXPECT_NE(name.findColour(juce::Label::textColourId), white); // readable on its white field

    for (int slot = 0; slot < 2; ++slot)
    {
        auto& box = child<AudioPluginInstanceProgramComboBox>(gui, "new combo box", slot);
        EXPECT_FALSE(box.isTextEditable());
        EXPECT_EQ(box.getJustificationType(), juce::Justification::centredLeft);
        EXPECT_EQ(box.getTextWhenNothingSelected(), "");
        EXPECT_EQ(box.getTextWhenNoChoicesAvailable(), "(no choices)");
        EXPECT_TRUE(box.isEnabled()); // enabled until the first refresh
    }
}

TEST_F(Panel, EditorShowsTheTopLeftOfThePanelAndEveryControlLiesInIt)
{
    EXPECT_EQ(editor->getWidth(), 368);
    EXPECT_EQ(editor->getHeight(), 384);
    EXPECT_EQ(panel().getBounds(), juce::Rectangle<int>(0, 0, 384, 600));

    const juce::Rectangle<int> shown(0, 0, 368, 384);
    for (auto* control : panel().getChildren())
    {
        auto bounds = control->getBounds();
        if (control == &get<juce::Label>("new label", 1)) // the about text runs 6 pixels past the edge
            bounds.setWidth(bounds.getWidth() - 6);
        EXPECT_TRUE(shown.contains(bounds)) << control->getName();
    }
}

//==================================================================================================
// The empty panel and the status lines.

TEST_F(Panel, EmptyContainerShowsEmptySlotsAndSlotZeroActive)
{
    const auto image = paint(*editor);

    for (int slot = 0; slot < 2; ++slot)
    {
        SCOPED_TRACE(slot);
        EXPECT_EQ(status(slot).getText(), "Status: empty");
        EXPECT_EQ(status(slot).findColour(juce::Label::textColourId), white);
        EXPECT_EQ(editButton(slot).getButtonText(), "Edit");
        EXPECT_EQ(frame(slot).getText(), title(slot, "empty"));
        EXPECT_FALSE(editButton(slot).isEnabled());
        EXPECT_FALSE(activeToggle(slot).isEnabled());
        EXPECT_FALSE(unloadButton(slot).isEnabled());
        EXPECT_TRUE(loadButton(slot).isEnabled());
        EXPECT_FALSE(chooser(slot).isEnabled());
        EXPECT_EQ(chooser(slot).getNumItems(), 0);
        EXPECT_EQ(chooser(slot).getTextWhenNoChoicesAvailable(), "(no programs)");
    }

    EXPECT_TRUE(activeToggle(0).getToggleState());
    EXPECT_FALSE(activeToggle(1).getToggleState());
    EXPECT_EQ(get<juce::Label>("instanceName").getText(), "default instance");

    // Dark grey where no control lies; the band of the active slot 0 behind its column.
    ASSERT_EQ(image.getWidth(), 368);
    EXPECT_EQ(image.getPixelAt(1, 51), background);
    EXPECT_EQ(image.getPixelAt(190, 180), juce::Colour(0xFF333333)) << "between slot 1's controls";
    EXPECT_EQ(image.getPixelAt(176, 180), juce::Colour(GUI::activeColumnArgb)) << "between slot 0's controls";
    EXPECT_EQ(get<juce::Label>("lastEvent").getText(), "") << "nothing has happened yet";
}

TEST_F(Panel, CrashOfASlotShowsCrashedInRedAndRecoverAtTheNextPaint)
{
    container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {});
    container->loadPlugin(1, FixtureFiles::path("CrashPlainSynth"), {});
    paint(*editor);
    EXPECT_EQ(status(1).getText(), "Status: OK");
    EXPECT_EQ(status(1).findColour(juce::Label::textColourId), green);

    makeCrash(*container, 1);
    tickWatchdog();
    ASSERT_TRUE(container->isPluginCrashed(1));
    paint(*editor);

    EXPECT_EQ(status(1).getText(), "Status: CRASHED");
    EXPECT_EQ(status(1).findColour(juce::Label::textColourId), red);
    EXPECT_EQ(editButton(1).getButtonText(), "Recover");
    EXPECT_EQ(status(0).getText(), "Status: OK");
    EXPECT_EQ(status(0).findColour(juce::Label::textColourId), green);
    EXPECT_EQ(editButton(0).getButtonText(), "Edit");

    // "Recover" reloads the plugin instead of opening its editor.
    const auto lines = console_probe::linesOf([&] { click(editButton(1)); });
    EXPECT_TRUE(lines.contains("Recovering plugin at index 1 in instance with name default instance.")) << lines.joinIntoString("\n");
    EXPECT_FALSE(lines.joinIntoString("\n").contains("openEditor")) << lines.joinIntoString("\n");
    EXPECT_FALSE(container->isPluginCrashed(1));
    ASSERT_NE(container->getPluginInstance(1), nullptr);

    paint(*editor);
    EXPECT_EQ(status(1).getText(), "Status: OK");
    EXPECT_EQ(editButton(1).getButtonText(), "Edit");
}

TEST_F(Panel, AMissingPluginOfTheProjectIsShownAndRecoveredWhenItsFileIsBack)
{
    FixtureFiles files;
    const auto path = files.freshCopy("PlainSynth");
    container->loadPlugin(1, path, {});
    juce::MemoryBlock project;
    container->getStateInformation(project);
    ASSERT_TRUE(juce::File(path).moveFileTo(juce::File(path + ".away")));

    // The project opens on a machine without the plugin; the user does not look for it.
    script.locateAnswer = LoadDialogs::LocateAnswer::no;
    container->setStateInformation(project.getData(), (int) project.getSize());
    ASSERT_TRUE(container->isPluginMissing(1));
    paint(*editor);

    EXPECT_EQ(status(1).getText(), "Status: MISSING");
    EXPECT_EQ(status(1).findColour(juce::Label::textColourId), red);
    EXPECT_EQ(frame(1).getText(), title(1, "PlainSynth"));
    EXPECT_EQ(editButton(1).getButtonText(), "Recover");
    EXPECT_TRUE(editButton(1).isEnabled());
    EXPECT_TRUE(unloadButton(1).isEnabled());
    EXPECT_FALSE(activeToggle(1).isEnabled());
    expectLastEvent("slot 2: the plugin could not be loaded: " + path);
    expectReadable(1, paint(*editor));

    // The file is back: "Recover" loads it.
    ASSERT_TRUE(juce::File(path + ".away").moveFileTo(juce::File(path)));
    click(editButton(1));
    ASSERT_NE(container->getPluginInstance(1), nullptr);
    paint(*editor);
    EXPECT_EQ(status(1).getText(), "Status: OK");
    EXPECT_TRUE(activeToggle(1).isEnabled());
}

//==================================================================================================
// Read on stage, at a glance: contrast, the active column, the titles and the last event.

TEST_F(Panel, EveryStatusReadsAtAContrastOfAtLeastFourAndAHalf)
{
    struct Step
    {
        const char* what;
        std::function<void()> make;
        const char* statuses[2];
    };

    const Step steps[] = {
        { "empty", [] {}, { "Status: empty", "Status: empty" } },
        { "loaded", [&] {
              loadByClick(0, "PlainSynth");
              loadByClick(1, "CrashPlainSynth");
          },
          { "Status: OK", "Status: OK" } },
        { "inactive slot crashed", [&] {
              makeCrash(*container, 1);
              tickWatchdog();
          },
          { "Status: OK", "Status: CRASHED" } },
        { "crashed slot recovered and made active", [&] {
              click(editButton(1));
              click(activeToggle(1));
          },
          { "Status: OK", "Status: OK" } },
        { "active slot crashed, nothing to switch to", [&] {
              container->setOption(Processor::optionAutoSwitch, false);
              makeCrash(*container, 1);
              tickWatchdog();
          },
          { "Status: OK", "Status: CRASHED" } },
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.what);
        step.make();
        const auto image = paint(*editor);
        for (int slot = 0; slot < 2; ++slot)
        {
            EXPECT_EQ(status(slot).getText(), step.statuses[slot]);
            EXPECT_TRUE(status(slot).getFont().isBold());
            expectReadable(slot, image);
        }
    }
}

TEST_F(Panel, ActiveColumnIsHighlightedAndTheHighlightFollowsEverySwitch)
{
    loadByClick(0, "CrashPlainSynth");
    loadByClick(1, "PlainSynth");

    // Where no control lies, left of each column's "Edit".
    const juce::Point<int> behind[] = { { 10, 160 }, { 194, 160 } };
    const auto expectHighlighted = [&](int slot) {
        const auto image = paint(*editor);
        EXPECT_EQ(image.getPixelAt(behind[slot].x, behind[slot].y), juce::Colour(GUI::activeColumnArgb));
        EXPECT_EQ(image.getPixelAt(behind[1 - slot].x, behind[1 - slot].y), background);
        EXPECT_EQ(frame(slot).findColour(juce::GroupComponent::outlineColourId), juce::Colour(GUI::activeFrameArgb));
        EXPECT_EQ(frame(1 - slot).findColour(juce::GroupComponent::outlineColourId), juce::Colour(GUI::frameArgb));
    };

    {
        SCOPED_TRACE("slot 0 active after the loads");
        expectHighlighted(0);
    }
    {
        SCOPED_TRACE("Active of slot 1 clicked");
        click(activeToggle(1));
        expectHighlighted(1);
    }
    {
        SCOPED_TRACE("Active of slot 0 clicked");
        click(activeToggle(0));
        expectHighlighted(0);
    }
    {
        SCOPED_TRACE("slot 0 crashed, the watchdog switched to slot 1");
        makeCrash(*container, 0);
        tickWatchdog();
        ASSERT_EQ(container->getActivePluginIndex(), 1);
        expectHighlighted(1);
    }
}

TEST_F(Panel, ColumnTitlesCountSlotsFromOneAndTellTwoCopiesApart)
{
    EXPECT_EQ(frame(0).getText(), juce::String(juce::CharPointer_UTF8("Slot 1 \xc2\xb7 empty")));
    EXPECT_EQ(frame(1).getText(), juce::String(juce::CharPointer_UTF8("Slot 2 \xc2\xb7 empty")));

    loadByClick(0, "PlainSynth");
    loadByClick(1, "PlainSynth");
    EXPECT_EQ(frame(0).getText(), juce::String(juce::CharPointer_UTF8("Slot 1 \xc2\xb7 PlainSynth")));
    EXPECT_EQ(frame(1).getText(), juce::String(juce::CharPointer_UTF8("Slot 2 \xc2\xb7 PlainSynth")));

    // The log keeps counting from 0.
    const auto lines = console_probe::linesOf([&] { click(unloadButton(1)); });
    EXPECT_TRUE(lines.contains("default instance:unloading plugin in index 1.")) << lines.joinIntoString("\n");
    EXPECT_EQ(frame(1).getText(), juce::String(juce::CharPointer_UTF8("Slot 2 \xc2\xb7 empty")));
}

TEST_F(Panel, LastEventLineTellsOfTheCrashTheSwitchAndTheRecovery)
{
    loadByClick(0, "CrashPlainSynth");
    loadByClick(1, "PlainSynth");

    // The watchdog marks slot 0 and switches to slot 1; the log still says index 0.
    makeCrash(*container, 0);
    const auto lines = console_probe::linesOf([] { tickWatchdog(); });
    EXPECT_TRUE(lines.contains("Warning: plugin at index 0 in instance with name default instance seems to have crashed"))
        << lines.joinIntoString("\n");
    expectLastEvent("slot 1 crashed; playing slot 2");

    // The line fits the panel's width at its own font.
    auto& line = get<juce::Label>("lastEvent");
    EXPECT_LE(line.getFont().getStringWidthFloat(line.getText()), (float) line.getWidth());

    // "Recover" reloads it and says how long that took.
    click(editButton(0));
    ASSERT_FALSE(container->isPluginCrashed(0));
    const auto text = container->getLastEvent().text;
    EXPECT_TRUE(std::regex_match(text.toStdString(), std::regex("slot 1 reloaded in [0-9]+\\.[0-9] s"))) << text;
    expectLastEvent(text);

    click(activeToggle(0));
    expectLastEvent("playing slot 1");

}

TEST_F(Panel, AnInactiveSlotsCrashIsTheLastEventWithoutASwitch)
{
    loadByClick(0, "PlainSynth");
    loadByClick(1, "CrashPlainSynth");
    makeCrash(*container, 1);
    tickWatchdog();
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    expectLastEvent("slot 2 crashed");
}

TEST_F(Panel, ARecoveryThatCannotReloadThePluginSaysWhy)
{
    FixtureFiles files;
    const auto path = files.freshCopy("CrashPlainSynth");
    container->loadPlugin(1, path, {});
    container->setOption(Processor::optionAutoCrashRecovery, true);
    makeCrash(*container, 1);
    ASSERT_TRUE(juce::File(path).moveFileTo(juce::File(path + ".away")));

    tickWatchdog(); // marks slot 1, cannot reload it and asks nobody
    ASSERT_TRUE(container->isPluginMissing(1));
    ASSERT_TRUE(container->getMissingReason(1).isNotEmpty());
    expectLastEvent("slot 2: " + container->getMissingReason(1));
    expectReadable(1, paint(*editor));
    EXPECT_EQ(status(1).getText(), "Status: MISSING");
}

class PanelRefusedFile : public Panel, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(PanelRefusedFile, LoadNewOfAFileThatGivesNoInstrumentSaysSo)
{
    loadByClick(1, "PlainSynth");
    const auto file = juce::File(FixtureFiles::path(GetParam()));
    ASSERT_TRUE(file.existsAsFile());

    script.fileToChoose = file;
    click(loadButton(1));

    EXPECT_EQ(container->getLoadedPluginName(1), "PlainSynth") << "the slot keeps what it had";
    expectLastEvent("slot 2 could not be loaded: " + file.getFileName());
}

INSTANTIATE_TEST_SUITE_P(Panel, PanelRefusedFile, ::testing::Values("NotAPlugin", "NoEntryPoint", "StereoEffect"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(Panel, NoTwoControlsOverlapAndTheLastEventLineLiesBetweenTheColumnsAndTheOptions)
{
    auto& line = get<juce::Label>("lastEvent");
    juce::Array<juce::Component*> controls;
    juce::Array<juce::GroupComponent*> groups;
    for (auto* component : panel().getChildren())
    {
        if (auto* group = dynamic_cast<juce::GroupComponent*>(component))
            groups.add(group);
        else
            controls.add(component);
    }

    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->getBounds().intersects(controls[j]->getBounds()))
                << controls[i]->getName() << " and " << controls[j]->getName();

    for (auto* group : groups)
    {
        EXPECT_FALSE(line.getBounds().intersects(group->getBounds())) << group->getName() << " " << group->getText();
        for (int i = 0; i < groups.size(); ++i)
            if (groups[i] != group)
                EXPECT_FALSE(groups[i]->getBounds().intersects(group->getBounds())) << group->getText();
    }

    EXPECT_GE(line.getY(), frame(0).getBottom());
    EXPECT_LE(line.getBottom(), get<juce::GroupComponent>("new group", 2).getY());
}

//==================================================================================================
// Clicks.

TEST_F(Panel, LoadNewAsksForTheFileAndShowsThePluginWithItsPrograms)
{
    loadByClick(0, "PlainSynth");

    EXPECT_EQ(script.asked, juce::StringArray { "choose" });
    EXPECT_EQ(container->getLoadedPluginName(0), "PlainSynth");
    EXPECT_EQ(frame(0).getText(), title(0, "PlainSynth"));
    EXPECT_EQ(frame(1).getText(), title(1, "empty"));
    EXPECT_TRUE(editButton(0).isEnabled());
    EXPECT_TRUE(activeToggle(0).isEnabled());
    EXPECT_TRUE(unloadButton(0).isEnabled());
    EXPECT_FALSE(unloadButton(1).isEnabled());

    EXPECT_TRUE(chooser(0).isEnabled());
    EXPECT_EQ(itemsOf(chooser(0)), (juce::StringArray { "1=0:Init", "2=1:Bright", "3=2:Soft" }));
    EXPECT_EQ(chooser(0).getSelectedItemIndex(), container->getPluginInstance(0)->getCurrentProgram());
    EXPECT_FALSE(chooser(1).isEnabled());

    paint(*editor);
    EXPECT_EQ(status(0).getText(), "Status: OK");
    EXPECT_EQ(status(0).findColour(juce::Label::textColourId), green);
}

TEST_F(Panel, CancelledLoadLeavesTheSlotAsItWas)
{
    loadByClick(1, "PlainSynth");
    auto* before = container->getPluginInstance(1);

    script.fileToChoose = juce::File(); // the user cancels the dialog
    click(loadButton(1));

    EXPECT_EQ(container->getPluginInstance(1), before);
    EXPECT_EQ(frame(1).getText(), title(1, "PlainSynth"));
    EXPECT_EQ(get<juce::Label>("lastEvent").getText(), "") << "a cancelled dialog is no failure";
    paint(*editor);
    EXPECT_EQ(status(1).getText(), "Status: OK");
}

TEST_F(Panel, EditorClosedWhileTheFileDialogIsOpenIsNotTouchedAfterwards)
{
    // The host closes the plugin's window while "Load new" waits for the user.
    script.fileToChoose = juce::File(FixtureFiles::path("PlainSynth"));
    script.whileOpen = [&](const juce::String&) { editor.reset(); };

    loadButton(0).triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return editor == nullptr; }));
    pumpMessages();

    EXPECT_EQ(script.asked, juce::StringArray { "choose" });
    EXPECT_NE(container->getPluginInstance(0), nullptr) << "the load itself goes on for the container";
    EXPECT_EQ(container->getActiveEditor(), nullptr);
}

TEST_F(Panel, EditOpensTheEditorOfItsOwnSlot)
{
    ASSERT_TRUE(native_window::connect());
    const juce::StringArray names { "EditorSynthNormal", "EditorSynthLateRect" };
    container->loadPlugin(0, FixtureFiles::path(names[0]), {});
    container->loadPlugin(1, FixtureFiles::path(names[1]), {});
    mouseEnters(panel());

    for (int slot : { 1, 0 })
    {
        const auto lines = console_probe::linesOf([&] { click(editButton(slot)); });
        EXPECT_EQ(lines, juce::StringArray { "default instance:openEditor: " + juce::String(slot) });

        // The slot's plugin's own editor is open, in a window titled with the instance, the slot
        // counted from 1 and that plugin's name.
        auto* holder = PluginContainerTestAccess::editorHolder(*container, slot);
        ASSERT_NE(holder, nullptr);
        ASSERT_NE(holder->getEditorWindow(), nullptr);
        EXPECT_TRUE(holder->getEditorWindow()->isEditorOpen());
        EXPECT_EQ(native_window::titleOf(holder->getEditorWindow()->getWindowHandle()),
                  "default instance - slot " + std::to_string(slot + 1) + " - " + names[slot].toStdString());
    }
}

TEST_F(Panel, ActiveTogglesSwitchAndTheActiveSlotStaysOnWhenClickedAgain)
{
    container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {});
    container->loadPlugin(1, FixtureFiles::path("MonoSynth"), {});
    editor->refreshPanel();

    click(activeToggle(1));
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_TRUE(activeToggle(1).getToggleState());
    EXPECT_FALSE(activeToggle(0).getToggleState());

    // The toggle flips itself off; the slot stays active and the refresh turns it on again.
    click(activeToggle(1));
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_TRUE(activeToggle(1).getToggleState());
    EXPECT_FALSE(activeToggle(0).getToggleState());

    click(activeToggle(0));
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    EXPECT_TRUE(activeToggle(0).getToggleState());
    EXPECT_FALSE(activeToggle(1).getToggleState());
}

TEST_F(Panel, UnloadEmptiesTheSlotAndDisablesItsControls)
{
    loadByClick(1, "PlainSynth");
    ASSERT_TRUE(chooser(1).isEnabled());

    click(unloadButton(1));

    EXPECT_EQ(container->getPluginInstance(1), nullptr);
    EXPECT_EQ(frame(1).getText(), title(1, "empty"));
    EXPECT_FALSE(editButton(1).isEnabled());
    EXPECT_FALSE(activeToggle(1).isEnabled());
    EXPECT_FALSE(unloadButton(1).isEnabled());
    EXPECT_FALSE(chooser(1).isEnabled());
    EXPECT_EQ(chooser(1).getNumItems(), 0);
    EXPECT_EQ(chooser(1).getTextWhenNoChoicesAvailable(), "(no programs)");
    paint(*editor);
    EXPECT_EQ(status(1).getText(), "Status: empty");
    EXPECT_EQ(status(1).findColour(juce::Label::textColourId), white);
}

TEST_F(Panel, UnloadOfTheActiveSlotSwitchesToTheOtherHealthyPlugin)
{
    loadByClick(0, "PlainSynth");
    loadByClick(1, "MonoSynth");
    ASSERT_EQ(container->getActivePluginIndex(), 0);

    click(unloadButton(0));

    EXPECT_EQ(container->getPluginInstance(0), nullptr);
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_FALSE(container->isSuspended());
    EXPECT_TRUE(activeToggle(1).getToggleState());
    EXPECT_FALSE(activeToggle(0).getToggleState());
    EXPECT_FALSE(activeToggle(0).isEnabled());

    // With the other slot empty now, unloading the active slot leaves it active and empty.
    click(unloadButton(1));
    EXPECT_EQ(container->getPluginInstance(1), nullptr);
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_FALSE(container->isSuspended());
}

TEST_F(Panel, CrashedSlotCannotBeMadeActiveByHandUntilRecovered)
{
    container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {});
    container->loadPlugin(1, FixtureFiles::path("CrashPlainSynth"), {});
    ASSERT_TRUE(activeToggle(1).isEnabled());

    makeCrash(*container, 1);
    tickWatchdog();
    ASSERT_TRUE(container->isPluginCrashed(1));

    EXPECT_FALSE(activeToggle(1).isEnabled());
    EXPECT_TRUE(activeToggle(0).isEnabled());
    EXPECT_TRUE(editButton(1).isEnabled()) << "Recover stays available";
    EXPECT_TRUE(unloadButton(1).isEnabled());

    // Unloading the active slot does not fall back to the crashed one.
    click(unloadButton(0));
    EXPECT_EQ(container->getActivePluginIndex(), 0);
    EXPECT_TRUE(activeToggle(0).getToggleState());

    click(editButton(1)); // "Recover"
    ASSERT_FALSE(container->isPluginCrashed(1));
    EXPECT_TRUE(activeToggle(1).isEnabled());
    click(activeToggle(1));
    EXPECT_EQ(container->getActivePluginIndex(), 1);
}

class PanelOption : public Panel, public ::testing::WithParamInterface<std::pair<int, const char*>>
{
};

TEST_P(PanelOption, ToggleSetsItsOptionBothWays)
{
    const auto [option, name] = GetParam();
    auto& toggle = get<juce::ToggleButton>(name);
    const auto initial = container->getOption(option);
    EXPECT_EQ(toggle.getToggleState(), initial);

    click(toggle);
    EXPECT_EQ(container->getOption(option), !initial);
    EXPECT_EQ(toggle.getToggleState(), !initial);

    click(toggle);
    EXPECT_EQ(container->getOption(option), initial);
    EXPECT_EQ(toggle.getToggleState(), initial);
}

INSTANTIATE_TEST_SUITE_P(Panel, PanelOption,
                         ::testing::Values(std::make_pair(1, "autoCrashRecoveryB"), std::make_pair(2, "autoSwitchB"),
                                           std::make_pair(3, "reloadCrashedPluginDataB")),
                         [](const auto& info) { return std::string(info.param.second); });

TEST_F(Panel, SeparateProcessesToggleFollowsAndSetsTheContainersChoice)
{
    auto& toggle = get<juce::ToggleButton>("separateProcessesB");
    EXPECT_FALSE(toggle.getToggleState()); // off by default
    click(toggle);
    EXPECT_TRUE(container->getRunInSeparateProcesses());
    container->setRunInSeparateProcesses(false);
    EXPECT_FALSE(toggle.getToggleState()) << "the panel follows a change made elsewhere";
}

TEST_F(Panel, HotStandbyToggleTurnsTheStandbyOnAndOffAndFollowsARestore)
{
    ASSERT_TRUE(container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {}));
    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
    auto& toggle = get<juce::ToggleButton>("hotStandbyB");
    EXPECT_FALSE(toggle.getToggleState()); // off by default
    EXPECT_EQ(container->getHotStandbySlot(), -1);

    click(toggle);
    EXPECT_TRUE(container->isHotStandby());
    EXPECT_EQ(container->getHotStandbySlot(), 1);
    EXPECT_TRUE(toggle.getToggleState());

    // A project saved with it off turns it off, and the panel shows so.
    const juce::String document = "<pluginData><main_plugin activePlugin=\"0\" optionB0=\"0\" optionB1=\"0\" "
                                  "optionB2=\"1\" optionB3=\"1\" instanceName=\"x\"/></pluginData>";
    container->setStateInformation(document.toRawUTF8(), (int) document.getNumBytesAsUTF8());
    EXPECT_FALSE(container->isHotStandby());
    EXPECT_FALSE(toggle.getToggleState());

    click(toggle);
    click(toggle);
    EXPECT_FALSE(container->isHotStandby());
    EXPECT_EQ(container->getHotStandbySlot(), -1);
}

TEST_F(Panel, WatchPeriodChooserSetsTheContainersPeriodAndTheWatchdogTicksAtTheSmallest)
{
    auto& chooser = get<juce::ComboBox>("watchPeriodB");
    EXPECT_EQ(chooser.getSelectedId(), 1000);
    ASSERT_NE(watchdog, nullptr);
    EXPECT_EQ(watchdog->getPeriodMs(), 1000);

    chooser.setSelectedId(50, juce::sendNotificationSync); // as a pick from the list does
    EXPECT_EQ(container->getWatchPeriodMs(), 50);
    EXPECT_EQ(watchdog->getPeriodMs(), 50);

    {
        // Another container at the default: the smallest still rules; once the fast one is gone,
        // the default again.
        auto other = makeContainer();
        EXPECT_EQ(watchdog->getPeriodMs(), 50);
        chooser.setSelectedId(250, juce::sendNotificationSync);
        EXPECT_EQ(watchdog->getPeriodMs(), 250);
        other->setWatchPeriodMs(100);
        EXPECT_EQ(watchdog->getPeriodMs(), 100);
    }
    EXPECT_EQ(watchdog->getPeriodMs(), 250);

    // A restored project's period is shown, even one the list does not have.
    const juce::String document = "<pluginData><main_plugin activePlugin=\"0\" optionB0=\"0\" optionB1=\"0\" "
                                  "optionB2=\"1\" optionB3=\"1\" instanceName=\"x\" watchPeriodMs=\"300\"/></pluginData>";
    container->setStateInformation(document.toRawUTF8(), (int) document.getNumBytesAsUTF8());
    EXPECT_EQ(container->getWatchPeriodMs(), 300);
    EXPECT_EQ(chooser.getSelectedId(), 300);
    EXPECT_EQ(chooser.getText(), "Crash watch 300 ms");

    container->setWatchPeriodMs(5); // brought up to the shortest allowed
    EXPECT_EQ(container->getWatchPeriodMs(), 50);
}

TEST_F(Panel, ConsoleToggleShowsAndHidesTheOneConsoleForEveryContainer)
{
    container->setOption(Processor::optionConsole, false);
    auto other = makeContainer();
    auto otherEditor = openEditor(*other);
    editor->refreshPanel();
    otherEditor->refreshPanel();
    auto& mine = get<juce::ToggleButton>("consoleB");
    auto& theirs = child<juce::ToggleButton>(panelOf(*otherEditor), "consoleB");
    ASSERT_FALSE(mine.getToggleState());
    ASSERT_FALSE(theirs.getToggleState());

    click(mine);
    ASSERT_NE(debugConsole->getWindow(), nullptr);
    EXPECT_TRUE(debugConsole->getWindow()->isVisible());
    EXPECT_TRUE(other->getOption(Processor::optionConsole));
    EXPECT_FALSE(theirs.getToggleState()) << "the other panel shows it at its next refresh";
    mouseEnters(panelOf(*otherEditor));
    EXPECT_TRUE(theirs.getToggleState());

    click(theirs);
    EXPECT_FALSE(debugConsole->getWindow() != nullptr && debugConsole->getWindow()->isVisible());
    EXPECT_FALSE(container->getOption(Processor::optionConsole));
    mouseEnters(panel());
    EXPECT_FALSE(mine.getToggleState());

    otherEditor.reset();
    other.reset();
}

class PanelInstanceName : public Panel, public ::testing::WithParamInterface<bool>
{
};

TEST_P(PanelInstanceName, NameTypedIntoTheFieldRenamesTheContainer)
{
    const bool byReturnKey = GetParam();
    container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {});
    mouseEnters(panel());
    auto& field = get<juce::Label>("instanceName");

    // On screen, as in a host: the inline editor takes the keyboard focus.
    editor->addToDesktop(0);
    editor->setVisible(true);

    field.showEditor(); // what a double-click does
    auto* typing = field.getCurrentTextEditor();
    ASSERT_NE(typing, nullptr);
    typing->setText("stage left", juce::dontSendNotification);
    if (byReturnKey)
        typing->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    else
        typing->giveAwayKeyboardFocus(); // leaving the field keeps what was typed

    EXPECT_TRUE(pumpUntil([&] { return container->getInstanceName() == "stage left"; })) << container->getInstanceName();
    EXPECT_EQ(field.getCurrentTextEditor(), nullptr);
    EXPECT_EQ(field.getText(), "stage left");
    const auto lines = console_probe::linesOf([&] { click(activeToggle(0)); });
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], "stage left:changing active plugin to index 0");

    // A name set by the processor is shown without being sent back.
    container->setInstanceName("restored name");
    editor->refreshPanel();
    EXPECT_EQ(field.getText(), "restored name");
    EXPECT_EQ(container->getInstanceName(), "restored name");
}

INSTANTIATE_TEST_SUITE_P(Panel, PanelInstanceName, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "ReturnKey" : "FocusLost"; });

/** A refresh of the panel that comes while the user types a name, and what asks for it. */
struct RefreshWhileTyping
{
    const char* name;
    std::function<void(Processor&, PluginContainerAudioProcessorEditor&)> refresh;
};

class PanelNameBeingTyped : public Panel, public ::testing::WithParamInterface<RefreshWhileTyping>
{
};

TEST_P(PanelNameBeingTyped, RefreshLeavesTheTypingAloneAndReturnStillTakesIt)
{
    container->loadPlugin(0, FixtureFiles::path("PlainSynth"), {});
    container->loadPlugin(1, FixtureFiles::path("CrashPlainSynth"), {});
    auto& field = get<juce::Label>("instanceName");
    auto& autoSwitch = get<juce::ToggleButton>("autoSwitchB");
    ASSERT_TRUE(autoSwitch.getToggleState());

    editor->addToDesktop(0);
    editor->setVisible(true);
    field.showEditor(); // what a double-click does
    auto* typing = field.getCurrentTextEditor();
    ASSERT_NE(typing, nullptr);
    typing->selectAll();
    typing->insertTextAtCaret("stage le");

    // The option changed meanwhile shows that the refresh really ran.
    container->setOption(Processor::optionAutoSwitch, false);
    GetParam().refresh(*container, *editor);
    ASSERT_TRUE(pumpUntil([&] { return !autoSwitch.getToggleState(); })) << "no refresh came";

    // A refresh that closed the field's editor has deleted it: nothing more to check then.
    ASSERT_EQ(field.getCurrentTextEditor(), typing) << "the typing was thrown away";
    EXPECT_EQ(typing->getText(), "stage le");
    EXPECT_EQ(container->getInstanceName(), "default instance");

    typing->insertTextAtCaret("ft");
    typing->keyPressed(juce::KeyPress(juce::KeyPress::returnKey));
    EXPECT_TRUE(pumpUntil([&] { return container->getInstanceName() == "stage left"; })) << container->getInstanceName();
    EXPECT_EQ(field.getCurrentTextEditor(), nullptr);
    EXPECT_EQ(field.getText(), "stage left");

    // Once nobody types, a refresh shows the processor's name again.
    container->setInstanceName("restored name");
    mouseEnters(panel());
    EXPECT_EQ(field.getText(), "restored name");
}

INSTANTIATE_TEST_SUITE_P(
    Panel, PanelNameBeingTyped,
    ::testing::Values(
        RefreshWhileTyping { "MouseEnter", [](Processor&, PluginContainerAudioProcessorEditor& e) { mouseEnters(panelOf(e)); } },
        RefreshWhileTyping { "ProcessorRefresh", [](Processor&, PluginContainerAudioProcessorEditor& e) { e.refreshPanel(); } },
        RefreshWhileTyping { "RefreshFromAnotherThread",
                             [](Processor&, PluginContainerAudioProcessorEditor& e) { std::thread([&] { e.refreshPanel(); }).join(); } },
        RefreshWhileTyping { "SlotSwitch", [](Processor& c, PluginContainerAudioProcessorEditor&) { c.setActivePlugin(1); } },
        RefreshWhileTyping { "WatchdogCrashMark",
                             [](Processor& c, PluginContainerAudioProcessorEditor&) {
                                 makeCrash(c, 1);
                                 tickWatchdog();
                             } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Panel, MouseEnteringThePanelBringsItInLineWithTheProcessor)
{
    // A load is shown at once (the container asks for it); what changes without a slot change
    // waits for the mouse.
    container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {});
    EXPECT_EQ(frame(1).getText(), title(1, "PlainSynth"));
    container->setInstanceName("renamed meanwhile");
    container->setOption(Processor::optionAutoSwitch, false);
    container->getPluginInstance(1)->setCurrentProgram(2);
    EXPECT_EQ(get<juce::Label>("instanceName").getText(), "default instance");
    EXPECT_TRUE(get<juce::ToggleButton>("autoSwitchB").getToggleState());
    EXPECT_EQ(chooser(1).getSelectedItemIndex(), 0);

    mouseEnters(panel());

    EXPECT_EQ(get<juce::Label>("instanceName").getText(), "renamed meanwhile");
    EXPECT_FALSE(get<juce::ToggleButton>("autoSwitchB").getToggleState());
    EXPECT_EQ(chooser(1).getSelectedItemIndex(), 2);
    EXPECT_TRUE(unloadButton(1).isEnabled());
}

//==================================================================================================
// The program choosers.

TEST_F(Panel, PickedProgramReachesThePluginOnce)
{
    auto& plugin = install(0, std::make_unique<ProgramInstrument>(juce::StringArray { "Init", "Lead", "Pad" }, 1));
    pumpMessages();
    EXPECT_EQ(itemsOf(chooser(0)), (juce::StringArray { "1=0:Init", "2=1:Lead", "3=2:Pad" }));
    EXPECT_EQ(chooser(0).getSelectedItemIndex(), 1);
    EXPECT_EQ(plugin.setCalls, 0) << "filling the list and selecting the current program change nothing";

    chooser(0).setSelectedItemIndex(2); // what a pick from the drop-down list does
    ASSERT_TRUE(pumpUntil([&] { return plugin.getCurrentProgram() == 2; }));
    pumpMessages(); // the second notification finds nothing to do
    EXPECT_EQ(plugin.setCalls, 1);
    EXPECT_EQ(plugin.lastSet, 2);
}

TEST_F(Panel, PickOfTheProgramThePluginHasCallsNothing)
{
    auto& plugin = install(1, std::make_unique<ProgramInstrument>(juce::StringArray { "A", "B", "C" }, 0));
    pumpMessages();

    plugin.switchProgramItself(2); // the panel still shows program 0
    chooser(1).setSelectedItemIndex(2);
    pumpMessages(100);
    EXPECT_EQ(plugin.setCalls, 0);

    plugin.switchProgramItself(1);
    editor->refreshPanel();
    EXPECT_EQ(chooser(1).getSelectedItemIndex(), 1);
}

TEST_F(Panel, ListClearedWithNotificationSendsNoProgramToThePlugin)
{
    auto& plugin = install(0, std::make_unique<ProgramInstrument>(juce::StringArray { "A", "B" }, 1));
    pumpMessages();

    // Nothing selected is no program: the plugin is not told to take program -1.
    chooser(0).clear(juce::sendNotificationAsync);
    pumpMessages(100);
    EXPECT_EQ(plugin.setCalls, 0);
    EXPECT_EQ(plugin.getCurrentProgram(), 1);
}

TEST_F(Panel, RenamedProgramShowsItsNewNameWhenSelected)
{
    auto& plugin = install(0, std::make_unique<ProgramInstrument>(juce::StringArray { "A", "B", "C" }, 0));
    plugin.renameProgram(2, "Strings");
    plugin.switchProgramItself(2);
    editor->refreshPanel();

    EXPECT_EQ(chooser(0).getSelectedItemIndex(), 2);
    EXPECT_EQ(chooser(0).getItemText(2), "2:Strings");
    EXPECT_EQ(chooser(0).getText(), "2:Strings");
}

TEST_F(Panel, PluginWithoutProgramsHasADisabledChooser)
{
    install(1, std::make_unique<ProgramInstrument>(juce::StringArray {}));
    EXPECT_FALSE(chooser(1).isEnabled());
    EXPECT_EQ(chooser(1).getNumItems(), 0);
    EXPECT_EQ(chooser(1).getTextWhenNoChoicesAvailable(), "(no programs)");
}

TEST_F(Panel, ChooserOfAPluginWithoutProgramsSaysSoAndAnEmptySlotsStaysBlank)
{
    // Slot 0 stays empty throughout: its chooser is the picture of an empty slot's.
    const auto emptySlotPicture = [&] { return paint(chooser(0)); };
    const auto samePicture = [](const juce::Image& a, const juce::Image& b) {
        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                    return false;
        return true;
    };

    struct Step
    {
        const char* what;
        std::function<void()> make;
        bool enabled;
        const char* shownWhenNothingSelected;
        bool looksLikeAnEmptySlot;
    };

    const Step steps[] = {
        { "empty slot", [] {}, false, "", true },
        { "plugin without programs", [&] { install(1, std::make_unique<ProgramInstrument>(juce::StringArray {})); }, false,
          "(no programs)", false },
        { "plugin with programs", [&] { install(1, std::make_unique<ProgramInstrument>(juce::StringArray { "A", "B" })); },
          true, "", false },
        { "plugin without programs again", [&] { install(1, std::make_unique<ProgramInstrument>(juce::StringArray {})); },
          false, "(no programs)", false },
        { "unloaded", [&] {
              container->unloadPlugin(1, false, true);
              editor->refreshPanel();
          },
          false, "", true },
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.what);
        step.make();
        EXPECT_EQ(chooser(1).isEnabled(), step.enabled);
        EXPECT_EQ(chooser(1).getTextWhenNothingSelected(), step.shownWhenNothingSelected);
        EXPECT_EQ(samePicture(paint(chooser(1)), emptySlotPicture()), step.looksLikeAnEmptySlot);
    }
}

TEST_F(Panel, ProgramPickedInTheListChangesTheRealPlugin)
{
    loadByClick(1, "PlainSynth");
    auto* plugin = container->getPluginInstance(1);
    ASSERT_EQ(plugin->getCurrentProgram(), 0);

    chooser(1).setSelectedItemIndex(2);
    ASSERT_TRUE(pumpUntil([&] { return plugin->getCurrentProgram() == 2; }));
    EXPECT_EQ(plugin->getProgramName(plugin->getCurrentProgram()), "Soft");
}

TEST_F(Panel, ChooserFollowsProgramsChangedInThePluginsOwnEditor)
{
    // PlainSynth's stand-ins for a user in its editor (see PlainSynth.h): each ends by asking the
    // host to renew its display.
    constexpr Vst2::VstInt32 editorProgram = CCONST('P', 'S', 'e', 'p');
    constexpr Vst2::VstInt32 editorBank = CCONST('P', 'S', 'e', 'b');
    loadByClick(0, "PlainSynth");
    loadByClick(1, "PlainSynth");
    auto* effect = vstEffectOf(*container->getPluginInstance(1));
    ASSERT_NE(effect, nullptr);
    const auto untouched = itemsOf(chooser(0));

    struct Step
    {
        const char* what;
        Vst2::VstInt32 opcode;
        int program;
        const char* bank;
        juce::StringArray items;
    };
    const std::vector<Step> steps {
        { "a program picked in the editor", editorProgram, 2, nullptr, { "1=0:Init", "2=1:Bright", "3=2:Soft" } },
        { "a bank loaded in the editor", editorBank, 1, "Strings", { "1=0:Strings 1", "2=1:Strings 2", "3=2:Strings 3" } },
        { "another bank, the first program", editorBank, 0, "Organ", { "1=0:Organ 1", "2=1:Organ 2", "3=2:Organ 3" } },
    };

    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.what);
        ASSERT_EQ(effect->dispatcher(effect, 50 /* effVendorSpecific */, step.opcode, step.program,
                                     const_cast<char*>(step.bank), 0.0f),
                  1);
        EXPECT_TRUE(pumpUntil([&] { return chooser(1).getSelectedItemIndex() == step.program && itemsOf(chooser(1)) == step.items; }))
            << itemsOf(chooser(1)).joinIntoString(", ") << " selected " << chooser(1).getSelectedItemIndex();
        EXPECT_EQ(chooser(1).getText(), step.items[step.program].fromFirstOccurrenceOf("=", false, false));
        EXPECT_EQ(itemsOf(chooser(0)), untouched) << "the other slot's chooser stays as it was";
    }

    // A pick in the renewed list still reaches the plugin.
    chooser(1).setSelectedItemIndex(2);
    EXPECT_TRUE(pumpUntil([&] { return container->getPluginInstance(1)->getCurrentProgram() == 2; }));
    EXPECT_EQ(container->getPluginInstance(1)->getProgramName(2), "Organ 3");
}

TEST_F(Panel, ChooserOfAPluginInAHelperProcessListsPicksAndFollowsTheHelpersPrograms)
{
#if JUCE_WINDOWS
    _putenv_s("PENDULUM_SLOT_HOST", PENDULUM_SLOT_HOST_PATH);
#else
    setenv("PENDULUM_SLOT_HOST", PENDULUM_SLOT_HOST_PATH, 1);
#endif
    constexpr Vst2::VstInt32 editorProgram = CCONST('P', 'S', 'e', 'p');
    container->setRunInSeparateProcesses(true);
    loadByClick(1, "PlainSynth");
    auto* isolated = dynamic_cast<pendulum::isolation::IsolatedPluginInstance*>(container->getPluginInstance(1));
    ASSERT_NE(isolated, nullptr);

    // The list is the helper's plugin's, and a pick reaches that plugin.
    EXPECT_EQ(itemsOf(chooser(1)), (juce::StringArray { "1=0:Init", "2=1:Bright", "3=2:Soft" }));
    chooser(1).setSelectedItemIndex(2);
    ASSERT_TRUE(pumpUntil([&] { return isolated->getCurrentProgram() == 2; }));
    EXPECT_EQ(isolated->dispatch(Vst2::effGetProgram, 0, 0, 0.0f).result, 2) << "asked of the plugin itself";

    // A program picked in the plugin's own editor, in the helper: the chooser follows.
    ASSERT_EQ(isolated->dispatch(Vst2::effVendorSpecific, editorProgram, 1, 0.0f).result, 1);
    EXPECT_TRUE(pumpUntil([&] { return chooser(1).getSelectedItemIndex() == 1; }))
        << "selected " << chooser(1).getSelectedItemIndex();
    EXPECT_EQ(chooser(1).getText(), "1:Bright");
}

//==================================================================================================
// Requests from the processor.

TEST_F(Panel, RefreshFromAnotherThreadIsDoneOnTheMessageThread)
{
    container->setInstanceName("named by the host");
    std::thread host([&] { editor->refreshPanel(); });
    host.join();

    auto& field = get<juce::Label>("instanceName");
    EXPECT_EQ(field.getText(), "default instance") << "not touched from the other thread";
    EXPECT_TRUE(pumpUntil([&] { return field.getText() == "named by the host"; }));
}

TEST_F(Panel, RefreshFromAnotherThreadForAnEditorClosedMeanwhileIsDropped)
{
    std::thread host([&] {
        editor->refreshPanel();
        editor->refreshProgramChooser(0);
    });
    host.join();
    editor.reset();

    // Any handed-over refresh now runs against nothing; with a sanitizer, a touch of the freed
    // panel would fail here.
    pumpMessages(100);
    EXPECT_EQ(container->getActiveEditor(), nullptr);
    auto reopened = openEditor(*container);
    EXPECT_EQ(child<juce::Label>(panelOf(*reopened), "instanceName").getText(), "default instance");
}

/** A change of a slot made through the container's own operations, not through the panel. */
struct SlotChange
{
    const char* name;
    std::function<void(Processor&)> before;
    std::function<void(Processor&)> change;
    const char* slot1Frame; // the plugin slot 1's frame names afterwards
    bool slot1CanBeActivated;
    int activeSlot;
};

class PanelFollowsTheContainer : public Panel, public ::testing::WithParamInterface<SlotChange>
{
};

TEST_P(PanelFollowsTheContainer, EveryChangeOfASlotIsShownAtOnce)
{
    const auto& change = GetParam();
    change.before(*container);
    mouseEnters(panel()); // in line before the change

    change.change(*container);

    // No mouse, no click, no message loop: the container asked for the refresh itself.
    for (int slot = 0; slot < 2; ++slot)
    {
        SCOPED_TRACE(slot);
        const bool loaded = container->getPluginInstance(slot) != nullptr;
        EXPECT_EQ(frame(slot).getText(), title(slot, loaded ? container->getLoadedPluginName(slot) : "empty"));
        EXPECT_EQ(editButton(slot).isEnabled(), loaded);
        EXPECT_EQ(unloadButton(slot).isEnabled(), loaded);
        EXPECT_EQ(activeToggle(slot).isEnabled(), loaded && !container->isPluginCrashed(slot));
        EXPECT_EQ(activeToggle(slot).getToggleState(), container->getActivePluginIndex() == slot);
        EXPECT_EQ(chooser(slot).getNumItems(), loaded ? container->getPluginInstance(slot)->getNumPrograms() : 0);
    }

    EXPECT_EQ(frame(1).getText(), title(1, change.slot1Frame));
    EXPECT_EQ(activeToggle(1).isEnabled(), change.slot1CanBeActivated);
    EXPECT_EQ(container->getActivePluginIndex(), change.activeSlot);
}

const auto loadInto = [](int slot, const char* fixture) {
    return [slot, fixture](Processor& c) { ASSERT_TRUE(c.loadPlugin(slot, FixtureFiles::path(fixture), {})); };
};

const auto nothing = [](Processor&) {};

INSTANTIATE_TEST_SUITE_P(
    Panel, PanelFollowsTheContainer,
    ::testing::Values(
        SlotChange { "Load", nothing, loadInto(1, "PlainSynth"), "PlainSynth", true, 0 },
        SlotChange { "Replace", loadInto(1, "PlainSynth"), loadInto(1, "MonoSynth"), "MonoSynth", true, 0 },
        SlotChange { "Unload", loadInto(1, "PlainSynth"), [](Processor& c) { c.unloadPlugin(1, false, true); }, "empty",
                     false, 0 },
        SlotChange { "Switch",
                     [](Processor& c) {
                         loadInto(0, "PlainSynth")(c);
                         loadInto(1, "MonoSynth")(c);
                     },
                     [](Processor& c) { ASSERT_TRUE(c.setActivePlugin(1)); }, "MonoSynth", true, 1 },
        SlotChange { "CrashMark", loadInto(1, "CrashPlainSynth"),
                     [](Processor& c) {
                         makeCrash(c, 1);
                         ASSERT_TRUE(c.probePluginCrash(1));
                     },
                     "CrashPlainSynth", false, 0 },
        SlotChange { "Recovery",
                     [](Processor& c) {
                         loadInto(1, "CrashPlainSynth")(c);
                         makeCrash(c, 1);
                         ASSERT_TRUE(c.probePluginCrash(1));
                     },
                     [](Processor& c) { c.recoverPlugin(1); }, "CrashPlainSynth", true, 0 },
        SlotChange { "Restore", nothing,
                     [](Processor& c) {
                         Processor source;
                         ASSERT_TRUE(source.loadPlugin(1, FixtureFiles::path("PlainSynth"), {}));
                         ASSERT_TRUE(source.setActivePlugin(1));
                         juce::MemoryBlock saved;
                         source.getStateInformation(saved);
                         c.setStateInformation(saved.getData(), (int) saved.getSize());
                     },
                     "PlainSynth", true, 1 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Panel, ReplacingAPluginNeverShowsTheSlotEmptyOnTheWay)
{
    container->loadPlugin(1, FixtureFiles::path("PlainSynth"), {});
    ASSERT_TRUE(activeToggle(1).isEnabled());

    struct EnablementCounter : juce::ComponentListener
    {
        void componentEnablementChanged(juce::Component&) override { ++changes; }
        int changes = 0;
    } counter;
    for (juce::Component* control : { (juce::Component*) &editButton(1), (juce::Component*) &unloadButton(1),
                                      (juce::Component*) &activeToggle(1) })
        control->addComponentListener(&counter);

    ASSERT_TRUE(container->loadPlugin(1, FixtureFiles::path("MonoSynth"), {}));

    for (juce::Component* control : { (juce::Component*) &editButton(1), (juce::Component*) &unloadButton(1),
                                      (juce::Component*) &activeToggle(1) })
        control->removeComponentListener(&counter);

    EXPECT_EQ(counter.changes, 0) << "the controls were switched off and on again halfway through the load";
    EXPECT_EQ(frame(1).getText(), title(1, "MonoSynth"));

    // MonoSynth has no programs: a real plugin's chooser says so.
    ASSERT_EQ(container->getPluginInstance(1)->getNumPrograms(), 0);
    EXPECT_FALSE(chooser(1).isEnabled());
    EXPECT_EQ(chooser(1).getTextWhenNothingSelected(), "(no programs)");
}

//==================================================================================================
// Pictures of the panel for the documentation: written only when PENDULUM_SCREENSHOT_DIR is set
// (scripts/screenshots.sh).

TEST_F(Panel, Screenshots)
{
    container->setOption(Processor::optionConsole, false);
    container->setInstanceName("live set, keys");
    editor->refreshPanel();
    paint(*editor);
    EXPECT_EQ(status(0).getText(), "Status: empty");
    saveScreenshotIfAsked(*editor, "panel-empty");

    loadByClick(0, "CrashPlainSynth");
    loadByClick(1, "PlainSynth");
    chooser(1).setSelectedItemIndex(1);
    ASSERT_TRUE(pumpUntil([&] { return container->getPluginInstance(1)->getCurrentProgram() == 1; }));
    paint(*editor);
    EXPECT_EQ(status(0).getText(), "Status: OK");
    EXPECT_EQ(status(1).getText(), "Status: OK");
    saveScreenshotIfAsked(*editor, "panel-loaded");

    makeCrash(*container, 0);
    tickWatchdog(); // slot 0 marked, the container switches to slot 1
    paint(*editor);
    EXPECT_EQ(status(0).getText(), "Status: CRASHED");
    EXPECT_EQ(container->getActivePluginIndex(), 1);
    EXPECT_TRUE(activeToggle(1).getToggleState());
    expectLastEvent("slot 1 crashed; playing slot 2");
    saveScreenshotIfAsked(*editor, "panel-crashed");

    // The same at 200 %, as a host on a high-DPI monitor shows it: the editor scaled by the host's
    // factor inside the host's component.
    juce::Component host;
    host.addAndMakeVisible(*editor);
    editor->setScaleFactor(2.0f);
    host.setSize(editor->getBoundsInParent().getWidth(), editor->getBoundsInParent().getHeight());
    EXPECT_EQ(host.getWidth(), 736);
    EXPECT_EQ(host.getHeight(), 768);
    paint(host);
    saveScreenshotIfAsked(host, "panel-crashed-200");
    host.removeChildComponent(editor.get());
}

TEST_F(Panel, KeepsItsLayoutAtTheHostsDisplayScale)
{
    loadByClick(0, "PlainSynth");
    juce::Component host; // what the wrapper puts the editor in
    host.addAndMakeVisible(*editor);

    struct Control
    {
        juce::Component* component;
        juce::Rectangle<int> at100; // its place on the panel at 100 %
    };
    const std::vector<Control> controls {
        { &editButton(0), { 16, 148, 150, 24 } },
        { &editButton(1), { 200, 148, 150, 24 } },
        { &chooser(0), { 16, 188, 150, 24 } },
        { &status(0), status(0).getBounds() },
        { &get<juce::Label>("lastEvent"), get<juce::Label>("lastEvent").getBounds() },
    };

    for (const float scale : { 1.0f, 1.5f, 2.0f, 1.0f })
    {
        SCOPED_TRACE(scale);
        editor->setScaleFactor(scale);
        const auto size = editor->getBoundsInParent();
        EXPECT_EQ(size.getWidth(), juce::roundToInt(368 * scale));
        EXPECT_EQ(size.getHeight(), juce::roundToInt(384 * scale));
        EXPECT_EQ(editor->getWidth(), 368) << "the panel's own layout is the 100 % one";
        EXPECT_EQ(editor->getHeight(), 384);

        for (const auto& control : controls)
        {
            SCOPED_TRACE(control.component->getName());
            EXPECT_EQ(host.getLocalArea(control.component, control.component->getLocalBounds()),
                      (control.at100.toFloat() * scale).getSmallestIntegerContainer());
        }

        // Painted at that scale, the picture has the scaled size and the panel's fill.
        host.setSize(size.getWidth(), size.getHeight());
        const auto picture = host.createComponentSnapshot(host.getLocalBounds());
        EXPECT_EQ(picture.getWidth(), size.getWidth());
        EXPECT_EQ(picture.getPixelAt(juce::roundToInt(4 * scale), juce::roundToInt(51 * scale)), juce::Colour(GUI::backgroundArgb));
    }

    host.removeChildComponent(editor.get());
}
} // namespace
