#include "ErrorReport.h"

#include <cstdarg>
#include <cstdio>

HWND* g_mainFrameWnd = nullptr;

namespace {

ErrorTextSink g_sink = nullptr;

// True when the environment asks for the texts in a file; the text is then written there.
bool AppendToErrorLog(const char* text)
{
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("TAMSIN_ERROR_LOG", path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) {
    return false;
  }
  FILE* log = std::fopen(path, "ab");
  if (log == nullptr) {
    return false;
  }
  std::fputs(text, log);
  std::fclose(log);
  return true;
}

} // namespace

ErrorTextSink setErrorTextSink(ErrorTextSink sink)
{
  ErrorTextSink previous = g_sink;
  g_sink = sink;
  return previous;
}

void reportErrorAndClose(const char* format, ...)
{
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  text[sizeof(text) - 1] = 0;

  if (g_sink != nullptr) {
    g_sink(text);
  } else if (!AppendToErrorLog(text)) {
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR);
  }
  // Before the frame window exists the handle is still null: nothing to close then.
  if (g_mainFrameWnd != nullptr && *g_mainFrameWnd != nullptr) {
    PostMessageA(*g_mainFrameWnd, WM_CLOSE, 0, 0);
  }
}
