/* Runs one test program for tools/gtest-run and writes down how it ended.
 *
 *   gtest-launcher.exe VERDICT_FILE PROGRAM [ARGS...]
 *
 * Built for x86_64 and run on Wine's 64-bit loader, so it is never emulated itself. Where
 * 32-bit code runs under qemu-user, the wineserver can SIGKILL a test program whose Linux
 * process is slow to go after its end, and the Linux exit status then says nothing about the
 * program. Wine has recorded the program's own exit code by then, and the launcher reads it.
 * Exit code 0 is also what Wine records for a program whose Linux process died before its
 * end, so the launcher also tells whether the program's exit witness (exit_witness.c) saw it
 * reach its end.
 *
 * VERDICT_FILE gets "exit-code 0xXXXXXXXX" and "witnessed yes|no", written whole (through a
 * rename) before the launcher ends; no file means that the launcher never learnt the end. */
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static void fail(const char* what)
{
  fprintf(stderr, "tools/gtest-run: the launcher could not %s (error %lu)\n", what, GetLastError());
  fflush(stderr);
  ExitProcess(2);
}

/* Appends one argument as the C runtime's command-line parser reads it back. */
static void appendArgument(wchar_t* line, size_t* used, const wchar_t* arg)
{
  size_t n = *used;
  if (n > 0)
    line[n++] = L' ';
  if (arg[0] != L'\0' && wcspbrk(arg, L" \t\n\v\"") == NULL) {
    size_t length = wcslen(arg);
    memcpy(line + n, arg, length * sizeof(wchar_t));
    *used = n + length;
    return;
  }
  line[n++] = L'"';
  for (const wchar_t* p = arg;; ++p) {
    size_t backslashes = 0;
    while (*p == L'\\') {
      ++backslashes;
      ++p;
    }
    if (*p == L'\0') {
      /* Doubled, so that the closing quote stays a quote. */
      for (size_t i = 0; i < 2 * backslashes; ++i)
        line[n++] = L'\\';
      break;
    }
    if (*p == L'"') {
      for (size_t i = 0; i < 2 * backslashes + 1; ++i)
        line[n++] = L'\\';
    } else {
      for (size_t i = 0; i < backslashes; ++i)
        line[n++] = L'\\';
    }
    line[n++] = *p;
  }
  line[n++] = L'"';
  *used = n;
}

static void inheritStandardHandle(DWORD which, HANDLE* handle)
{
  *handle = GetStdHandle(which);
  if (*handle != NULL && *handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(*handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

int wmain(int argc, wchar_t** argv)
{
  if (argc < 3) {
    fprintf(stderr, "usage: gtest-launcher.exe VERDICT_FILE PROGRAM [ARGS...]\n");
    return 2;
  }
  const wchar_t* verdictPath = argv[1];

  /* Each character can at worst double, plus quotes and a separator. */
  size_t room = 1;
  for (int i = 2; i < argc; ++i)
    room += 2 * wcslen(argv[i]) + 3;
  wchar_t* line = HeapAlloc(GetProcessHeap(), 0, room * sizeof(wchar_t));
  if (line == NULL)
    fail("allocate the command line");
  size_t used = 0;
  for (int i = 2; i < argc; ++i)
    appendArgument(line, &used, argv[i]);
  line[used] = L'\0';

  STARTUPINFOW startup = {.cb = sizeof startup, .dwFlags = STARTF_USESTDHANDLES};
  inheritStandardHandle(STD_INPUT_HANDLE, &startup.hStdInput);
  inheritStandardHandle(STD_OUTPUT_HANDLE, &startup.hStdOutput);
  inheritStandardHandle(STD_ERROR_HANDLE, &startup.hStdError);
  PROCESS_INFORMATION child;
  if (!CreateProcessW(argv[2], line, NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup,
                      &child))
    fail("start the program");

  /* Made before the program runs a single instruction, so its end can always find it. */
  wchar_t name[48];
  swprintf(name, sizeof name / sizeof name[0], L"halden-gtest-ended-%lu", child.dwProcessId);
  HANDLE ended = CreateEventW(NULL, TRUE, FALSE, name);
  if (ended == NULL) {
    TerminateProcess(child.hProcess, 1);
    fail("make the program's end event");
  }
  if (ResumeThread(child.hThread) == (DWORD)-1) {
    TerminateProcess(child.hProcess, 1);
    fail("resume the program");
  }
  CloseHandle(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code;
  if (!GetExitCodeProcess(child.hProcess, &code))
    fail("read the program's exit code");
  BOOL witnessed = WaitForSingleObject(ended, 0) == WAIT_OBJECT_0;

  size_t pathLength = wcslen(verdictPath);
  wchar_t* partPath = HeapAlloc(GetProcessHeap(), 0, (pathLength + 6) * sizeof(wchar_t));
  if (partPath == NULL)
    fail("allocate the verdict's path");
  swprintf(partPath, pathLength + 6, L"%ls.part", verdictPath);
  char text[64];
  int length = snprintf(text, sizeof text, "exit-code 0x%08lX\nwitnessed %s\n", code,
                        witnessed ? "yes" : "no");
  HANDLE file =
      CreateFileW(partPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written;
  if (file == INVALID_HANDLE_VALUE || !WriteFile(file, text, (DWORD)length, &written, NULL) ||
      written != (DWORD)length || !FlushFileBuffers(file) || !CloseHandle(file) ||
      !MoveFileExW(partPath, verdictPath, MOVEFILE_REPLACE_EXISTING))
    fail("write the verdict");
  return code == 0 && witnessed ? 0 : 1;
}
