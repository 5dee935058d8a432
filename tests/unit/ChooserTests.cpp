// The blocking option and file choosers, driven for real (under Xvfb). A call under test blocks in
// its own modal loop, so each test schedules a ModalDriver first, which works the dialog from
// inside that loop.
#include "hosting/ComboBoxChooseComponent.h"
#include "hosting/ModalChoosers.h"
#include "hosting/ModalWindowWithComboBoxOptionChooser.h"
#include "support/ModalDriver.h"
#include "support/Screenshot.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace
{
const juce::Colour lightGrey(0xFFD3D3D3);

int countDesktopWindowsOfChooser()
{
    int count = 0;

    for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
    {
        auto* window = juce::Desktop::getInstance().getComponent(i);

        if (dynamic_cast<ModalWindowWithComboBoxOptionChooser*>(window) != nullptr ||
            findDescendant<comboBoxChooseComponent>(*window) != nullptr)
            ++count;
    }

    return count;
}


//==============================================================================
TEST(ChooserContent, BuildsTheFixedLayoutWithItsTextsAndListsOptionsFromIdOne)
{
    comboBoxChooseComponent content;

    EXPECT_EQ(content.getWidth(), 500);
    EXPECT_EQ(content.getHeight(), 200);

    ASSERT_EQ(content.getNumChildComponents(), 3);
    EXPECT_EQ(content.getChildComponent(0), &content.getOptionsGroup());
    EXPECT_EQ(content.getChildComponent(1), &content.getOptionsComboBox());
    EXPECT_EQ(content.getChildComponent(2), &content.getOkButton());

    auto& group = content.getOptionsGroup();
    auto& combo = content.getOptionsComboBox();
    auto& ok = content.getOkButton();
    EXPECT_EQ(group.getName(), "new group");
    EXPECT_EQ(group.getText(), "group");
    EXPECT_EQ(group.getBounds(), juce::Rectangle<int>(0, 0, 500, 200));
    EXPECT_EQ(combo.getName(), "new combo box");
    EXPECT_FALSE(combo.isTextEditable());
    EXPECT_EQ(combo.getJustificationType().getFlags(), juce::Justification::centredLeft);
    EXPECT_EQ(combo.getTextWhenNothingSelected(), "");
    EXPECT_EQ(combo.getTextWhenNoChoicesAvailable(), "(no choices)");
    EXPECT_EQ(combo.getBounds(), juce::Rectangle<int>(16, 48, 464, 24));
    EXPECT_EQ(ok.getName(), "new button");
    EXPECT_EQ(ok.getButtonText(), "OK");
    EXPECT_EQ(ok.getTooltip(), "");
    EXPECT_EQ(ok.getBounds(), juce::Rectangle<int>(168, 112, 150, 24));
    for (auto* child : content.getChildren())
        EXPECT_TRUE(child->isVisible()) << child->getName();

    // The positions do not follow the component's size.
    content.setSize(300, 100);
    EXPECT_EQ(combo.getBounds(), juce::Rectangle<int>(16, 48, 464, 24));
    EXPECT_EQ(ok.getBounds(), juce::Rectangle<int>(168, 112, 150, 24));
    content.setSize(500, 200);

    struct ComboListener : juce::ComboBox::Listener
    {
        void comboBoxChanged(juce::ComboBox*) override { ++changes; }
        int changes = 0;
    } listener;
    combo.addListener(&listener);

    content.setOptions({"Alpha", "Beta", "Alpha"});
    ASSERT_EQ(combo.getNumItems(), 3);
    const juce::StringArray texts{"Alpha", "Beta", "Alpha"};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(combo.getItemId(i), i + 1);
        EXPECT_EQ(combo.getItemText(i), texts[i]);
    }
    EXPECT_EQ(combo.getSelectedId(), 1);
    EXPECT_EQ(combo.getText(), "Alpha");

    comboBoxChooseComponent empty;
    empty.setOptions({});
    EXPECT_EQ(empty.getOptionsComboBox().getNumItems(), 0);
    EXPECT_EQ(empty.getOptionsComboBox().getSelectedId(), 0);

    // Pressing OK outside a dialog window has nobody to tell and does nothing.
    content.buttonClicked(&ok);

    juce::MessageManager::getInstance()->runDispatchLoopUntil(50);
    EXPECT_EQ(listener.changes, 0); // the first option is selected silently
    combo.removeListener(&listener);
}

