// Which Wine process hosts a kernel driver. Wine's service manager reports no process for a
// driver service, so the hosts are found on the Unix side, through drive Z:.
#pragma once

#include <string>
#include <vector>

namespace test {

// The program paths, as Windows paths in lower case, of the winedevice.exe processes of this
// program's Wine session (its WINEPREFIX) that have a kernel image of this file name mapped.
// Wine hosts a PE32 image in the syswow64 one and an x64 image in the system32 one.
std::vector<std::string> driverHostPrograms(const char* imageFileName);

} // namespace test
