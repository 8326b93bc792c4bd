#include "TrMessageWindow.h"

#include "freed_memory_guard.h"
#include "worker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
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

const Tr::TMessageWindowBlock* blockOf(HWND window)
{
  return reinterpret_cast<const Tr::TMessageWindowBlock*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

/** Destroys its window from inside one of its own calls, and lets the message go on. */
class SelfDestroyingListener : public Tr::TWndMessageListener {
public:
  explicit SelfDestroyingListener(std::function<void(HWND)> destroy) : destroy(std::move(destroy))
  {
  }
  void queueReady(HWND window) override
  {
    if (inQueueReady)
      destroy(window);
  }
  void handleMessage(HWND window, UINT message, WPARAM, LPARAM, std::int32_t*) override
  {
    if (message == trigger)
      destroy(window);
  }

  std::function<void(HWND)> destroy;
  UINT trigger = 0;
  bool inQueueReady = false;
};

// Deleted memory is unreadable in this program: a window procedure that read the record after
// the window went would fault.
TEST(MessageWindow, AListenerMayDestroyItsWindowInsideItsOwnCall)
{
  const UINT trigger = RegisterWindowMessageA("TrTestSelfDestroy");
  struct Case {
    const char* how;
    std::function<void(HWND)> destroy;
    bool inQueueReady;
  };
  const Case cases[] = {
      {"DestroyWindow in handleMessage", [](HWND w) { DestroyWindow(w); }, false},
      {"destroyMessageWindow in handleMessage", [](HWND w) { Tr::destroyMessageWindow(w); }, false},
      {"destroyMessageWindow in queueReady", [](HWND w) { Tr::destroyMessageWindow(w); }, true},
  };
  for (const Case& c : cases) {
    SelfDestroyingListener listener(c.destroy);
    listener.trigger = trigger;
    listener.inQueueReady = c.inQueueReady;
    HWND window = Tr::createMessageWindow(Tr::TString("TrTestSelfDestroy"), &listener);
    ASSERT_NE(nullptr, window);
    const Tr::TMessageWindowBlock* block = blockOf(window);
    ASSERT_NE(nullptr, block);
    const UINT message = c.inQueueReady ? Tr::WM_TR_QUEUEREADY : trigger;
    EXPECT_EQ(0, SendMessageW(window, message, 0, static_cast<LPARAM>(message))) << c.how;
    EXPECT_FALSE(IsWindow(window)) << c.how;
    EXPECT_TRUE(test::isDeleted(block)) << c.how << ": the record outlives its window";
  }
}

/** A thread of its own that makes a message window and runs its queue until it is told to
    close the window itself. */
class WindowThread {
public:
  explicit WindowThread(Tr::TWndMessageListener* windowListener) : listener(windowListener)
  {
    ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, &WindowThread::entry, this, 0, &threadId);
    WaitForSingleObject(ready, 30000);
  }
  ~WindowThread()
  {
    PostThreadMessageW(threadId, closeMessage, 0, 0);
    if (WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0)
      TerminateThread(thread, 1);
    CloseHandle(thread);
    CloseHandle(ready);
  }
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  HWND window = nullptr;

private:
  static constexpr UINT closeMessage = WM_APP + 1;

  static DWORD WINAPI entry(void* self)
  {
    auto* const me = static_cast<WindowThread*>(self);
    me->window = Tr::createMessageWindow(Tr::TString("TrTestOtherThread"), me->listener);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before anyone posts
    SetEvent(me->ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == closeMessage) {
        Tr::destroyMessageWindow(me->window);
        break;
      }
      DispatchMessageW(&msg);
    }
    return 0;
  }

  Tr::TWndMessageListener* listener;
  HANDLE ready = nullptr;
  HANDLE thread = nullptr;
  DWORD threadId = 0;
};