TEST(ChooserContent, PaintsOpaqueWhiteBehindItsChildren)
{
    comboBoxChooseComponent content;
    const auto snapshot = content.createComponentSnapshot(content.getLocalBounds());

    // Inside the group's outline, away from the combo box and the button.
    for (const auto point : {juce::Point<int>(100, 150), juce::Point<int>(450, 100), juce::Point<int>(30, 30)})
        EXPECT_EQ(snapshot.getPixelAt(point.x, point.y).getARGB(), 0xFFFFFFFFu) << point.toString();
}

TEST(ChooserOwnerWindow, IsALightGreyNativeDialogOnTheDesktopThatItsCloseButtonTakesOff)
{
    ModalWindowWithComboBoxOptionChooser window("Please choose a plugin");

    EXPECT_EQ(window.getName(), "Please choose a plugin");
    EXPECT_EQ(window.getBackgroundColour(), lightGrey);
    EXPECT_TRUE(window.isUsingNativeTitleBar());
    EXPECT_TRUE(window.isOnDesktop());
    EXPECT_FALSE(window.isVisible());

    // Escape is the close button's shortcut once the window has been laid out.
    window.setContentOwned(new comboBoxChooseComponent(), true);
    window.setUsingNativeTitleBar(false);
    auto* close = window.getCloseButton();
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->isRegisteredForShortcut(juce::KeyPress(juce::KeyPress::escapeKey)));
    window.setUsingNativeTitleBar(true);

    window.closeButtonPressed();
    EXPECT_FALSE(window.isOnDesktop());
}

//==============================================================================
enum class Finish
{
    okButton,
    closeButton
};

// Test parameters outlive JUCE's leak detectors, so they hold no JUCE containers.
using Texts = std::vector<const char*>;

juce::StringArray toStringArray(const Texts& texts)
{
    juce::StringArray result;
    for (const auto* text : texts)
        result.add(text);
    return result;
}

struct OptionCase
{
    const char* what;
    Texts optionTexts;
    int idToSelect; // 0 keeps the default selection
    Finish finish;
    const char* expected;
};

void PrintTo(const OptionCase& c, std::ostream* os)
{
    *os << c.what;
}

class ChooserOptionList : public ::testing::TestWithParam<OptionCase>
{
};

