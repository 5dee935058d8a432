// The hosted plugins' own editors in native windows of the container's: opened, idled, raised,
// closed by the user and by the container, with the editor fixtures recording what they are asked.
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/MyHostAudioProcessorEditor.h"
#include "hosting/HostedEditorWindow.h"
#include "support/ContainerTestAccess.h"
#include "support/FixtureFiles.h"
#include "support/NativeWindowProbe.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{
#if defined(_WIN32)
constexpr const char* platformName = "windows";
#else
constexpr const char* platformName = "linux";
#endif

// Stands for the client size of a window sized to its frame alone (see frameOnlyClientSize).
constexpr int frameOnly = -1;

constexpr int effEditGetRect = 13, effEditOpen = 14, effEditClose = 15, effEditIdle = 19, effEditTop = 20,
              effEditSleep = 21;

void setEnvironment(const char* name, const std::string& value)
{
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (!done())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        pump(20);
    }
    return true;
}

struct EditorEvent
{
    std::string plugin;
    std::string event; // an opcode number, or "destroyed"
    long long ms = 0;
    std::string detail;
};

/** The editor fixtures' record of what they were asked, in a file of the test's own. */
class EditorLog
{
public:
    EditorLog()
    {
        file = juce::File::getSpecialLocation(juce::File::tempDirectory)
                   .getChildFile("pendulum-tests")
                   .getNonexistentChildFile("editor-log", ".txt", false);
        file.getParentDirectory().createDirectory();
        setEnvironment("PENDULUM_EDITOR_LOG", file.getFullPathName().toStdString());
    }

    ~EditorLog()
    {
        setEnvironment("PENDULUM_EDITOR_LOG", "");
        file.deleteFile();
    }

    std::vector<EditorEvent> events(const std::string& plugin) const
    {
        std::vector<EditorEvent> result;
        juce::StringArray lines;
        file.readLines(lines);

        for (const auto& line : lines)
        {
            const auto fields = juce::StringArray::fromTokens(line, " ", "");
            if (fields.size() < 3 || fields[0].toStdString() != plugin)
                continue;
            result.push_back({ fields[0].toStdString(), fields[1].toStdString(), fields[2].getLargeIntValue(),
                               fields.size() > 3 ? fields[3].toStdString() : std::string() });
        }

        return result;
    }

    /** The plugin's events from index `from` on, idle calls left out. */
    std::vector<std::string> sequence(const std::string& plugin, size_t from = 0) const
    {
        std::vector<std::string> result;
        const auto all = events(plugin);
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].event != std::to_string(effEditIdle))
                result.push_back(all[i].event);
        return result;
    }

    size_t size(const std::string& plugin) const { return events(plugin).size(); }

    long idleCount(const std::string& plugin, size_t from) const
    {
        const auto all = events(plugin);
        long count = 0;
        for (size_t i = from; i < all.size(); ++i)
            count += all[i].event == std::to_string(effEditIdle) ? 1 : 0;
        return count;
    }

private:
    juce::File file;
};

std::vector<std::string> opcodes(std::initializer_list<int> numbers)
{
    std::vector<std::string> result;
    for (auto number : numbers)
        result.push_back(std::to_string(number));
    return result;
}

std::vector<std::string> closeSequence()
{
    auto result = opcodes({ effEditSleep, effEditClose });
    result.push_back("destroyed");
    return result;
}

// What the plugin loader writes when a slot's loader goes, and when the last one in the process goes.
const std::string loaderGone = "\n~VSTP2PluginLoader()\ndeallocating plugin_instance";
const std::string lastLoaderGone = loaderGone + "\ndeallocating VSTPluginFormat";

juce::File artifactFolder()
{
    return juce::File(PENDULUM_ARTIFACT_DIR);
}

