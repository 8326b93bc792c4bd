// The fatal-error step: the text as formatted, each text once, and the WM_CLOSE to the main
// frame.
#include <windows.h>

#include <gtest/gtest.h>

#include "ErrorReport.h"
#include "ReportedErrors.h"

namespace {

// Every WM_CLOSE in this thread's queue, whatever window it is for (none: a thread message).
int closesInQueue()
{
  int count = 0;
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
    count++;
  }
  return count;
}

TEST(ErrorReport, TheFormattedTextGoesToTheSinkAndTheFrameIsAskedToClose)
{
  ReportedErrors errors;
  reportErrorAndClose("IOCTL 0x%08X failed, err=0x%08X\n", 0x81772008u, 0x1Fu);
  reportErrorAndClose("InstallDrv: fopen failed to create '%s'.\n", "C:\\x.sys");
  EXPECT_EQ(errors.texts(), std::vector<std::string>({"IOCTL 0x81772008 failed, err=0x0000001F\n",
                                                      "InstallDrv: fopen failed to create "
                                                      "'C:\\x.sys'.\n"}));
  EXPECT_EQ(errors.closesPosted(), 2);
}

TEST(ErrorReport, NothingIsPostedBeforeTheFrameWindowExists)
{
  ReportedErrors errors;
  closesInQueue();
  HWND* const frameBefore = g_mainFrameWnd;
  HWND notYetCreated = nullptr;
  g_mainFrameWnd = &notYetCreated;
  reportErrorAndClose("Run: IsAdmin failed with error 0x%08X.\n", 5u);
  g_mainFrameWnd = nullptr;
  reportErrorAndClose("early\n");
  g_mainFrameWnd = frameBefore;
  EXPECT_EQ(errors.texts().size(), 2u);
  // A null window would have made it a message to this thread.
  EXPECT_EQ(closesInQueue(), 0);
}

TEST(ErrorReport, ATextComesOnceButEveryReportAsksTheFrameToClose)
{
  ReportedErrors errors;
  reportErrorAndClose("UninstallDrv: DeleteFile failed with error 0x%08X\n", 5u);
  reportErrorAndClose("LoadDriver failed, Status=0x%08X\n", 5u);
  reportErrorAndClose("UninstallDrv: DeleteFile failed with error 0x%08X\n", 5u);
  reportErrorAndClose("UninstallDrv: DeleteFile failed with error 0x%08X\n", 32u);
  EXPECT_EQ(errors.texts(), std::vector<std::string>({
                                "UninstallDrv: DeleteFile failed with error 0x00000005\n",
                                "LoadDriver failed, Status=0x00000005\n",
                                "UninstallDrv: DeleteFile failed with error 0x00000020\n",
                            }));
  EXPECT_EQ(errors.closesPosted(), 4);

  // A new sink starts afresh.
  errors.clear();
  reportErrorAndClose("LoadDriver failed, Status=0x%08X\n", 5u);
  EXPECT_EQ(errors.texts(), std::vector<std::string>({"LoadDriver failed, Status=0x00000005\n"}));
}

bool openWhileShown = false;
void noteWhetherOpen(const char*)
{
  openWhileShown = IsErrorBoxOpen();
}

TEST(ErrorReport, TheBoxCountsAsOpenOnlyWhileItIsShown)
{
  ReportedErrors errors;
  EXPECT_FALSE(IsErrorBoxOpen());
  const ErrorTextSink before = setErrorTextSink(noteWhetherOpen);
  openWhileShown = false;
  reportErrorAndClose("Start failed, Status=0x%08X\n", 0xEEE00001u);
  EXPECT_TRUE(openWhileShown);
  EXPECT_FALSE(IsErrorBoxOpen());
  // Not shown again, so not open either.
  openWhileShown = false;
  reportErrorAndClose("Start failed, Status=0x%08X\n", 0xEEE00001u);
  EXPECT_FALSE(openWhileShown);
  setErrorTextSink(before);
}

} // namespace
