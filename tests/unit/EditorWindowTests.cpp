// The hosted plugins' own editors in native windows of the container's: opened, idled, raised,
// closed by the user and by the container, with the editor fixtures recording what they are asked.
// Then the same for plugins in helper processes, whose editors open in windows of the helper's.
#include "container/PluginContainerAudioProcessor.h"
#include "hosting/MyHostAudioProcessorEditor.h"
#include "EditorResize.h"
#include "hosting/EffectHandle.h"
#include "hosting/HostedEditorWindow.h"
#include "isolation/IsolatedPluginInstance.h"
#include "platform/EditorPlacement.h"
#include "support/ContainerTestAccess.h"
#include "support/FixtureFiles.h"
#include "support/NativeWindowProbe.h"
#include "support/PanelProbe.h"
#include "support/ScriptedLoadDialogs.h"
#include "support/StdoutCapture.h"
#include "support/WrapperDrive.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
 #include <windows.h>
#else
 #include <csignal>
 #include <unistd.h>
#endif

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

/** This test process's number, for names that tests running beside it must not share. */
long thisProcessNumber()
{
#if defined(_WIN32)
    return (long) GetCurrentProcessId();
#else
    return (long) getpid();
#endif
}

/** The editor fixtures' record of what they were asked, in a file of the test's own. */
class EditorLog
{
public:
    EditorLog()
    {
        file = juce::File::getSpecialLocation(juce::File::tempDirectory)
                   .getChildFile("pendulum-tests")
                   .getNonexistentChildFile("editor-log-" + juce::String(thisProcessNumber()), ".txt", false);
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

/** The primary monitor's top left corner, where the cascade of editor windows starts. */
pendulum::platform::ScreenPoint primaryCorner()
{
    const auto monitors = pendulum::platform::monitorAreas();
    return monitors.empty() ? pendulum::platform::ScreenPoint {}
                            : pendulum::platform::ScreenPoint { monitors.front().x, monitors.front().y };
}

constexpr int margin = pendulum::platform::editorCascadeMargin;
constexpr int step = pendulum::platform::editorCascadeStep;

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

TEST_P(EditorRectVariants, OpensSizedTitledCascadedIdlesEvery100msAndClosesBeforeTheUnload)
{
    const auto& c = GetParam();
    ASSERT_EQ(container->getEditorCascadeIndex(), 0) << "the only container holds the first place";
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

    // Without a panel on the screen: the primary monitor, the cascade's first place, not its corner.
    const auto geometry = native_window::geometryOf(handle);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->x, primaryCorner().x + margin);
    EXPECT_EQ(geometry->y, primaryCorner().y + margin);
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
    EXPECT_EQ(native_window::titleOf(handle), std::string("default instance - slot 1 - ") + c.fixture);

    // Idle calls keep coming while the window is open, about one per 100 ms of the message loop
    // and never faster; a machine too busy to run the loop only delays them.
    const auto before = log.events(c.fixture).size();
    const auto started = juce::Time::getMillisecondCounterHiRes();
    EXPECT_TRUE(pumpUntil([&] { return log.idleCount(c.fixture, before) >= 4; }, 10000)) << "no idle calls";
    pump(300);
    const auto idles = log.idleCount(c.fixture, before);
    const auto elapsedMs = juce::Time::getMillisecondCounterHiRes() - started;
    EXPECT_LE(idles, (int) (elapsedMs / 100.0) + 3) << idles << " idle calls in " << elapsedMs << " ms";

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
                   600, false },
        RectCase { "EditorSynthResizing", opcodes({ effEditGetRect, effEditOpen, effEditTop }), 320, 240, true }),
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
    EXPECT_EQ(native_window::titleOf(first), "default instance - slot 1 - EditorSynthNormal");
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
// Where a window opens: a table of monitor layouts, anchors (the container's editor) and cascade
// places. Monitor rectangles are x, y, width, height; the first one is the primary.
TEST(EditorPlacement, OnTheMonitorOfTheAnchorCascadedAndKeptOnIt)
{
    using pendulum::platform::ScreenPoint;
    using pendulum::platform::ScreenRect;
    struct Case
    {
        const char* name;
        std::vector<ScreenRect> monitors;
        std::optional<ScreenRect> anchor;
        int cascade;
        int width, height;
        ScreenPoint expected;
    };
    const ScreenRect left { 0, 0, 1920, 1080 }, right { 1920, 0, 1280, 1024 }, above { 0, -900, 1600, 900 };
    const std::vector<Case> cases {
        { "no anchor: primary monitor, first place", { left, right }, std::nullopt, 0, 320, 240, { 48, 48 } },
        { "no anchor, the primary on the right", { right, left }, std::nullopt, 0, 320, 240, { 1968, 48 } },
        { "anchor on the second monitor", { left, right }, ScreenRect { 2000, 100, 368, 384 }, 0, 320, 240, { 1968, 48 } },
        { "anchor on a monitor above the primary", { left, above }, ScreenRect { 100, -500, 368, 384 }, 1, 320, 240,
          { 80, -820 } },
        { "anchor across two monitors: the one with more of it", { left, right }, ScreenRect { 1800, 0, 368, 384 }, 0,
          320, 240, { 1968, 48 } },
        { "anchor on no monitor: the primary", { left, right }, ScreenRect { 5000, 5000, 368, 384 }, 0, 320, 240,
          { 48, 48 } },
        { "slot 2 of the first container", { left }, std::nullopt, 1, 320, 240, { 80, 80 } },
        { "slot 1 of the second container", { left }, std::nullopt, 2, 320, 240, { 112, 112 } },
        { "a place that would leave the monitor starts the cascade again", { { 0, 0, 500, 400 } }, std::nullopt, 3,
          320, 300, { 48 + 32, 48 + 32 } },
        { "the last place that fits", { { 0, 0, 500, 400 } }, std::nullopt, 1, 320, 300, { 80, 80 } },
        { "a window larger than the monitor: its corner", { { 0, 0, 500, 400 } }, std::nullopt, 1, 600, 300, { 0, 0 } },
        { "no monitor known: the fallback's place", {}, std::nullopt, 0, 320, 240, { 0, 0 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto monitor = pendulum::platform::monitorFor(c.monitors, c.anchor, ScreenRect { 0, 0, 320, 240 });
        const auto corner = pendulum::platform::cascadedPosition(monitor, c.cascade, c.width, c.height);
        EXPECT_EQ(corner.x, c.expected.x);
        EXPECT_EQ(corner.y, c.expected.y);
    }
}

/** A second container, loaded and prepared like the fixture's. */
std::unique_ptr<PluginContainerAudioProcessor> makeContainer(DialogScript& script)
{
    auto container = std::make_unique<PluginContainerAudioProcessor>();
    container->setLoadDialogs(std::make_unique<ScriptedLoadDialogs>(script));
    container->prepareToPlay(44100.0, 256);
    return container;
}

TEST_F(EditorWindows, TitledWithInstanceSlotFromOneAndPluginAndCascadedBySlotAndContainer)
{
    container->setInstanceName("Stage left");
    load(0, "EditorSynthNormal");
    load(1, "EditorSynthNormal");
    container->openEditor(0);
    container->openEditor(1);

    auto second = makeContainer(script);
    ASSERT_EQ(second->getEditorCascadeIndex(), 1);
    second->setInstanceName("Stage right");
    ASSERT_TRUE(second->loadPlugin(1, FixtureFiles::path("EditorSynthLateRect"), {}));
    second->openEditor(1);
    auto* secondWindow = PluginContainerTestAccess::editorHolder(*second, 1)->getEditorWindow();
    ASSERT_NE(secondWindow, nullptr);

    struct Expected
    {
        void* window;
        std::string title;
        int cascade;
    };
    const std::vector<Expected> expected {
        { handleOf(0), "Stage left - slot 1 - EditorSynthNormal", 0 },
        { handleOf(1), "Stage left - slot 2 - EditorSynthNormal", 1 },
        { secondWindow->getWindowHandle(), "Stage right - slot 2 - EditorSynthLateRect", 3 },
    };
    const auto corner = primaryCorner();

    for (const auto& e : expected)
    {
        SCOPED_TRACE(e.title);
        EXPECT_EQ(native_window::titleOf(e.window), e.title);
        const auto geometry = native_window::geometryOf(e.window);
        ASSERT_TRUE(geometry.has_value());
        EXPECT_EQ(geometry->x, corner.x + margin + e.cascade * step);
        EXPECT_EQ(geometry->y, corner.y + margin + e.cascade * step);
    }

    // A renamed instance: the next "Edit" gives the open window its new title.
    container->setInstanceName("Encore");
    container->openEditor(0);
    EXPECT_EQ(native_window::titleOf(handleOf(0)), "Encore - slot 1 - EditorSynthNormal");

    // The first container gone, its place is free for the next one; the second keeps its own.
    container.reset();
    auto third = makeContainer(script);
    EXPECT_EQ(third->getEditorCascadeIndex(), 0);
    EXPECT_EQ(second->getEditorCascadeIndex(), 1);
}

/** The container's panel shown on the screen, top-level or inside a host's window, as a wrapper does. */
struct PanelOnScreen
{
    PanelOnScreen(PluginContainerAudioProcessor& container, int x, int y, void* hostWindow = nullptr)
        : editor(panel_probe::openEditor(container))
    {
        if (hostWindow != nullptr)
        {
            editor->setTopLeftPosition(0, 0);
            editor->addToDesktop(0, hostWindow);
        }
        else
        {
            editor->setTopLeftPosition(x, y);
            editor->addToDesktop(0);
        }
        editor->setVisible(true);
        // The panel is where it was put once the window system has it there.
        const auto wanted = hostWindow != nullptr ? native_window::geometryOf(hostWindow)->x : x;
        EXPECT_TRUE(pumpUntil([&] {
            auto* peer = editor->getPeer();
            const auto root = peer != nullptr ? pendulum::platform::topLevelWindowOf(peer->getNativeHandle()) : nullptr;
            const auto place = root != nullptr ? native_window::geometryOf(root) : std::nullopt;
            return place.has_value() && place->x == wanted;
        }));
    }

    void* nativeHandle() const { return editor->getPeer()->getNativeHandle(); }

    panel_probe::EditorPtr editor;
};

TEST_F(EditorWindows, OpensOnTheMonitorOfTheContainersPanel)
{
    using Rect = juce::Rectangle<int>;
    struct Case
    {
        const char* name;
        std::vector<Rect> monitors; // the first is the primary
        std::optional<juce::Point<int>> panel;
        int expectedX;
    };
    const std::vector<Case> cases {
        { "panel on the second monitor", { Rect(0, 0, 640, 1024), Rect(640, 0, 640, 1024) }, juce::Point<int>(700, 100),
          640 + margin },
        { "panel on the primary monitor", { Rect(0, 0, 640, 1024), Rect(640, 0, 640, 1024) }, juce::Point<int>(100, 100),
          margin },
        { "no panel, the primary on the right", { Rect(640, 0, 640, 1024), Rect(0, 0, 640, 1024) }, std::nullopt,
          640 + margin },
        { "panel on the left one, the primary on the right", { Rect(640, 0, 640, 1024), Rect(0, 0, 640, 1024) },
          juce::Point<int>(50, 300), margin },
    };

    if (!native_window::setMonitors(cases.front().monitors))
        GTEST_SKIP() << "this display cannot be divided into monitors; the placement table covers the choice";

    load(0, "EditorSynthNormal");

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(native_window::setMonitors(c.monitors));
        std::unique_ptr<PanelOnScreen> panel;
        if (c.panel.has_value())
            panel = std::make_unique<PanelOnScreen>(*container, c.panel->x, c.panel->y);

        container->openEditor(0);
        const auto geometry = native_window::geometryOf(handleOf(0));
        ASSERT_TRUE(geometry.has_value());
        EXPECT_EQ(geometry->x, c.expectedX);
        EXPECT_EQ(geometry->y, margin);

        native_window::requestClose(handleOf(0));
        ASSERT_TRUE(pumpUntil([&] { return handleOf(0) == nullptr; }));
    }

    native_window::clearMonitors();
}

TEST_F(EditorWindows, OwnedByTheTopLevelWindowThatShowsThePanel)
{
    load(0, "EditorSynthNormal");

    // No panel: no owner.
    container->openEditor(0);
    EXPECT_EQ(native_window::ownerOf(handleOf(0)), nullptr);
    native_window::requestClose(handleOf(0));
    ASSERT_TRUE(pumpUntil([&] { return handleOf(0) == nullptr; }));

    // The panel as a window of its own: that window.
    {
        PanelOnScreen panel(*container, 200, 200);
        container->openEditor(0);
        EXPECT_EQ(native_window::ownerOf(handleOf(0)), panel.nativeHandle());
        native_window::requestClose(handleOf(0));
        ASSERT_TRUE(pumpUntil([&] { return handleOf(0) == nullptr; }));
    }

    // The panel inside a host's window, as a plugin host shows it: the host's window.
    void* host = native_window::makeHostWindow(300, 120, 400, 420);
    ASSERT_NE(host, nullptr);
    {
        PanelOnScreen panel(*container, 0, 0, host);
        ASSERT_NE(panel.nativeHandle(), host);
        container->openEditor(0);
        EXPECT_EQ(native_window::ownerOf(handleOf(0)), host);
        container->unloadPlugin(0, false, true);
    }
    native_window::destroyHostWindow(host);
}

TEST_F(EditorWindows, EditOnAMinimisedWindowRestoresAndRaisesIt)
{
    load(0, "EditorSynthNormal");
    load(1, "EditorSynthLateRect");
    auto editor = panel_probe::openEditor(*container);
    auto& panel = panel_probe::panelOf(*editor);
    panel_probe::click(panel_probe::child<juce::TextButton>(panel, "plugin1Edit"));
    panel_probe::click(panel_probe::child<juce::TextButton>(panel, "plugin1Edit2"));
    void* first = handleOf(0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(handleOf(1), nullptr);

    native_window::minimise(first);
    ASSERT_TRUE(native_window::isMinimised(first));
    const auto before = log.size("EditorSynthNormal");

    panel_probe::click(panel_probe::child<juce::TextButton>(panel, "plugin1Edit"));

    EXPECT_TRUE(pumpUntil([&] { return !native_window::isMinimised(first); }));
    EXPECT_EQ(handleOf(0), first) << "the same window, not a new one";
    EXPECT_TRUE(native_window::isStackedAbove(first, handleOf(1)));
    EXPECT_TRUE(log.sequence("EditorSynthNormal", before).empty()) << "the open editor is not opened again";
}

TEST_F(EditorWindows, APluginThatResizesItsEditorGetsAWindowOfTheNewSize)
{
    load(0, "EditorSynthResizing");
    container->openEditor(0);
    void* handle = handleOf(0);
    const auto opened = native_window::geometryOf(handle);
    ASSERT_TRUE(opened.has_value());
    ASSERT_EQ(opened->clientWidth, 320);
    auto* effect = vstEffectOf(*container->getPluginInstance(0));
    ASSERT_NE(effect, nullptr);

    struct Size
    {
        int width, height;
    };
    for (const auto size : { Size { 520, 380 }, Size { 200, 150 }, Size { 640, 200 } })
    {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        ASSERT_EQ(effect->dispatcher(effect, 50 /* effVendorSpecific */, editor_resize::kResizeIndex, size.width,
                                     nullptr, (float) size.height),
                  1);
        EXPECT_TRUE(pumpUntil([&] {
            const auto geometry = native_window::geometryOf(handle);
            return geometry.has_value() && geometry->clientWidth == size.width && geometry->clientHeight == size.height;
        }));
        const auto geometry = native_window::geometryOf(handle);
        ASSERT_TRUE(geometry.has_value());
        EXPECT_EQ(geometry->x, opened->x) << "it stays where it stands";
        EXPECT_EQ(geometry->y, opened->y);

        // The plugin's view fills the new window: its colour at the far corner.
        const juce::Colour teal(0xFF2A9D8F);
        EXPECT_TRUE(pumpUntil([&] {
            return native_window::captureClient(handle).getPixelAt(size.width - 3, size.height - 3) == teal;
        }));
    }
}

#if defined(_WIN32)
TEST_F(EditorWindows, EditorsAreShownSystemScaledForTheMonitorsDpi)
{
    load(0, "EditorSynthNormal");
    container->openEditor(0);
    const auto window = native_window::isSystemScaled(handleOf(0));
    if (!window.has_value())
        GTEST_SKIP() << "this system has no per-window DPI awareness";

    // Our window and the plugin's view inside it: scaled by the system, not drawn at 1:1 pixels.
    EXPECT_TRUE(*window);
    void* view = native_window::firstChildOf(handleOf(0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(native_window::isSystemScaled(view), std::optional<bool>(true));
}
#endif

//==================================================================================================
// Editors of plugins in helper processes: a top-level window of the helper's, found on the screen
// by its title as a user sees it, made by the same rules as the container's own.

class IsolatedEditorWindows : public EditorWindows
{
protected:
    static void SetUpTestSuite()
    {
        setEnvironment("PENDULUM_SLOT_HOST", PENDULUM_SLOT_HOST_PATH);
#if !defined(_WIN32)
        // Under a sanitizer a helper inherits its options: it must die of a fault by its signal.
        for (const char* name : { "ASAN_OPTIONS", "TSAN_OPTIONS" })
        {
            std::string options = std::getenv(name) != nullptr ? std::getenv(name) : "";
            if (options.find("handle_segv=0") == std::string::npos)
                options += std::string(options.empty() ? "" : ":") + "handle_segv=0:handle_sigbus=0:handle_sigfpe=0";
            setEnvironment(name, options);
        }
#endif
    }

    void SetUp() override
    {
        EditorWindows::SetUp();
        container->setRunInSeparateProcesses(true);
        // The helpers' windows are found by title among all the windows of the display, which
        // tests running beside this one share: the title is this process's own.
        container->setInstanceName(instanceName());
    }

    static std::string instanceName(const std::string& name = "isolated")
    {
        return name + " " + std::to_string(thisProcessNumber());
    }

    void TearDown() override
    {
        StdoutCapture quiet;
        container.reset();
    }

    pendulum::isolation::IsolatedPluginInstance* isolated(int slot) const
    {
        return dynamic_cast<pendulum::isolation::IsolatedPluginInstance*>(container->getPluginInstance(slot));
    }

    /** The helper's window of that title once it is on the screen; null if it never comes. */
    void* windowTitled(const std::string& title)
    {
        void* window = nullptr;
        pumpUntil([&] { return (window = native_window::findByTitle(title)) != nullptr; });
        return window;
    }

    static std::string titleOf(const char* fixture, int slot = 0)
    {
        return instanceName() + " - slot " + std::to_string(slot + 1) + " - " + fixture;
    }

    /** Ends the slot's helper from outside, as a crash of it would. */
    void killHelper(int slot)
    {
        const auto pid = isolated(slot)->getConnection().processId();
        ASSERT_GT(pid, 0);
#if defined(_WIN32)
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, (DWORD) pid);
        ASSERT_NE(process, nullptr);
        TerminateProcess(process, 0xC0000005);
        CloseHandle(process);
#else
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
#endif
    }
};

TEST_F(IsolatedEditorWindows, OpensInAHelperWindowTitledPlacedDrawnAndIdledThenRaisedAndRetitled)
{
    load(0, "EditorSynthNormal");
    ASSERT_TRUE(container->isSlotIsolated(0));
    const auto afterLoad = log.size("EditorSynthNormal");
    EXPECT_FALSE(container->isEditorOpen(0));

    container->openEditor(0);
    EXPECT_TRUE(container->isEditorOpen(0));
    EXPECT_EQ(PluginContainerTestAccess::editorHolder(*container, 0), nullptr) << "no window of the container's";

    // A top-level window of another process, with the in-process title, the one the helper reports.
    void* window = windowTitled(titleOf("EditorSynthNormal"));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, isolated(0)->getEditorWindow());

    // The helper's plugin was asked what an in-process one is, and opened its editor in that window.
    EXPECT_EQ(log.sequence("EditorSynthNormal", afterLoad), opcodes({ effEditGetRect, effEditOpen, effEditTop }));
    const auto events = log.events("EditorSynthNormal");
    const auto opened = std::find_if(events.begin() + (long) afterLoad, events.end(),
                                     [](const auto& e) { return e.event == std::to_string(effEditOpen); });
    ASSERT_NE(opened, events.end());
    EXPECT_EQ(juce::String(opened->detail).getHexValue64(), (juce::int64) reinterpret_cast<std::uintptr_t>(window));

    // Sized to the editor, at the cascade's first place on the primary monitor.
    const auto geometry = native_window::geometryOf(window);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->x, primaryCorner().x + margin);
    EXPECT_EQ(geometry->y, primaryCorner().y + margin);
    EXPECT_EQ(geometry->clientWidth, 320);
    EXPECT_EQ(geometry->clientHeight, 240);

    // The helper's timer idles the editor, and the plugin's view draws into the window.
    const auto beforeIdle = log.events("EditorSynthNormal").size();
    EXPECT_TRUE(pumpUntil([&] { return log.idleCount("EditorSynthNormal", beforeIdle) >= 4; }, 10000)) << "no idle calls";
    const juce::Colour teal(0xFF2A9D8F);
    EXPECT_TRUE(pumpUntil([&] { return native_window::captureClient(window).getPixelAt(3, 3) == teal; }))
        << "the fixture's view was not drawn into the helper's window";

    const auto folder = artifactFolder();
    folder.createDirectory();
    const auto file = folder.getChildFile(juce::String("isolated-editor-") + platformName + ".png");
    file.deleteFile();
    {
        juce::FileOutputStream out(file);
        juce::PNGImageFormat().writeImageToStream(native_window::captureScreen(480, 360), out);
    }
    EXPECT_TRUE(file.existsAsFile());

    // "Edit" again after a rename: the same window, given the new title, and nothing opened twice.
    const auto beforeSecond = log.size("EditorSynthNormal");
    container->setInstanceName(instanceName("Encore"));
    container->openEditor(0);
    EXPECT_EQ(isolated(0)->getEditorWindow(), window);
    EXPECT_EQ(native_window::titleOf(window), instanceName("Encore") + " - slot 1 - EditorSynthNormal");
    EXPECT_TRUE(log.sequence("EditorSynthNormal", beforeSecond).empty()) << "nothing is sent to an open editor";
}

TEST_F(IsolatedEditorWindows, ClosedBeforeItsPluginGoesOnUnloadReplacementRecoveryAndTheContainersEnd)
{
    struct Way
    {
        const char* name;
        std::function<void(std::unique_ptr<PluginContainerAudioProcessor>&)> replace;
        bool reopened; // the new plugin's editor is shown again, as in-process
    };
    const std::vector<Way> ways {
        { "an unload", [](auto& c) { c->unloadPlugin(0, false, true); }, false },
        { "a load into the slot", [](auto& c) { EXPECT_TRUE(c->loadPlugin(0, FixtureFiles::path("PlainSynth"), {})); }, false },
        { "a recovery asked for by the user", [](auto& c) { c->recoverPlugin(0); }, true },
        { "the container's end", [](auto& c) { c.reset(); }, false },
    };

    for (const auto& way : ways)
    {
        SCOPED_TRACE(way.name);
        load(0, "EditorSynthNormal");
        container->openEditor(0);
        void* window = windowTitled(titleOf("EditorSynthNormal"));
        ASSERT_NE(window, nullptr);
        const auto before = log.size("EditorSynthNormal");

        {
            StdoutCapture quiet;
            way.replace(container);
        }

        // Sleep and close before the plugin is destroyed, in its helper.
        ASSERT_TRUE(pumpUntil([&] { return log.sequence("EditorSynthNormal", before).size() >= 3; }));
        const auto after = log.sequence("EditorSynthNormal", before);
        EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 3), closeSequence());
        if (way.reopened)
        {
            // (The new helper's window may be given the old one's id: X11 reuses a gone client's ids.)
            EXPECT_EQ(std::vector<std::string>(after.end() - 3, after.end()),
                      opcodes({ effEditGetRect, effEditOpen, effEditTop }));
            EXPECT_TRUE(container->isEditorOpen(0));
            void* again = windowTitled(titleOf("EditorSynthNormal"));
            EXPECT_NE(again, nullptr);
            EXPECT_EQ(again, isolated(0)->getEditorWindow());
        }
        else
        {
            EXPECT_TRUE(pumpUntil([&] { return !native_window::exists(window); })) << "the window is gone";
            if (container != nullptr)
                EXPECT_FALSE(container->isEditorOpen(0));
        }

        if (container != nullptr)
        {
            StdoutCapture quiet;
            container->unloadPlugin(0, false, true);
        }
    }
}

