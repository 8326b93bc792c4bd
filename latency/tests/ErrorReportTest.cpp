// The fatal-error step: the text as formatted, and the WM_CLOSE to the main frame.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ErrorReport.h"
#include "ReportedErrors.h"

namespace {

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
  HWND notYetCreated = nullptr;
  g_mainFrameWnd = &notYetCreated;
  reportErrorAndClose("Run: IsAdmin failed with error 0x%08X.\n", 5u);
  g_mainFrameWnd = nullptr;
  reportErrorAndClose("early\n");
  EXPECT_EQ(errors.texts().size(), 2u);
  g_mainFrameWnd = nullptr;
  EXPECT_EQ(errors.closesPosted(), 0);
}

// What a test of the whole program uses: the texts land in a file instead of a box.
TEST(ErrorReport, WithoutASinkTheEnvironmentCanSendTheTextsToAFile)
{
  char directory[MAX_PATH];
  GetTempPathA(sizeof(directory), directory);
  char path[MAX_PATH];
  GetTempFileNameA(directory, "err", 0, path);
  DeleteFileA(path);
  ASSERT_TRUE(SetEnvironmentVariableA("TAMSIN_ERROR_LOG", path));
  reportErrorAndClose("first %d\n", 1);
  reportErrorAndClose("second\n");
  SetEnvironmentVariableA("TAMSIN_ERROR_LOG", nullptr);
  std::ifstream log(path, std::ios::binary);
  std::stringstream content;
  content << log.rdbuf();
  log.close();
  DeleteFileA(path);
  EXPECT_EQ(content.str(), "first 1\nsecond\n");
}

} // namespace