TEST_P(ChooserOptionList, OpensWithTheFirstOptionSelectedAndReturnsThePickedText)
{
    const auto& c = GetParam();
    const auto options = toStringArray(c.optionTexts);
    const juce::String title("Please choose a plugin");
    const auto windowsBefore = juce::Desktop::getInstance().getNumComponents();
    juce::Component::SafePointer<juce::Component> contentSeen;

    ModalDriver driver({
        [&](juce::Component& modal)
        {
            auto* dialog = dynamic_cast<juce::DialogWindow*>(&modal);
            auto* content = findDescendant<comboBoxChooseComponent>(modal);
            if (dialog == nullptr || content == nullptr)
                return false;

            contentSeen = content;
            EXPECT_EQ(dialog->getName(), title);
            EXPECT_EQ(dialog->getBackgroundColour(), lightGrey);
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_FALSE(dialog->isResizable());
            EXPECT_NE(dialog->getCloseButton(), nullptr);
            EXPECT_EQ(content->getParentComponent(), dialog);
            EXPECT_EQ(content->getWidth(), 500);
            EXPECT_EQ(content->getHeight(), 200);

            const auto screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
            EXPECT_NEAR(dialog->getBounds().getCentreX(), screen.getCentreX(), 2);
            EXPECT_NEAR(dialog->getBounds().getCentreY(), screen.getCentreY(), 2);

            // The owner window holds on to the content but stays out of sight.
            for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
                if (auto* owner = dynamic_cast<ModalWindowWithComboBoxOptionChooser*>(
                        juce::Desktop::getInstance().getComponent(i)))
                    EXPECT_FALSE(owner->isVisible());

            auto& combo = content->getOptionsComboBox();
            EXPECT_EQ(combo.getNumItems(), options.size());
            for (int i = 0; i < options.size(); ++i)
                EXPECT_EQ(combo.getItemText(i), options[i]);
            EXPECT_EQ(combo.getSelectedId(), options.isEmpty() ? 0 : 1);
            EXPECT_EQ(combo.getText(), options.isEmpty() ? juce::String() : options[0]);
            EXPECT_EQ(combo.getTextWhenNoChoicesAvailable(), "(no choices)");

            if (c.idToSelect != 0)
                combo.setSelectedId(c.idToSelect, juce::sendNotificationSync);

            if (c.finish == Finish::okButton)
                content->getOkButton().triggerClick();
            else
                dialog->getCloseButton()->triggerClick();

            return true;
        },
    });

    const auto result = chooseOptionFromList(title, options);

    EXPECT_FALSE(driver.timedOut());
    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_EQ(result, juce::String(c.expected));

    // Both windows and the content are gone.
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    EXPECT_TRUE(contentSeen == nullptr);
    EXPECT_EQ(countDesktopWindowsOfChooser(), 0);
    EXPECT_EQ(juce::Desktop::getInstance().getNumComponents(), windowsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Chooser, ChooserOptionList,
    ::testing::Values(OptionCase{"PickedWithOk", {"Alpha", "Beta", "Gamma"}, 3, Finish::okButton, "Gamma"},
                      OptionCase{"DefaultWithOk", {"Alpha", "Beta", "Gamma"}, 0, Finish::okButton, "Alpha"},
                      OptionCase{"ClosedPicksTheFirst", {"Alpha", "Beta"}, 0, Finish::closeButton, "Alpha"},
                      OptionCase{
                          "ClosedIgnoresTheSelection", {"Alpha", "Beta", "Gamma"}, 2, Finish::closeButton, "Alpha"},
                      OptionCase{"EmptyWithOk", {}, 0, Finish::okButton, ""},
                      OptionCase{"EmptyClosed", {}, 0, Finish::closeButton, ""},
                      OptionCase{"LaterDuplicate", {"Same", "Other", "Same"}, 3, Finish::okButton, "Same"},
                      OptionCase{"EarlierDuplicate", {"Same", "Other", "Same"}, 1, Finish::okButton, "Same"},
                      OptionCase{"BetweenDuplicates", {"Same", "Other", "Same"}, 2, Finish::okButton, "Other"}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.what); });

TEST(ChooserOptionListKeys, EscapeLeavesTheChooserOpen)
{
    juce::Component::SafePointer<juce::Component> dialogSeen;

    ModalDriver driver({
        [&](juce::Component& modal)
        {
            if (dynamic_cast<juce::DialogWindow*>(&modal) == nullptr ||
                findDescendant<comboBoxChooseComponent>(modal) == nullptr)
                return false;

            dialogSeen = &modal;
            saveScreenshotIfAsked(modal, "chooser");
            auto* peer = modal.getPeer();
            EXPECT_NE(peer, nullptr);
            if (peer != nullptr)
                peer->handleKeyPress(juce::KeyPress(juce::KeyPress::escapeKey));
            return true;
        },
        [](juce::Component&) { return true; }, // one tick for anything Escape may have posted
        [&](juce::Component& modal)
        {
            EXPECT_EQ(&modal, dialogSeen.getComponent());
            EXPECT_TRUE(modal.isVisible());
            auto* content = findDescendant<comboBoxChooseComponent>(modal);
            if (content == nullptr)
            {
                ADD_FAILURE() << "the chooser's content went away";
                modal.exitModalState(0);
                return true;
            }
            content->getOptionsComboBox().setSelectedId(2, juce::sendNotificationSync);
            content->getOkButton().triggerClick();
            return true;
        },
    });

    EXPECT_EQ(chooseOptionFromList("Choose", {"Alpha", "Beta"}), "Beta");
    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_FALSE(driver.timedOut());
}

//==============================================================================
/** A directory of candidate files, deleted with the object. */
struct PluginFolder
{
    PluginFolder()
    {
        EXPECT_TRUE(folder.createDirectory().wasOk());
        for (const auto* name : {"alpha.dll", "BETA.DLL", "gamma.Dll", "notes.txt"})
            EXPECT_TRUE(folder.getChildFile(name).replaceWithText("x"));
    }

    ~PluginFolder() { folder.deleteRecursively(); }

    const juce::File folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                  .getChildFile("pendulum-chooser-" + juce::Uuid().toDashedString());
};

