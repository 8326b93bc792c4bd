#include "ReportedErrors.h"

#include "ErrorReport.h"

namespace {

std::vector<std::string> g_texts;

void Collect(const char* text)
{
  g_texts.push_back(text);
}

} // namespace

ReportedErrors::ReportedErrors()
    : frame_(CreateWindowExA(0, "STATIC", "frame", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                             nullptr)),
      previousFrame_(g_mainFrameWnd)
{
  g_texts.clear();
  setErrorTextSink(Collect);
  g_mainFrameWnd = &frame_;
}

ReportedErrors::~ReportedErrors()
{
  g_mainFrameWnd = previousFrame_;
  setErrorTextSink(nullptr);
  DestroyWindow(frame_);
}

const std::vector<std::string>& ReportedErrors::texts() const
{
  return g_texts;
}

void ReportedErrors::clear()
{
  g_texts.clear();
  // A fresh start: texts shown before may come again.
  setErrorTextSink(Collect);
  closesPosted();
}

int ReportedErrors::closesPosted()
{
  int count = 0;
  MSG message;
  while (PeekMessageA(&message, frame_, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
    count++;
  }
  return count;
}
