// The application module (instance handles, the message loop of each GUI thread) and the
// message loop with its message filters and idle handlers.
#pragma once

#include <windows.h>

#include <vector>

namespace WTL {

// Sees every message of the thread before it is translated and dispatched; true consumes it.
class CMessageFilter {
public:
  virtual BOOL PreTranslateMessage(MSG* message) = 0;
};

// Called while the thread's queue is empty; false when there is nothing more to do.
class CIdleHandler {
public:
  virtual BOOL OnIdle() = 0;
};

class CMessageLoop {
public:
  virtual ~CMessageLoop() = default;

  BOOL AddMessageFilter(CMessageFilter* filter);
  BOOL RemoveMessageFilter(CMessageFilter* filter);
  BOOL AddIdleHandler(CIdleHandler* handler);
  BOOL RemoveIdleHandler(CIdleHandler* handler);

  // Runs until WM_QUIT and returns its wParam.
  int Run();

  // The newest filter first; true when one of them consumed the message.
  virtual BOOL PreTranslateMessage(MSG* message);
  // Calls every idle handler; true while any of them wants to be called again.
  virtual BOOL OnIdle(int idleCount);

  // Messages after which the idle handlers run again: not the ones that keep coming while
  // nothing changes (mouse moves on the spot, paints, the caret's blink timer).
  static bool IsIdleMessage(const MSG& message);

private:
  std::vector<CMessageFilter*> m_filters;
  std::vector<CIdleHandler*> m_idleHandlers;
  MSG m_msg = {};
};

class CAppModule {
public:
  CAppModule();
  ~CAppModule();
  CAppModule(const CAppModule&) = delete;
  CAppModule& operator=(const CAppModule&) = delete;

  HRESULT Init(HINSTANCE instance);
  void Term();

  // The program's own module until Init names another one.
  HINSTANCE GetModuleInstance() const
  {
    return m_instance != nullptr ? m_instance : ::GetModuleHandleA(nullptr);
  }
  HINSTANCE GetResourceInstance() const { return GetModuleInstance(); }

  // One loop per GUI thread, looked up by thread id under the module's lock.
  BOOL AddMessageLoop(CMessageLoop* loop);
  BOOL RemoveMessageLoop();
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId());

private:
  struct Entry {
    DWORD threadId;
    CMessageLoop* loop;
  };
  HINSTANCE m_instance;
  CRITICAL_SECTION m_lock;
  std::vector<Entry> m_loops;
};

// The process's one application module.
CAppModule& AppModule();

} // namespace WTL
