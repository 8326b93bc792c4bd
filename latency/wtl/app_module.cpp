#include "app_module.h"

#include <algorithm>

namespace WTL {

namespace {

template <class T> BOOL AddOnce(std::vector<T*>& list, T* item)
{
  if (item == nullptr || std::find(list.begin(), list.end(), item) != list.end()) {
    return FALSE;
  }
  list.push_back(item);
  return TRUE;
}

template <class T> BOOL RemoveFrom(std::vector<T*>& list, T* item)
{
  auto it = std::find(list.begin(), list.end(), item);
  if (it == list.end()) {
    return FALSE;
  }
  list.erase(it);
  return TRUE;
}

} // namespace

BOOL CMessageLoop::AddMessageFilter(CMessageFilter* filter)
{
  return AddOnce(m_filters, filter);
}

BOOL CMessageLoop::RemoveMessageFilter(CMessageFilter* filter)
{
  return RemoveFrom(m_filters, filter);
}

BOOL CMessageLoop::AddIdleHandler(CIdleHandler* handler)
{
  return AddOnce(m_idleHandlers, handler);
}

BOOL CMessageLoop::RemoveIdleHandler(CIdleHandler* handler)
{
  return RemoveFrom(m_idleHandlers, handler);
}

int CMessageLoop::Run()
{
  bool doIdle = true;
  int idleCount = 0;
  for (;;) {
    while (doIdle && !::PeekMessageA(&m_msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) {
        doIdle = false;
      }
    }
    const BOOL got = ::GetMessageA(&m_msg, nullptr, 0, 0);
    if (got == -1) {
      continue;
    }
    if (!got) {
      break;
    }
    if (!PreTranslateMessage(&m_msg)) {
      ::TranslateMessage(&m_msg);
      ::DispatchMessageA(&m_msg);
    }
    if (IsIdleMessage(m_msg)) {
      doIdle = true;
      idleCount = 0;
    }
  }
  return static_cast<int>(m_msg.wParam);
}

BOOL CMessageLoop::PreTranslateMessage(MSG* message)
{
  // A filter may remove itself (or others) while it runs: walk by index, newest first.
  for (size_t i = m_filters.size(); i > 0; i--) {
    if (i <= m_filters.size() && m_filters[i - 1]->PreTranslateMessage(message)) {
      return TRUE;
    }
  }
  return FALSE;
}

BOOL CMessageLoop::OnIdle(int)
{
  BOOL again = FALSE;
  for (size_t i = 0; i < m_idleHandlers.size(); i++) {
    if (m_idleHandlers[i]->OnIdle()) {
      again = TRUE;
    }
  }
  return again;
}

bool CMessageLoop::IsIdleMessage(const MSG& message)
{
  switch (message.message) {
  case WM_MOUSEMOVE:
  case WM_NCMOUSEMOVE:
  case WM_PAINT:
  case 0x0118: // the system timer that blinks the caret
    return false;
  default:
    return true;
  }
}

CAppModule::CAppModule() : m_instance(nullptr)
{
  ::InitializeCriticalSection(&m_lock);
}

CAppModule::~CAppModule()
{
  ::DeleteCriticalSection(&m_lock);
}

HRESULT CAppModule::Init(HINSTANCE instance)
{
  m_instance = instance;
  return S_OK;
}

void CAppModule::Term()
{
  ::EnterCriticalSection(&m_lock);
  m_loops.clear();
  ::LeaveCriticalSection(&m_lock);
}

BOOL CAppModule::AddMessageLoop(CMessageLoop* loop)
{
  const DWORD thread = ::GetCurrentThreadId();
  BOOL added = FALSE;
  ::EnterCriticalSection(&m_lock);
  auto it = std::find_if(m_loops.begin(), m_loops.end(),
                         [thread](const Entry& e) { return e.threadId == thread; });
  if (it == m_loops.end() && loop != nullptr) {
    m_loops.push_back({thread, loop});
    added = TRUE;
  }
  ::LeaveCriticalSection(&m_lock);
  return added;
}

BOOL CAppModule::RemoveMessageLoop()
{
  const DWORD thread = ::GetCurrentThreadId();
  BOOL removed = FALSE;
  ::EnterCriticalSection(&m_lock);
  auto it = std::find_if(m_loops.begin(), m_loops.end(),
                         [thread](const Entry& e) { return e.threadId == thread; });
  if (it != m_loops.end()) {
    m_loops.erase(it);
    removed = TRUE;
  }
  ::LeaveCriticalSection(&m_lock);
  return removed;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId)
{
  CMessageLoop* loop = nullptr;
  ::EnterCriticalSection(&m_lock);
  for (const Entry& e : m_loops) {
    if (e.threadId == threadId) {
      loop = e.loop;
    }
  }
  ::LeaveCriticalSection(&m_lock);
  return loop;
}

CAppModule& AppModule()
{
  static CAppModule module;
  return module;
}

} // namespace WTL