TEST_F(IsolatedEditorWindows, ClosedFromItsFrameTheContainerKnowsAndEditOpensANewWindow)
{
    load(0, "EditorSynthNormal");
    container->openEditor(0);
    void* first = windowTitled(titleOf("EditorSynthNormal"));
    ASSERT_NE(first, nullptr);
    const auto beforeClose = log.size("EditorSynthNormal");

    native_window::requestClose(first);
    ASSERT_TRUE(pumpUntil([&] { return !container->isEditorOpen(0); })) << "the helper tells the container";
    EXPECT_EQ(isolated(0)->getEditorWindow(), nullptr);
    EXPECT_TRUE(pumpUntil([&] { return !native_window::exists(first); }));
    EXPECT_EQ(log.sequence("EditorSynthNormal", beforeClose), opcodes({ effEditSleep, effEditClose }));

    // No idle calls reach the closed editor; an unload sends it nothing more.
    const auto afterClose = log.size("EditorSynthNormal");
    pump(400);
    EXPECT_EQ(log.size("EditorSynthNormal"), afterClose);

    container->openEditor(0);
    EXPECT_TRUE(container->isEditorOpen(0));
    void* second = windowTitled(titleOf("EditorSynthNormal"));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(log.sequence("EditorSynthNormal", afterClose), opcodes({ effEditGetRect, effEditOpen, effEditTop }));

    native_window::requestClose(second);
    ASSERT_TRUE(pumpUntil([&] { return !container->isEditorOpen(0); }));
    const auto beforeUnload = log.size("EditorSynthNormal");
    {
        StdoutCapture quiet;
        container->unloadPlugin(0, false, true);
    }
    EXPECT_TRUE(pumpUntil([&] { return log.size("EditorSynthNormal") > beforeUnload; }));
    EXPECT_EQ(log.sequence("EditorSynthNormal", beforeUnload), std::vector<std::string> { "destroyed" });
}

