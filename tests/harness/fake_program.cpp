// A GoogleTest program with one way of ending each (HARNESS_FAKE picks it), for the table of
// tools/gtest-run's verdicts. With HARNESS_LINGER_AT set, the program stops at that point of
// its end, makes the file HARNESS_LINGER_MARKER and waits there (for the harness's SIGKILL):
//   before-end  once RUN_ALL_TESTS has returned (its report is whole), before exit;
//   after-end   at its process's shutdown, once Wine holds its exit code and the exit witness
//               has seen the end.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

namespace {

// Win32 alone here and below: at shutdown the C library may be detached already.
bool lingerAt(const char* point)
{
  char at[32];
  DWORD length = GetEnvironmentVariableA("HARNESS_LINGER_AT", at, sizeof at);
  return length > 0 && length < sizeof at && lstrcmpA(at, point) == 0;
}

// Makes the marker and waits;
// the bound only keeps a harness that never kills from hanging for ever.
void markAndLinger()
{
  char marker[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("HARNESS_LINGER_MARKER", marker, sizeof marker);
  if (length == 0 || length >= sizeof marker)
    return;
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  CloseHandle(file);
  Sleep(300 * 1000);
}

// Lingers at the second DLL unloaded at shutdown: whichever of this callback and the exit
// witness's was registered first, the witness has seen the first by then.
typedef struct {
  ULONG flags;
  const void* fullName;
  const void* baseName;
  PVOID base;
  ULONG size;
} DllNotification;
typedef BOOLEAN(NTAPI* ShutdownInProgress)(void);
ShutdownInProgress shutdownInProgress;
int unloadsAtShutdown;

void CALLBACK lingerAfterEnd(ULONG reason, const DllNotification*, PVOID)
{
  if (reason == 2 && shutdownInProgress() && ++unloadsAtShutdown == 2 && lingerAt("after-end"))
    markAndLinger();
}

const bool lingerRegistered = [] {
  typedef LONG(NTAPI * Register)(ULONG, decltype(&lingerAfterEnd), PVOID, PVOID*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  shutdownInProgress = reinterpret_cast<ShutdownInProgress>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlDllShutdownInProgress")));
  PVOID cookie;
  return reinterpret_cast<Register>(reinterpret_cast<void (*)()>(GetProcAddress(
             ntdll, "LdrRegisterDllNotification")))(0, lingerAfterEnd, nullptr, &cookie) == 0;
}();

} // namespace

// Every test passes, and the program still ends with a code whose low 8 bits, all that a Linux
// exit status keeps, are 0: the verdict must name the whole code.
#if HARNESS_FAKE_EXITS_256
const int endingCode = 256;
#else
const int endingCode = 0;
#endif

#if HARNESS_FAKE_PASSING || HARNESS_FAKE_SOME_SKIPPED || HARNESS_FAKE_EXITS_256
TEST(Fake, Passes)
{
  SUCCEED();
}
#endif

#if HARNESS_FAKE_SOME_SKIPPED || HARNESS_FAKE_ALL_SKIPPED
TEST(Fake, Skips)
{
  GTEST_SKIP() << "the machine was too slow";
}
#endif

#if HARNESS_FAKE_TEARDOWN_FAILS
class FailingTearDown : public testing::Environment {
public:
  void TearDown() override { ADD_FAILURE() << "the environment could not be taken down"; }
};
testing::Environment* const failingTearDown =
    testing::AddGlobalTestEnvironment(new FailingTearDown);

TEST(Fake, Passes)
{
  SUCCEED();
}
#endif

#if HARNESS_FAKE_SETUP_SUITE_FAILS
class FailingSuite : public testing::Test {
protected:
  static void SetUpTestSuite() { FAIL() << "the suite could not be set up"; }
};

TEST_F(FailingSuite, NeverRuns)
{
  SUCCEED();
}
#endif

#if HARNESS_FAKE_CRASH_AT_EXIT
struct FaultsAtExit {
  ~FaultsAtExit() { __builtin_trap(); }
} faultsAtExit;

TEST(Fake, Passes)
{
  SUCCEED();
}
#endif

int main(int argc, char** argv)
{
  testing::InitGoogleTest(&argc, argv);
  // What is left is the program's own arguments, as its command line gave them.
  for (int i = 1; i < argc; ++i)
    std::printf("argument [%s]\n", argv[i]);
  std::fflush(stdout);
  int result = RUN_ALL_TESTS();
  if (lingerAt("before-end"))
    markAndLinger();
  return result != 0 ? result : endingCode;
}
