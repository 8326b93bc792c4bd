# The x64 kernel images, built by a configuration of their own inside this build tree.
# Targets that need them depend on `x64_images`; the images are in HALDEN_X64_DRIVER_DIR.
include(ExternalProject)

set(HALDEN_X64_BINARY_DIR ${CMAKE_BINARY_DIR}/x64)
set(HALDEN_X64_DRIVER_DIR ${HALDEN_X64_BINARY_DIR}/drivers)
ExternalProject_Add(x64_images
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${HALDEN_X64_BINARY_DIR}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-x86_64.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}
  INSTALL_COMMAND ""
  # Images that i686 targets embed, so that the build knows where they come from.
  BUILD_BYPRODUCTS ${HALDEN_X64_DRIVER_DIR}/tamsin_driver.sys
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

# A Windows path (Wine's Z: drive maps the Unix root) for a file of the build tree.
function(halden_windows_path out unix_path)
  string(REPLACE "/" "\\" win "${unix_path}")
  set(${out} "Z:${win}" PARENT_SCOPE)
endfunction()
