#include "ResourcePictures.h"
#include "frame_test_support.h"
#include "test_contents.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

using testing::ElementsAre;

namespace {

/** JUCE set up afresh for each test: a stopped message loop stays stopped for the life of
    the message manager. */
class ContentBaseTest : public testing::Test {
protected:
  void runLoop(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }
  bool loopStopped() { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }

  juce::ScopedJuceInitialiser_GUI gui;
  std::vector<juce::String> log;
};

TEST_F(ContentBaseTest, WindowDrivesItsContentInOrderAndStartsItOnceAfterShowing)
{
  auto window = std::make_unique<test::RecordingWindow>(log);
  window->initialise("-device 1", false, false);
  EXPECT_THAT(
      log, ElementsAre("initialise", "refresh", "parseCommandLine -device 1", "shouldShowWindow"));
  runLoop(400);
  EXPECT_THAT(log, ElementsAre("initialise", "refresh", "parseCommandLine -device 1",
                               "shouldShowWindow", "start true visible", "refresh"));
  EXPECT_TRUE(window->recordingContent()->started);

  window.reset();
  EXPECT_EQ(log[log.size() - 2], "stop");
  EXPECT_EQ(log.back(), "destroyed");
  EXPECT_EQ(nullptr, BWindow::getMainWindow());
}

TEST_F(ContentBaseTest, WindowTakesThePreferredSizeAndOffersOnlyMinimiseAndClose)
{
  test::RecordingWindow window(log);
  window.initialise("", false, false);
  ASSERT_TRUE(window.recordingContent()->hasBackground());
  EXPECT_EQ(485, window.getContentComponent()->getWidth());
  EXPECT_EQ(515, window.getContentComponent()->getHeight());
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isResizable());
  EXPECT_NE(nullptr, window.getMinimiseButton());
  EXPECT_NE(nullptr, window.getCloseButton());
  EXPECT_EQ(nullptr, window.getMaximiseButton());

  const int flags = window.getPeer()->getStyleFlags();
  EXPECT_NE(0, flags & juce::ComponentPeer::windowHasMinimiseButton);
  EXPECT_NE(0, flags & juce::ComponentPeer::windowHasCloseButton);
  EXPECT_EQ(0, flags & juce::ComponentPeer::windowHasMaximiseButton);
  EXPECT_EQ(0, flags & juce::ComponentPeer::windowIsResizable);
}

// Under Wine, JUCE's display-synchronised repaints once stopped after the first frame.
TEST_F(ContentBaseTest, EveryRepaintReachesTheScreen)
{
  test::RecordingWindow window(log);
  window.initialise("", false, false);
  test::RecordingContent& content = *window.recordingContent();
  runLoop(300);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const int before = content.paintCount;
    content.repaint();
    for (int waited = 0; waited < 2000 && content.paintCount == before; waited += 20)
      runLoop(20);
    EXPECT_GT(content.paintCount, before);
  }
}

TEST_F(ContentBaseTest, BackgroundIsPaintedAtTheTopLeftInItsOwnSize)
{
  test::RecordingContent content(log);
  content.initialise();
  content.setSize(300, 600);
  const juce::Image snapshot = content.createComponentSnapshot(content.getLocalBounds());
  const juce::Image picture = *loadResourceDrawable("PNG", "BACKGROUND", false).image;
  for (const juce::Point<int> p : {juce::Point<int>(0, 0), juce::Point<int>(30, 1),
                                   juce::Point<int>(12, 14), juce::Point<int>(299, 514)})
    EXPECT_EQ(picture.getPixelAt(p.x, p.y), snapshot.getPixelAt(p.x, p.y)) << p.toString();
  EXPECT_EQ(0, snapshot.getPixelAt(10, 520).getAlpha()); // below the picture: nothing
}