class EditorWindows : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(native_window::connect());
        container = std::make_unique<PluginContainerAudioProcessor>();
        container->setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
        container->prepareToPlay(44100.0, 256);
    }

    void TearDown() override { container.reset(); }

    void load(int slot, const char* fixture)
    {
        ASSERT_TRUE(container->loadPlugin(slot, FixtureFiles::path(fixture), {}));
    }

    eee34ty0w9845rgymsiufdgomiugdfi* windowOf(int slot) const
    {
        auto* holder = PluginContainerTestAccess::editorHolder(*container, slot);
        return holder != nullptr ? holder->getEditorWindow() : nullptr;
    }

    void* handleOf(int slot) const
    {
        auto* window = windowOf(slot);
        return window != nullptr ? window->getWindowHandle() : nullptr;
    }

    std::string openAndCapture(int slot)
    {
        StdoutCapture out;
        container->openEditor(slot);
        return out.take();
    }

    EditorLog log;
    DialogScript script;
    std::unique_ptr<PluginContainerAudioProcessor> container;
};

struct RectCase
{
    const char* fixture;
    std::vector<std::string> openSequence;
    int clientWidth;
    int clientHeight;
    bool drawsView;
};

// The case prints as its name, which keeps the registered test names readable and stable.
void PrintTo(const RectCase& c, std::ostream* os)
{
    *os << c.fixture;
}

class EditorRectVariants : public EditorWindows, public ::testing::WithParamInterface<RectCase>
{
};