struct FileCase
{
    const char* what;
    const char* patterns;
    Texts listed;     // the file names the browser offers, in case-insensitive order
    const char* pick; // highlighted before finishing; empty for none
    bool confirm;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.what;
}

class ChooserOpenFile : public ::testing::TestWithParam<FileCase>
{
};

/** Steps that wait for the browser, check what it lists, highlight a file and press a button. */
std::vector<ModalDriver::Step> driveFileDialog(const FileCase& c, const juce::File& folder, juce::String& rootSeen)
{
    return {
        [&c, folder, &rootSeen](juce::Component& modal)
        {
            auto* dialog = dynamic_cast<juce::FileChooserDialogBox*>(&modal);
            auto* browser = findDescendant<juce::FileBrowserComponent>(modal);
            auto* list = findDescendant<juce::FileListComponent>(modal);
            if (dialog == nullptr || browser == nullptr || list == nullptr ||
                list->directoryContentsList.isStillLoading())
                return false;

            EXPECT_EQ(dialog->getName(), "Open file");
            EXPECT_EQ(dialog->getBackgroundColour(), lightGrey);
            rootSeen = browser->getRoot().getFullPathName();

            juce::StringArray names;
            for (int i = 0; i < list->directoryContentsList.getNumFiles(); ++i)
                names.add(list->directoryContentsList.getFile(i).getFileName());
            names.sort(true);
            EXPECT_EQ(names.joinIntoString("|"), toStringArray(c.listed).joinIntoString("|"));

            if (juce::String(c.pick).isNotEmpty())
            {
                list->setSelectedFile(folder.getChildFile(c.pick));
                EXPECT_EQ(browser->getHighlightedFile(), folder.getChildFile(c.pick));
            }

            clickOrDismiss(modal, c.confirm ? "Open" : "Cancel");
            return true;
        },
    };
}

TEST_P(ChooserOpenFile, ListsTheMatchingFilesAndReturnsTheHighlightedOneWhenConfirmed)
{
    const auto& c = GetParam();
    PluginFolder plugins;
    juce::String rootSeen;

    ModalDriver driver(driveFileDialog(c, plugins.folder, rootSeen));
    const auto result =
        showOpenFileDialog(plugins.folder.getFullPathName(), c.patterns, "dll files", "Choose a VST 2.x plugin");

    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_FALSE(driver.timedOut());
    EXPECT_EQ(rootSeen, plugins.folder.getFullPathName());
    EXPECT_EQ(result, c.confirm ? plugins.folder.getChildFile(c.pick).getFullPathName() : juce::String());
}

INSTANTIATE_TEST_SUITE_P(
    Chooser, ChooserOpenFile,
    ::testing::Values(
        // The wildcards match any letter case.
        FileCase{"PicksLowerCase", "*.dll;*.DLL", {"alpha.dll", "BETA.DLL", "gamma.Dll"}, "alpha.dll", true},
        FileCase{"PicksUpperCase", "*.dll;*.DLL", {"alpha.dll", "BETA.DLL", "gamma.Dll"}, "BETA.DLL", true},
        FileCase{"CommaSeparatedPatterns",
                 "*.txt,*.DLL",
                 {"alpha.dll", "BETA.DLL", "gamma.Dll", "notes.txt"},
                 "notes.txt",
                 true},
        FileCase{"Cancelled", "*.dll;*.DLL", {"alpha.dll", "BETA.DLL", "gamma.Dll"}, "alpha.dll", false}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.what); });

TEST(ChooserOpenFileStart, EmptyInitialPathStartsInTheCurrentDirectory)
{
    PluginFolder plugins;
    const auto previous = juce::File::getCurrentWorkingDirectory();
    ASSERT_TRUE(plugins.folder.setAsCurrentWorkingDirectory());

    const FileCase cancel{"", "*.dll;*.DLL", {"alpha.dll", "BETA.DLL", "gamma.Dll"}, "", false};
    juce::String rootSeen;
    ModalDriver driver(driveFileDialog(cancel, plugins.folder, rootSeen));
    const auto result = showOpenFileDialog({}, cancel.patterns, "dll files", "Choose a VST 2.x plugin");
    previous.setAsCurrentWorkingDirectory();

    EXPECT_TRUE(driver.ranAllSteps());
    EXPECT_EQ(rootSeen, plugins.folder.getFullPathName());
    EXPECT_EQ(result, "");
}
} // namespace