TEST_F(IsolatedEditorWindows, FollowsAResizingEditorAndIsOwnedByThePanelsWindowAcrossProcesses)
{
    load(0, "EditorSynthResizing");
    PanelOnScreen panel(*container, 200, 200);
    container->openEditor(0);
    void* window = windowTitled(titleOf("EditorSynthResizing"));
    ASSERT_NE(window, nullptr);

    // The owner is the container's top-level window, a window of this process.
    EXPECT_EQ(native_window::ownerOf(window), panel.nativeHandle());

    const auto opened = native_window::geometryOf(window);
    ASSERT_TRUE(opened.has_value());
    const auto changesBefore = isolated(0)->getConnection().editorChanges();
    ASSERT_EQ(isolated(0)->dispatch(50 /* effVendorSpecific */, editor_resize::kResizeIndex, 520, 380.0f).result, 1);
    EXPECT_TRUE(pumpUntil([&] {
        const auto geometry = native_window::geometryOf(window);
        return geometry.has_value() && geometry->clientWidth == 520 && geometry->clientHeight == 380;
    }));
    const auto geometry = native_window::geometryOf(window);
    ASSERT_TRUE(geometry.has_value());
    EXPECT_EQ(geometry->x, opened->x) << "it stays where it stands";
    EXPECT_EQ(geometry->y, opened->y);
    const juce::Colour teal(0xFF2A9D8F);
    EXPECT_TRUE(pumpUntil([&] { return native_window::captureClient(window).getPixelAt(517, 377) == teal; }));
    EXPECT_GT(isolated(0)->getConnection().editorChanges(), changesBefore) << "the helper told the container";
    EXPECT_TRUE(container->isEditorOpen(0));
}

