// Looks for a top-level window by its name, from a process of its own, as another program
// finds the control panel's windows: tr_find_window NAME HANDLE. The handle is the one the
// name must lead to (other windows of that name may exist beside it). Exit code 0 when
// FindWindowEx finds it by the name and its text reads back as the name, 1 when the name does
// not lead to it, 2 when its text differs, 3 for a wrong command line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
  if (argc != 3)
    return 3;
  const char* const name = argv[1];
  const HWND wanted = reinterpret_cast<HWND>(std::strtoul(argv[2], nullptr, 0));
  HWND found = nullptr;
  while ((found = FindWindowExA(nullptr, found, nullptr, name)) != nullptr) {
    if (found == wanted)
      break;
  }
  if (found == nullptr) {
    std::printf("no window named \"%s\" is %p\n", name, static_cast<void*>(wanted));
    return 1;
  }
  char text[256] = {};
  GetWindowTextA(found, text, sizeof text);
  if (std::strcmp(text, name) != 0) {
    std::printf("the window's text reads \"%s\"\n", text);
    return 2;
  }
  return 0;
}
