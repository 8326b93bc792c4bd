#include "TrMessageWindow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/** Writes down what it sees; handles the messages it is told to. */
class RecordingListener : public Tr::TWndMessageListener {
public:
  void queueReady(HWND window) override
  {
    calls.push_back("queueReady");
    readyWindow = window;
  }
  void handleMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                     std::int32_t* handled) override
  {
    calls.push_back("message " + std::to_string(message) + " " + std::to_string(wParam) + " " +
                    std::to_string(lParam));
    if (message == handle)
      *handled = 1;
  }

  /** The calls that begin with start. Under Wine a window now and then gets a message of the
      system's own while other programs run (a WM_PARENTNOTIFY, say); tests that count calls
      look at the ones they cause. */
  std::vector<std::string> only(const std::string& start) const
  {
    std::vector<std::string> result;
    for (const std::string& call : calls)
      if (call.compare(0, start.size(), start) == 0)
        result.push_back(call);
    return result;
  }

  std::vector<std::string> calls;
  HWND readyWindow = nullptr;
  UINT handle = 0;
};

/** Runs this thread's queue until it is empty. */
void pump()
{
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

TEST(MessageWindow, QueueReadyArrivesOnceWhenTheLoopRuns)
{
  RecordingListener listener;
  HWND window = Tr::openMessageWindow(&listener, Tr::TString("TrTestQueue"));
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(listener.only("queueReady").empty()); // not while the window is made
  pump();
  ASSERT_EQ(std::vector<std::string>{"queueReady"}, listener.only("queueReady"));
  EXPECT_EQ(window, listener.readyWindow);
  pump();
  EXPECT_EQ(1u, listener.only("queueReady").size());

  EXPECT_EQ(nullptr, GetParent(window));
  EXPECT_FALSE(IsWindowVisible(window));
  Tr::destroyMessageWindow(window);
  EXPECT_FALSE(IsWindow(window));
}

TEST(MessageWindow, QueueReadyIsRecognisedByItsNumberAndSecondParameter)
{
  RecordingListener listener;
  HWND window = Tr::createMessageWindow(Tr::TString("TrTestRecognise"), &listener);
  ASSERT_NE(nullptr, window);
  const UINT ready = Tr::WM_TR_QUEUEREADY;
  EXPECT_EQ(0x8C6u, ready);
  EXPECT_EQ(0, SendMessageW(window, ready, 7, ready)); // any WPARAM
  EXPECT_EQ(0, SendMessageW(window, ready, ready, 5)); // not ready: an ordinary message
  EXPECT_EQ((std::vector<std::string>{"queueReady", "message 2246 2246 5"}), listener.calls);
  Tr::destroyMessageWindow(window);
}

TEST(MessageWindow, UnhandledMessagesGetTheClassProcedureAnswerHandledOnesZero)
{
  RecordingListener listener;
  HWND window = Tr::createMessageWindow(Tr::TString("TrTestAnswer"), &listener);
  ASSERT_NE(nullptr, window);
  const auto* block =
      reinterpret_cast<const Tr::TMessageWindowBlock*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  ASSERT_NE(nullptr, block);
  EXPECT_NE(reinterpret_cast<LONG_PTR>(block->previousProc),
            reinterpret_cast<LONG_PTR>(&Tr::messageWindowProc));

  // WM_NCCREATE is a message that the class's procedure answers with non-zero.
  CREATESTRUCTW create = {};
  create.lpszName = L"TrTestAnswer";
  const auto lParam = reinterpret_cast<LPARAM>(&create);
  const LRESULT classAnswer = CallWindowProcW(block->previousProc, window, WM_NCCREATE, 0, lParam);
  ASSERT_NE(0, classAnswer);
  EXPECT_EQ(classAnswer, SendMessageW(window, WM_NCCREATE, 0, lParam));
  listener.handle = WM_NCCREATE;
  EXPECT_EQ(0, SendMessageW(window, WM_NCCREATE, 0, lParam));
  EXPECT_EQ(2u, listener.only("message " + std::to_string(WM_NCCREATE) + " ").size());
  Tr::destroyMessageWindow(window);
}

TEST(MessageWindow, BroadcastsReachTheListener)
{
  RecordingListener listener;
  HWND window = Tr::createMessageWindow(Tr::TString("TrTestBroadcast"), &listener);
  ASSERT_NE(nullptr, window);
  const UINT probe = RegisterWindowMessageA("TrTestBroadcastProbe");
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, probe, 1, 2, SMTO_ABORTIFHUNG, 2000, &result);
  EXPECT_EQ(std::vector<std::string>{"message " + std::to_string(probe) + " 1 2"},
            listener.only("message " + std::to_string(probe) + " "));
  Tr::destroyMessageWindow(window);
}

/** A listener that closes its own window in its destructor, as the device-change watcher
    does; it notes any call that reaches it after it began to go. */
class SelfClosingListener : public Tr::TWndMessageListener {
public:
  explicit SelfClosingListener(bool& calledLate) : calledLate(calledLate)
  {
    window = Tr::openMessageWindow(this, Tr::TString("TrTestSelfClosing"));
  }
  ~SelfClosingListener() override
  {
    dying = true;
    Tr::destroyMessageWindow(window);
  }
  void handleMessage(HWND, UINT, WPARAM, LPARAM, std::int32_t*) override
  {
    if (dying)
      calledLate = true;
  }
  void queueReady(HWND) override
  {
    if (dying)
      calledLate = true;
  }

  HWND window = nullptr;

private:
  bool& calledLate;
  bool dying = false;
};

TEST(MessageWindow, DestructionMessagesNeverReachTheListener)
{
  bool calledLate = false;
  HWND window;
  {
    SelfClosingListener listener(calledLate);
    window = listener.window;
    ASSERT_NE(nullptr, window);
    // The queue-ready message is still queued when the window goes.
  }
  EXPECT_FALSE(calledLate);
  EXPECT_FALSE(IsWindow(window));
  pump(); // a message for a window that is gone is dropped
  EXPECT_FALSE(calledLate);
}

TEST(MessageWindow, NullWindows)
{
  EXPECT_FALSE(Tr::postQueueReady(nullptr));
  Tr::destroyMessageWindow(nullptr);
}

TEST(ResourceBlock, LoadsBytesAndReleasesThem)
{
  HRSRC resource = FindResourceA(nullptr, "TRTEXT", "TRDATA");
  ASSERT_NE(nullptr, resource);
  Tr::TResourceBlock block;
  ASSERT_TRUE(block.load(nullptr, resource));
  EXPECT_NE(nullptr, block.handle);
  ASSERT_EQ(5u, block.size);
  EXPECT_EQ(0, memcmp(block.data, "hello", 5));
  block.release();
  EXPECT_EQ(nullptr, block.handle);
  EXPECT_EQ(nullptr, block.data);
  EXPECT_EQ(0u, block.size);
  block.release(); // nothing held: nothing changes
  EXPECT_EQ(nullptr, block.handle);
}

TEST(ResourceBlock, EmptyResourceLoads)
{
  HRSRC resource = FindResourceA(nullptr, "TREMPTY", "TRDATA");
  ASSERT_NE(nullptr, resource);
  Tr::TResourceBlock block;
  EXPECT_TRUE(block.load(nullptr, resource));
  EXPECT_EQ(0u, block.size);
}

TEST(RunFile, ShellAcceptsAProgramAndRefusesAMissingFile)
{
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  EXPECT_TRUE(Tr::runFile((std::string(system) + "\\hostname.exe").c_str()));
  EXPECT_FALSE(Tr::runFile("C:\\no such folder\\no such file.txt"));
}

} // namespace