// DestroyWindow from a thread that does not own the window is refused: the window and its
// record stay, messages reach the class's procedure, and the owner can still close it.
TEST(MessageWindow, ClosingFromAnotherThreadFreesNothing)
{
  RecordingListener listener;
  const UINT probe = RegisterWindowMessageA("TrTestOtherThreadProbe");
  const Tr::TMessageWindowBlock* block = nullptr;
  {
    WindowThread owner(&listener);
    ASSERT_NE(nullptr, owner.window);
    block = blockOf(owner.window);
    ASSERT_NE(nullptr, block);

    Tr::destroyMessageWindow(owner.window);
    ASSERT_TRUE(IsWindow(owner.window));
    EXPECT_FALSE(test::isDeleted(block));
    EXPECT_EQ(nullptr, block->listener);
    DWORD_PTR answer = 1;
    EXPECT_NE(0, SendMessageTimeoutW(owner.window, probe, 1, 2, SMTO_NORMAL, 30000, &answer));
    EXPECT_EQ(0u, answer); // the class's procedure answered
    EXPECT_TRUE(listener.only("message " + std::to_string(probe) + " ").empty());
  }
  EXPECT_TRUE(test::isDeleted(block));
}

/** Runs the command line and waits for its exit code, running this thread's queue meanwhile.
    -1 when it does not start or does not end within half a minute. */
int runProgram(const std::string& commandLine)
{
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  const DWORD start = GetTickCount();
  DWORD code = static_cast<DWORD>(-1);
  while (GetTickCount() - start < 30000) {
    if (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 1000, QS_ALLINPUT) ==
        WAIT_OBJECT_0) {
      GetExitCodeProcess(process.hProcess, &code);
      break;
    }
    pump();
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

std::string findWindowProgram()
{
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.erase(folder.find_last_of('\\') + 1);
  return "\"" + folder + "tr_find_window.exe\"";
}

// Other programs find the device-change window by its name.
TEST(MessageWindow, KeepsItsNameForOtherPrograms)
{
  RecordingListener listener;
  const char* const name = "ASIODevChangeMsgQueue";
  HWND window = Tr::openMessageWindow(&listener, Tr::TString(name));
  ASSERT_NE(nullptr, window);
  char text[64] = {};
  EXPECT_EQ(static_cast<int>(std::strlen(name)), GetWindowTextA(window, text, sizeof text));
  EXPECT_STREQ(name, text);

  char handle[32];
  std::snprintf(handle, sizeof handle, "0x%lx",
                static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
  const std::string findIt = findWindowProgram() + " " + name + " " + handle;
  EXPECT_EQ(0, runProgram(findIt));
  pump();
  EXPECT_EQ(std::vector<std::string>{"queueReady"}, listener.only("queueReady"));

  Tr::destroyMessageWindow(window);
  EXPECT_EQ(1, runProgram(findIt));
}

// Under Wine a parentless window of the class "Message" becomes the desktop's own message
// window when the desktop has none at that moment (as when another program made the one that
// was there and has ended): DestroyWindow then refuses it and broadcasts pass it by. A desktop
// of the test's own has none at all.
TEST(MessageWindow, IsAnOrdinaryTopLevelWindowOnADesktopWithoutAMessageWindow)
{
  char name[64];
  std::snprintf(name, sizeof name, "TrTestDesktop%lu", GetCurrentProcessId());
  HDESK desktop = CreateDesktopA(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ASSERT_NE(nullptr, desktop);
  RecordingListener listener;
  HWND window = nullptr;
  HWND parent = nullptr;
  HWND desktopWindow = nullptr;
  bool gone = false;
  bool recordDeleted = false;
  {
    test::Worker worker([&] {
      if (!SetThreadDesktop(desktop))
        return;
      window = Tr::createMessageWindow(Tr::TString("TrTestOwnDesktop"), &listener);
      if (window == nullptr)
        return;
      parent = GetAncestor(window, GA_PARENT);
      desktopWindow = GetDesktopWindow();
      const Tr::TMessageWindowBlock* block = blockOf(window);
      Tr::destroyMessageWindow(window);
      gone = !IsWindow(window);
      recordDeleted = test::isDeleted(block);
    });
    EXPECT_TRUE(worker.join());
  }
  CloseDesktop(desktop);
  ASSERT_NE(nullptr, window);
  EXPECT_NE(nullptr, desktopWindow);
  EXPECT_EQ(desktopWindow, parent);
  EXPECT_TRUE(gone);
  EXPECT_TRUE(recordDeleted);
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
