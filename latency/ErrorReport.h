// The latency meter's fatal-error step, shared by every part of the program.
#pragma once

#include <windows.h>

// The main frame's window handle, as a pointer to the frame's own member: set just before the
// frame window is created and never cleared.
extern HWND* g_mainFrameWnd;

// Shows the printf-style text in a modal box with no owner, captioned "Error", with the
// error icon; then posts WM_CLOSE to the main frame if there is one. The caller goes on with
// its next step: the program ends when the frame handles the WM_CLOSE.
// A text that was shown once is not shown again (the uninstall at exit meets the failures of
// the one at start-up again), but it still asks the frame to close.
void reportErrorAndClose(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));

// True while one of these boxes is open. Its modal loop dispatches the thread's messages, the
// frame's WM_CLOSE among them; the frame must not go away under the code that reported.
bool IsErrorBoxOpen();

// For tests in the program's own process: a sink set here receives each text instead of the
// box. Setting a sink, or none, also forgets which texts were shown. WM_CLOSE is posted either
// way.
using ErrorTextSink = void (*)(const char* text);
ErrorTextSink setErrorTextSink(ErrorTextSink sink); // returns the sink set before
