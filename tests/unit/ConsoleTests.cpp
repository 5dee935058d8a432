// The shared console and its window, driven for real (under Xvfb).
#include "support/ConsoleProbe.h"

#include <gtest/gtest.h>

namespace
{
using console_probe::text;

TEST(Console, NewConsoleHasDefaultTitleUnsetBoundsAndNoWindow)
{
    KWDebugConsole console;
    EXPECT_EQ(console.getTitle(), "defaultproduct");
    EXPECT_EQ(console.getWindow(), nullptr);
    EXPECT_EQ(console.getX(), -1);
    EXPECT_EQ(console.getY(), -1);
    EXPECT_EQ(console.getWidth(), -1);
    EXPECT_EQ(console.getHeight(), -1);
}

TEST(Console, LinesPrintedWithoutWindowAreLostAndLaterLinesAccumulateInOrder)
{
    KWDebugConsole console;
    console.print("before the window");
    console.show();
    EXPECT_EQ(text(console), "");

    console.print("first");
    console.print("default instance:second");
    EXPECT_EQ(text(console), "first\ndefault instance:second\n");
}

TEST(Console, ShowTwiceKeepsOneWindowAndHideDeletesIt)
{
    KWDebugConsole console;
    console.show();
    auto* first = console.getWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isOnDesktop());
    EXPECT_TRUE(first->isVisible());

    console.show();
    EXPECT_EQ(console.getWindow(), first);

    console.hide();
    EXPECT_EQ(console.getWindow(), nullptr);
    console.hide(); // nothing to hide: no effect
    EXPECT_EQ(console.getWindow(), nullptr);
}

TEST(Console, FirstWindowOpensCentredAtContentSizeAndRecordsNothingUntilMoved)
{
    KWDebugConsole console;
    console.setTitle("PluginPendulum console");
    console.show();
    auto* window = console.getWindow();
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(window->getName(), "PluginPendulum console");
    EXPECT_TRUE(window->isAlwaysOnTop());
    EXPECT_TRUE(window->isUsingNativeTitleBar());
    EXPECT_TRUE(window->isResizable());
    // The window was sized for the 600 x 400 content; the native title bar leaves it all to the content.
    EXPECT_GE(window->getContentComponent()->getWidth(), 600);
    EXPECT_GE(window->getContentComponent()->getHeight(), 400);
    EXPECT_EQ(window->getContentComponent()->getBounds(), window->getLocalBounds());

    const auto screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_NEAR(window->getBounds().getCentreX(), screen.getCentreX(), 2);
    EXPECT_NEAR(window->getBounds().getCentreY(), screen.getCentreY(), 2);

    // Building the window is not a move or resize by anybody: nothing was remembered.
    console.hide();
    EXPECT_EQ(console.getX(), -1);
    EXPECT_EQ(console.getWidth(), -1);
}

TEST(Console, MovedWindowComesBackWhereItWasAfterHideAndShow)
{
    KWDebugConsole console;
    console.show();
    console.getWindow()->setBounds(40, 50, 500, 300);
    console.hide();

    EXPECT_EQ(console.getX(), 40);
    EXPECT_EQ(console.getY(), 50);
    EXPECT_EQ(console.getWidth(), 500);
    EXPECT_EQ(console.getHeight(), 300);

    console.show();
    EXPECT_EQ(console.getWindow()->getBounds(), juce::Rectangle<int>(40, 50, 500, 300));
    // The content keeps its 16-pixel white margin around the text.
    auto* content = console.getWindow()->getContent();
    EXPECT_EQ(content->getTextEditor().getBounds(), content->getLocalBounds().reduced(16));
}

TEST(Console, SetBoundsMovesTheWindowOnlyWhenAsked)
{
    KWDebugConsole console;
    console.show();
    auto* window = console.getWindow();
    const auto opened = window->getBounds();

    console.setBounds(10, 20, 300, 200, false);
    EXPECT_EQ(window->getBounds(), opened);

    console.setBounds(70, 80, 450, 350, true);
    EXPECT_EQ(window->getBounds(), juce::Rectangle<int>(70, 80, 450, 350));

    EXPECT_EQ(console.getX(), 70);
    console.hide();
    EXPECT_EQ(console.getX(), 70); // remembered after the window is gone
    EXPECT_EQ(console.getHeight(), 350);
}

TEST(Console, ClosedWindowStaysClosedUntilAPrintOrHideDeletesIt)
{
    KWDebugConsole console;
    console.show();
    console.print("kept until closed");
    auto* window = console.getWindow();

    window->closeButtonPressed();
    EXPECT_FALSE(window->isOnDesktop());

    console.show(); // the closed window still exists: show does nothing
    EXPECT_EQ(console.getWindow(), window);
    EXPECT_FALSE(window->isOnDesktop());

    console.print("dropped"); // discovers the closed window and deletes it
    EXPECT_EQ(console.getWindow(), nullptr);

    console.show();
    ASSERT_NE(console.getWindow(), nullptr);
    EXPECT_TRUE(console.getWindow()->isOnDesktop());
    EXPECT_EQ(text(console), "");
}

TEST(Console, SetTitleRenamesAnOpenWindow)
{
    KWDebugConsole console;
    console.show();
    console.setTitle("renamed");
    EXPECT_EQ(console.getWindow()->getName(), "renamed");
    EXPECT_EQ(console.getTitle(), "renamed");
}

TEST(Console, LinesFromAnotherThreadArriveOnTheMessageThreadInOrder)
{
    debugConsole = std::make_unique<KWDebugConsole>();
    debugConsole->show();

    std::thread worker([] {
        for (int i = 0; i < 20; ++i)
            consolePrint("line " + juce::String(i));
    });
    worker.join();

    EXPECT_EQ(text(*debugConsole), ""); // nothing printed off the message thread directly
    console_probe::pumpMessages(200);

    juce::String expected;
    for (int i = 0; i < 20; ++i)
        expected << "line " << i << "\n";
    EXPECT_EQ(text(*debugConsole), expected);

    debugConsole.reset();
}
} // namespace