TEST_P(EditorRectVariants, OpensSizedTitledAtTheCornerIdlesEvery100msAndClosesBeforeTheUnload)
{
    const auto& c = GetParam();
    load(0, c.fixture);
    const auto afterLoad = log.size(c.fixture); // the loader's scan made and deleted an instance

    EXPECT_EQ(openAndCapture(0), "");
    ASSERT_NE(windowOf(0), nullptr);
    void* handle = handleOf(0);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(windowOf(0)->isEditorOpen());

    // The opening calls, in order, and the handle the editor was opened in.
    EXPECT_EQ(log.sequence(c.fixture, afterLoad), c.openSequence);
    const auto events = log.events(c.fixture);
    const auto opened = std::find_if(events.begin() + (long) afterLoad, events.end(),
                                     [](const auto& e) { return e.event == std::to_string(effEditOpen); });
    ASSERT_NE(opened, events.end());
    EXPECT_EQ(juce::String(opened->detail).getHexValue64(), (juce::int64) reinterpret_cast<std::uintptr_t>(handle));

    const auto geometry = native_window::geometryOf(handle);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->x, 0);
    EXPECT_EQ(geometry->y, 0);
    if (c.clientWidth == frameOnly)
    {
        const auto empty = native_window::frameOnlyClientSize(handle);
        EXPECT_EQ(geometry->clientWidth, empty.clientWidth);
        EXPECT_EQ(geometry->clientHeight, empty.clientHeight);
    }
    else
    {
        EXPECT_EQ(geometry->clientWidth, c.clientWidth);
        EXPECT_EQ(geometry->clientHeight, c.clientHeight);
    }
    EXPECT_EQ(native_window::titleOf(handle), c.fixture);

    // Idle calls over one second of the message loop: about ten, never timed tightly.
    const auto before = log.events(c.fixture).size();
    pump(1000);
    const auto idles = log.idleCount(c.fixture, before);
    EXPECT_GE(idles, 4);
    EXPECT_LE(idles, 15);

    if (c.drawsView)
    {
        // The plugin's own child window, drawn by its own event handling, shows in ours.
        const juce::Colour teal(0xFF2A9D8F);
        EXPECT_TRUE(pumpUntil([&] { return native_window::captureClient(handle).getPixelAt(3, 3) == teal; }))
            << "the fixture's view was not drawn into the window";
    }

    if (std::string(c.fixture) == "EditorSynthNormal")
    {
        const auto folder = artifactFolder();
        folder.createDirectory();
        const auto file = folder.getChildFile(juce::String("hosted-editor-") + platformName + ".png");
        file.deleteFile();
        juce::FileOutputStream out(file);
        juce::PNGImageFormat().writeImageToStream(native_window::captureScreen(480, 360), out);
    }

    // Unloading closes the editor (sleep, close) before the plugin is destroyed, and the window goes.
    const auto beforeUnload = log.size(c.fixture);
    StdoutCapture out;
    container->unloadPlugin(0, false, true);
    EXPECT_EQ(out.take(), "\nClosing editor..." + lastLoaderGone);
    EXPECT_EQ(log.sequence(c.fixture, beforeUnload), closeSequence());
    EXPECT_FALSE(native_window::exists(handle));
    EXPECT_EQ(PluginContainerTestAccess::editorHolder(*container, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    EditorRects, EditorRectVariants,
    ::testing::Values(
        RectCase { "EditorSynthNormal", opcodes({ effEditGetRect, effEditOpen, effEditTop }), 320, 240, true },
        RectCase { "EditorSynthLateRect", opcodes({ effEditGetRect, effEditOpen, effEditGetRect, effEditTop }), 320,
                   240, true },
        RectCase { "EditorSynthZeroFirstRect",
                   opcodes({ effEditGetRect, effEditOpen, effEditGetRect, effEditTop }), 320, 240, true },
        RectCase { "EditorSynthZeroRect", opcodes({ effEditGetRect, effEditOpen, effEditGetRect, effEditTop }),
                   frameOnly, frameOnly, false },
        RectCase { "EditorSynthNoEditor", opcodes({ effEditGetRect, effEditOpen, effEditGetRect, effEditTop }), 800,
                   600, false }),
    [](const auto& info) { return std::string(info.param.fixture).substr(std::string("EditorSynth").size()); });

TEST_F(EditorWindows, SecondOpenRaisesTheWindowAndRetitlesItWithoutReopening)
{
    load(0, "EditorSynthNormal");
    load(1, "EditorSynthLateRect");
    container->openEditor(0);
    container->openEditor(1);
    ASSERT_TRUE(native_window::isStackedAbove(handleOf(1), handleOf(0)));

    const auto before = log.size("EditorSynthNormal");
    void* first = handleOf(0);
    EXPECT_EQ(openAndCapture(0), "\neditor is already open!\n_bringToFront() not implemented in Windows!!");

    EXPECT_EQ(handleOf(0), first);
    EXPECT_TRUE(native_window::isStackedAbove(handleOf(0), handleOf(1)));
    EXPECT_EQ(native_window::titleOf(first), "EditorSynthNormal");
    EXPECT_TRUE(log.sequence("EditorSynthNormal", before).empty()) << "nothing is sent to an open editor";
}

TEST_F(EditorWindows, WindowClosedByTheUserReopensAsANewWindowAndIsNotClosedTwice)
{
    load(0, "EditorSynthNormal");
    container->openEditor(0);
    void* first = handleOf(0);

    const auto beforeClose = log.size("EditorSynthNormal");
    native_window::requestClose(first);
    ASSERT_TRUE(pumpUntil([&] { return handleOf(0) == nullptr; }));
    EXPECT_FALSE(native_window::exists(first));
    EXPECT_EQ(log.sequence("EditorSynthNormal", beforeClose), opcodes({ effEditSleep, effEditClose }));
    EXPECT_FALSE(windowOf(0)->isEditorOpen());

    // No idle calls reach a closed editor.
    const auto afterClose = log.size("EditorSynthNormal");
    pump(400);
    EXPECT_EQ(log.size("EditorSynthNormal"), afterClose);

    // Asked again: a new window, and the editor opened in it.
    EXPECT_EQ(openAndCapture(0), "");
    ASSERT_NE(handleOf(0), nullptr);
    EXPECT_TRUE(native_window::exists(handleOf(0)));
    EXPECT_EQ(log.sequence("EditorSynthNormal", afterClose), opcodes({ effEditGetRect, effEditOpen, effEditTop }));
    EXPECT_TRUE(pumpUntil([&] { return log.idleCount("EditorSynthNormal", afterClose) > 0; }));

    // Closed by the user again, then unloaded: nothing more is sent to the editor.
    native_window::requestClose(handleOf(0));
    ASSERT_TRUE(pumpUntil([&] { return handleOf(0) == nullptr; }));
    const auto beforeUnload = log.size("EditorSynthNormal");
    StdoutCapture out;
    container->unloadPlugin(0, false, true);
    EXPECT_EQ(out.take(), "\neditor is already closed!" + lastLoaderGone);
    EXPECT_EQ(log.sequence("EditorSynthNormal", beforeUnload), std::vector<std::string> { "destroyed" });
}

TEST_F(EditorWindows, EditorIsClosedBeforeItsPluginGoesOnReplacementAndRecovery)
{
    struct Way
    {
        const char* name;
        std::function<void(PluginContainerAudioProcessor&)> replace;
        bool reopened; // the new plugin's editor is shown again in a window of its own
    };
    const std::vector<Way> ways {
        { "a load into the slot", [](auto& c) { EXPECT_TRUE(c.loadPlugin(0, FixtureFiles::path("PlainSynth"), {})); }, false },
        { "a recovery", [](auto& c) { c.recoverPlugin(0); }, true },
    };

    for (const auto& way : ways)
    {
        SCOPED_TRACE(way.name);
        load(0, "EditorSynthNormal");
        container->openEditor(0);
        void* handle = handleOf(0);
        const auto before = log.size("EditorSynthNormal");

        way.replace(*container);

        const auto after = log.sequence("EditorSynthNormal", before);
        ASSERT_GE(after.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 3), closeSequence());

        if (way.reopened)
        {
            // The recovered plugin's editor is open again, in a new window, as the user left it.
            // (A scan of the file in between may make and destroy an instance of its own.)
            ASSERT_GE(after.size(), 6u);
            EXPECT_EQ(std::vector<std::string>(after.end() - 3, after.end()),
                      opcodes({ effEditGetRect, effEditOpen, effEditTop }));
            ASSERT_NE(PluginContainerTestAccess::editorHolder(*container, 0), nullptr);
            EXPECT_NE(handleOf(0), nullptr);
            EXPECT_TRUE(native_window::exists(handleOf(0)));
        }
        else
        {
            EXPECT_EQ(after.size(), 3u);
            EXPECT_FALSE(native_window::exists(handle));
            EXPECT_EQ(PluginContainerTestAccess::editorHolder(*container, 0), nullptr);
        }
        container->unloadPlugin(0, false, true);
    }
}

