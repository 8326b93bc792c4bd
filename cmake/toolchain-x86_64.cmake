# 64-bit x86 Windows: the x64 kernel images (the measuring driver and the
# stand-in drivers that Wine's 64-bit driver host runs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