TEST_F(IsolatedEditorWindows, AHelperThatDiesTakesItsWindowAndTheRecoveredSlotHasNoEditorOpen)
{
    container->setOption(PluginContainerAudioProcessor::optionAutoCrashRecovery, true);
    load(0, "EditorSynthNormal");
    container->openEditor(0);
    void* window = windowTitled(titleOf("EditorSynthNormal"));
    ASSERT_NE(window, nullptr);
    const auto crashedHelper = isolated(0)->getConnection().processId();

    killHelper(0);
    EXPECT_TRUE(pumpUntil([&] { return !native_window::exists(window); })) << "the window died with its helper";
    ASSERT_TRUE(pumpUntil([&] { return container->getFailureCause(0).isNotEmpty(); }));

    // Brought back in a new helper, without an editor until "Edit" is pressed again.
    ASSERT_TRUE(pumpUntil([&] {
        return isolated(0) != nullptr && isolated(0)->getConnection().processId() != crashedHelper
            && !container->isPluginCrashed(0);
    }));
    EXPECT_FALSE(container->isEditorOpen(0));
    pump(300);
    EXPECT_EQ(native_window::findByTitle(titleOf("EditorSynthNormal")), nullptr);

    container->openEditor(0);
    EXPECT_NE(windowTitled(titleOf("EditorSynthNormal")), nullptr);
    EXPECT_TRUE(container->isEditorOpen(0));
}

