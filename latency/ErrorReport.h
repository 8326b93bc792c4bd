// The latency meter's fatal-error step, shared by every part of the program.
#pragma once

#include <windows.h>

// The main frame's window handle, as a pointer to the frame's own member: set just before the
// frame window is created and never cleared.
extern HWND* g_mainFrameWnd;

// Shows the printf-style text in a modal box with no owner, captioned "Error", with the
// error icon; then posts WM_CLOSE to the main frame if there is one. The caller goes on with
// its next step: the program ends when the frame handles the WM_CLOSE.
void reportErrorAndClose(const char* format, ...) __attribute__((format(ms_printf, 1, 2)));

// Test seam. A sink set here receives each text instead of the box (in-process tests). With
// no sink set, an environment variable TAMSIN_ERROR_LOG naming a file makes the program append
// each text to that file instead of showing the box (tests that drive the real program).
// WM_CLOSE is posted either way.
using ErrorTextSink = void (*)(const char* text);
ErrorTextSink setErrorTextSink(ErrorTextSink sink); // returns the sink set before
