#include "ErrorReport.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

HWND* g_mainFrameWnd = nullptr;

namespace {

ErrorTextSink g_sink = nullptr;
int g_openBoxes = 0;
std::vector<std::string> g_shownTexts;

// True the first time a text comes; it is remembered then.
bool FirstTime(const char* text)
{
  for (const std::string& shown : g_shownTexts) {
    if (shown == text) {
      return false;
    }
  }
  g_shownTexts.push_back(text);
  return true;
}

} // namespace

ErrorTextSink setErrorTextSink(ErrorTextSink sink)
{
  ErrorTextSink previous = g_sink;
  g_sink = sink;
  g_shownTexts.clear();
  return previous;
}

bool IsErrorBoxOpen()
{
  return g_openBoxes > 0;
}

void reportErrorAndClose(const char* format, ...)
{
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  text[sizeof(text) - 1] = 0;

  if (FirstTime(text)) {
    g_openBoxes++;
    if (g_sink != nullptr) {
      g_sink(text);
    } else {
      MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR);
    }
    g_openBoxes--;
  }
  // Before the frame window exists the handle is still null: nothing to close then.
  if (g_mainFrameWnd != nullptr && *g_mainFrameWnd != nullptr) {
    PostMessageA(*g_mainFrameWnd, WM_CLOSE, 0, 0);
  }
}