TEST_F(IsolatedEditorWindows, AnEditorThatCrashesAsItOpensEndsOnlyItsHelperAndTheStandbyPlays)
{
    load(0, "EditorSynthCrashOnOpen");
    container->setRunInSeparateProcesses(false);
    load(1, "PlainSynth");
    container->setNonRealtime(true);
    auto editor = panel_probe::openEditor(*container);
    auto& panel = panel_probe::panelOf(*editor);

    const auto peak = [&](int note) {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        if (note > 0)
            midi.addEvent(juce::MidiMessage::noteOn(1, note, (juce::uint8) 100), 0);
        processLikeWrapper(*container, buffer, midi);
        return buffer.getMagnitude(0, 0, 256);
    };
    EXPECT_GT(peak(60), 0.01f) << "slot 1 plays before";

    // "Edit" on the panel: the plugin's editor crashes its helper inside the open call.
    {
        StdoutCapture quiet;
        panel_probe::click(panel_probe::child<juce::TextButton>(panel, "plugin1Edit"));
        ASSERT_TRUE(pumpUntil([&] { return container->getFailureCause(0).isNotEmpty(); }));
    }
#if defined(_WIN32)
    EXPECT_EQ(container->getFailureCause(0), "access violation (0xC0000005)");
#else
    EXPECT_EQ(container->getFailureCause(0), "segmentation fault (signal 11)");
#endif
    EXPECT_TRUE(container->isPluginCrashed(0));
    EXPECT_FALSE(container->isEditorOpen(0));
    EXPECT_EQ(container->getActivePluginIndex(), 1) << "the standby took over";
    EXPECT_TRUE(container->getLastEvent().text.contains("slot 1 crashed")) << container->getLastEvent().text;

    // The panel says so, and the host plays on from the standby.
    panel_probe::paint(*editor);
    EXPECT_EQ(panel_probe::child<juce::Label>(panel, "loadedPlugin1").getText(), "Status: CRASHED");
    EXPECT_EQ(panel_probe::child<juce::TextButton>(panel, "plugin1Edit").getButtonText(), "Recover");
    EXPECT_GT(peak(64), 0.01f);
}

} // namespace
