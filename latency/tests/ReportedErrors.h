// Catches what reportErrorAndClose reports, in place of the message box, and stands in for
// the main frame to count the WM_CLOSE messages it posts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ReportedErrors {
public:
  ReportedErrors();
  ~ReportedErrors();
  ReportedErrors(const ReportedErrors&) = delete;
  ReportedErrors& operator=(const ReportedErrors&) = delete;

  const std::vector<std::string>& texts() const;
  // Forgets the texts, the ones already shown included, and the WM_CLOSE messages posted.
  void clear();
  // WM_CLOSE messages posted to the stand-in frame since the last call.
  int closesPosted();
  HWND frame() const { return frame_; }

private:
  HWND frame_;
  HWND* previousFrame_;
};
