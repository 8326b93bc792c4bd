// Tamsin's identity and start-up: the single-instance name, the product name and version,
// and the maker's link.
#pragma once

#include <windows.h>

// The single-instance mutex, and the class name of the main frame's window, by which a
// second start finds the first.
#define APP_INSTANCE_NAME "{10E261FD-CE20-406e-8C31-BDCBC04EA51D}"

#define PRODUCT_NAME "Ravelin"
#define PRODUCT_VERSION_MAJOR 1u
#define PRODUCT_VERSION_MINOR 1u
#define PRODUCT_VERSION_BUILD 0u

// The maker's web site: the About box links to it, the status bar without the last slash.
#define MAKER_URL "http://www.halden.example/"
#define MAKER_URL_PANE "http://www.halden.example"

// Exit codes of Run.
enum : int {
  RUN_NOT_STARTED = 0, // the version check failed, or the frame could not be created
  RUN_REFUSED = 1,     // another instance runs, or the user is not an administrator
};

int Run(int showCommand);
// Whether the calling thread's token is in BUILTIN\Administrators; 0 or a Win32 error code.
DWORD IsAdmin(bool& isMember);
