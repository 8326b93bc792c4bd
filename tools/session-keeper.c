/* Holds a Wine session open until wineserver is told to end it. Started by tools/wine-run
   with its standard streams on /dev/null, so that the session's own processes (services,
   driver hosts) do not inherit the output of whichever test happened to come first.

   The desktop's process is one of those: Wine starts it for the first program that asks for
   the desktop, with that program's streams, and it stays while any program uses the desktop.
   A test that came first would hold CTest's pipe open until the last GUI test of the run had
   ended. So the keeper uses the desktop itself, and `session-keeper desktop` (run by
   tools/wine-run before any program of the caller's) makes sure the desktop runs, and ends. */
#include <string.h>
#include <windows.h>

int main(int argc, char** argv)
{
  GetDesktopWindow();
  if (argc > 1 && strcmp(argv[1], "desktop") == 0) {
    return 0;
  }
  Sleep(INFINITE);
  return 0;
}
