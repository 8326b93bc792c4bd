# 32-bit x86 Windows, the shipping architecture: programs, the DLL, the tests,
# and the x86 image of the measuring driver.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