TEST_F(EditorWindows, EmptySlotGetsNoHolderAndAnUnrequestedEditorIsNeverClosed)
{
    StdoutCapture emptyOut;
    container->openEditor(1);
    EXPECT_EQ(emptyOut.take(), "");
    EXPECT_EQ(PluginContainerTestAccess::editorHolder(*container, 1), nullptr);

    load(0, "EditorSynthNormal");
    const auto afterLoad = log.size("EditorSynthNormal");
    StdoutCapture unloadOut;
    container->unloadPlugin(0, false, true);
    EXPECT_EQ(unloadOut.take(), lastLoaderGone);
    EXPECT_EQ(log.sequence("EditorSynthNormal", afterLoad), std::vector<std::string> { "destroyed" });
}

TEST_F(EditorWindows, ContainerDestroyedWithBothEditorsOpenClosesBothFirst)
{
    load(0, "EditorSynthNormal");
    load(1, "EditorSynthZeroFirstRect");
    container->openEditor(0);
    container->openEditor(1);
    void* first = handleOf(0);
    void* second = handleOf(1);
    pump(300);
    const auto before0 = log.size("EditorSynthNormal");
    const auto before1 = log.size("EditorSynthZeroFirstRect");

    StdoutCapture out;
    container.reset();
    EXPECT_EQ(out.take(), "\nClosing editor..." + loaderGone + "\nClosing editor..." + lastLoaderGone);

    EXPECT_EQ(log.sequence("EditorSynthNormal", before0), closeSequence());
    EXPECT_EQ(log.sequence("EditorSynthZeroFirstRect", before1), closeSequence());
    EXPECT_FALSE(native_window::exists(first));
    EXPECT_FALSE(native_window::exists(second));
    pump(300); // no timer of a closed window may fire into the deleted objects
}
} // namespace
