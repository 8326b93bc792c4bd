/* Holds a Wine session open until wineserver is told to end it. Started by tools/wine-run
   with its standard streams on /dev/null, so that the session's own processes (services,
   driver hosts) do not inherit the output of whichever test happened to come first. */
#include <windows.h>

int main(void)
{
  Sleep(INFINITE);
  return 0;
}
