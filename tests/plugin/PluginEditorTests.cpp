// The container's editor as a host opens it: the editor's size, effEditOpen into a native window
// of the host's, idle calls, and the control panel drawn into that window; effEditClose takes it
// out again.
#include "NativeParentWindow.h"
#include "PluginHost.h"

#include <gtest/gtest.h>

namespace
{
using pendulum::rawhost::NativeParentWindow;
using pendulum::rawhost::WindowPixels;

constexpr int panelWidth = 368;
constexpr int panelHeight = 384;
constexpr std::uint32_t panelGrey = 0xFF333333u;
constexpr std::uint32_t white = 0xFFFFFFFFu;

int countPixels(const WindowPixels& pixels, std::uint32_t colour)
{
    int count = 0;
    for (auto pixel : pixels.argb)
        count += pixel == colour ? 1 : 0;
    return count;
}

TEST(PluginEditor, HostWindowShowsTheControlPanelUntilTheEditorCloses)
{
    auto host = loadContainer();
    ASSERT_TRUE(host->isLoaded());

    Vst2::ERect rect{};
    ASSERT_TRUE(host->editorRect(rect));
    EXPECT_EQ(rect.right - rect.left, panelWidth);
    EXPECT_EQ(rect.bottom - rect.top, panelHeight);

    // Larger than the editor, so a wrong size would show.
    NativeParentWindow window(panelWidth + 100, panelHeight + 100);
    ASSERT_TRUE(window.isOpen());

    EXPECT_EQ(host->dispatch(Vst2::effEditOpen, 0, 0, window.handle()), 1);

    std::optional<WindowPixels> shown;
    const auto drawn = runHostEventLoopUntil([&] {
        host->dispatch(Vst2::effEditIdle);
        window.dispatchEvents();
        shown = window.captureChild();
        return shown.has_value() && shown->width == panelWidth && shown->height == panelHeight
            && shown->at(4, 51) == panelGrey && countPixels(*shown, white) > 1000;
    }, 10000);

    ASSERT_TRUE(shown.has_value()) << "no editor window inside the host's window";
    EXPECT_TRUE(drawn);
    EXPECT_EQ(shown->width, panelWidth);
    EXPECT_EQ(shown->height, panelHeight);
    // The panel's dark grey between the instance-name frame and the columns, edge to edge.
    for (int x : { 0, 4, 183, 367 })
        EXPECT_EQ(shown->at(x, 51), panelGrey) << "x " << x;
    // Most of the panel is its fill; the white buttons and texts are drawn on it.
    EXPECT_GT(countPixels(*shown, panelGrey), panelWidth * panelHeight / 3);
    EXPECT_GT(countPixels(*shown, white), 1000);

    host->dispatch(Vst2::effEditClose);
    EXPECT_TRUE(runHostEventLoopUntil([&] {
        host->dispatch(Vst2::effEditIdle);
        window.dispatchEvents();
        return window.numChildren() == 0;
    })) << "the editor's window stays in the host's window after effEditClose";

    host->close();
}
} // namespace