TEST_F(ContentBaseTest, RefusedCommandLineStopsTheLoopWithoutShowingTheWindow)
{
  test::RecordingWindow window(log, [](test::RecordingContent& c) { c.acceptCommandLine = false; });
  window.initialise("-device x", false, false);
  EXPECT_THAT(log, ElementsAre("initialise", "refresh", "parseCommandLine -device x"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(loopStopped());
}

TEST_F(ContentBaseTest, ExceptionDuringInitialiseGivesTheFatalErrorBoxAndQuits)
{
  test::RecordingLookAndFeel boxes;
  bool visibleAtBox = true;
  boxes.onBox = [&](const test::RecordedBox&) {
    visibleAtBox = BWindow::getMainWindow()->isVisible();
  };
  auto window = std::make_unique<test::RecordingWindow>(
      log, [](test::RecordingContent& c) { c.throwOnInitialise = true; });
  window->initialise("", false, false);

  ASSERT_EQ(1u, boxes.boxes.size());
  const test::RecordedBox& box = boxes.boxes[0];
  EXPECT_EQ(juce::MessageBoxIconType::WarningIcon, box.icon);
  EXPECT_EQ(box.title, "Fatal Error");
  EXPECT_EQ(box.message, "The following error occured:\nPicture \"HaldenExists.png\" is "
                         "missing.\nThis program will close now.");
  EXPECT_EQ(1, box.numButtons);
  EXPECT_EQ(nullptr, box.associatedComponent);
  EXPECT_FALSE(visibleAtBox);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(loopStopped());
  EXPECT_THAT(log, ElementsAre("initialise"));

  // The content that never finished its initialise is still stopped, then deleted.
  window.reset();
  EXPECT_THAT(log, ElementsAre("initialise", "stop", "destroyed"));
}

TEST_F(ContentBaseTest, CloseButtonStopsTheLoopOnlyWhenTheContentAgrees)
{
  test::RecordingWindow window(log);
  window.initialise("", false, false);
  window.recordingContent()->allowClose = false;
  window.closeButtonPressed();
  EXPECT_EQ(log.back(), "canClose");
  EXPECT_FALSE(loopStopped());
  EXPECT_TRUE(window.isVisible());

  window.recordingContent()->allowClose = true;
  window.closeButtonPressed();
  EXPECT_TRUE(loopStopped());
}

TEST_F(ContentBaseTest, ContentThatStartsMinimisedIsShownMinimised)
{
  test::RecordingWindow window(log, [](test::RecordingContent& c) { c.startMinimised = true; });
  window.initialise("", false, false);
  EXPECT_EQ(log.back(), "shouldShowWindow");
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimised());
}

TEST_F(ContentBaseTest, AsyncUpdateRefreshesOnlyWhenAsked)
{
  struct Probe : test::RecordingContent {
    using BContentBase::refreshPending;
    using BContentBase::repaintPending;
    using RecordingContent::RecordingContent;
  } content(log);
  content.handleAsyncUpdate();
  EXPECT_TRUE(log.empty());
  content.refreshPending = true;
  content.repaintPending = true;
  content.handleAsyncUpdate();
  EXPECT_THAT(log, ElementsAre("refresh"));
  EXPECT_FALSE(content.refreshPending);
  EXPECT_FALSE(content.repaintPending);
}

// Mouse input through the native window, as the user gives it.
class DragTest : public ContentBaseTest {
protected:
  void SetUp() override
  {
    window = std::make_unique<test::RecordingWindow>(log);
    window->initialise("", false, false);
    window->setTopLeftPosition(100, 80);
    hwnd = static_cast<HWND>(window->getPeer()->getNativeHandle());
  }

  void send(UINT message, WPARAM keys, int x, int y)
  {
    SendMessageW(hwnd, message, keys, MAKELPARAM(x, y));
  }

  /** Presses at (x, y) of the window, moves the mouse by (dx, dy) and releases. The window
      follows the mouse, so the release lands where the press did, in window coordinates. */
  void drag(UINT down, UINT up, WPARAM keys, int x, int y, int dx, int dy)
  {
    send(down, keys, x, y);
    send(WM_MOUSEMOVE, keys, x + dx / 2, y + dy / 2);
    const juce::Point<int> moved = window->getPosition() - start;
    send(WM_MOUSEMOVE, keys, x + dx - moved.x, y + dy - moved.y);
    const juce::Point<int> moved2 = window->getPosition() - start;
    send(up, 0, x + dx - moved2.x, y + dy - moved2.y);
  }

  std::unique_ptr<test::RecordingWindow> window;
  HWND hwnd = nullptr;
  juce::Point<int> start;
};

TEST_F(DragTest, LeftDragOnContentOrTitleBarMovesTheWindowByTheMousesTravel)
{
  struct Case {
    const char* where;
    int x, y, dx, dy;
  };
  const Case cases[] = {
      {"content", 200, 200, 30, 20},
      {"title bar", 150, 10, -45, 12},
      {"content again, from the new position", 60, 300, 7, -9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    start = window->getPosition();
    drag(WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, c.x, c.y, c.dx, c.dy);
    EXPECT_EQ(start + juce::Point<int>(c.dx, c.dy), window->getPosition());
    EXPECT_EQ(BContentBase::kNoDragOrigin, window->recordingContent()->dragStartX);
    EXPECT_EQ(BContentBase::kNoDragOrigin, window->recordingContent()->dragStartY);
  }
}

TEST_F(DragTest, RightDragMovesNothing)
{
  start = window->getPosition();
  drag(WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, 200, 200, 30, 20);
  EXPECT_EQ(start, window->getPosition());
  EXPECT_EQ(BContentBase::kNoDragOrigin, window->recordingContent()->dragStartX);
}

TEST_F(ContentBaseTest, DoubleClickMinimisesOnlyForTheLeftButtonOnTheTitleBar)
{
  test::RecordingWindow window(log);
  window.initialise("", false, false);
  BContentBase& content = *window.getContent();
  const int titleBar = window.getTitleBarHeight();
  ASSERT_GT(titleBar, 0);

  using Mods = juce::ModifierKeys;
  struct Case {
    const char* what;
    juce::Component* from;
    int flags;
    int y;
    bool minimises;
  };
  const Case cases[] = {
      {"left on the title bar", &window, Mods::leftButtonModifier, 5, true},
      {"left on the title bar's last row", &window, Mods::leftButtonModifier, titleBar - 1, true},
      {"left just below the title bar", &window, Mods::leftButtonModifier, titleBar, false},
      {"left and right on the title bar", &window,
       Mods::leftButtonModifier | Mods::rightButtonModifier, 5, false},
      {"middle on the title bar", &window, Mods::middleButtonModifier, 5, false},
      {"left on the content", &content, Mods::leftButtonModifier, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const juce::Point<float> at(50.0f, static_cast<float>(c.y));
    const juce::Time now = juce::Time::getCurrentTime();
    const juce::MouseEvent e(juce::Desktop::getInstance().getMainMouseSource(), at,
                             juce::ModifierKeys(c.flags), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, c.from,
                             c.from, now, at, now, 2, false);
    content.mouseDoubleClick(e);
    EXPECT_EQ(c.minimises, window.isMinimised());
    window.setMinimised(false);
  }
}

} // namespace
