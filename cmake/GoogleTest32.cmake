# GoogleTest from Debian's sources, built with the cross compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Every test program is started by this x86_64 launcher on Wine's 64-bit loader, which reads the
# program's own exit code from Wine, and carries the exit witness that tells the launcher it
# reached its end (tools/gtest-run).
set(HALDEN_GTEST_LAUNCHER ${CMAKE_BINARY_DIR}/bin/gtest-launcher.exe)
add_custom_command(OUTPUT ${HALDEN_GTEST_LAUNCHER}
  COMMAND x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror -s
          -o ${HALDEN_GTEST_LAUNCHER} ${PROJECT_SOURCE_DIR}/tools/gtest-launcher.c
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/gtest-launcher.c
  COMMENT "Building the x86_64 gtest-launcher.exe")
add_custom_target(gtest_launcher ALL DEPENDS ${HALDEN_GTEST_LAUNCHER})
add_library(halden_exit_witness OBJECT ${PROJECT_SOURCE_DIR}/tests/support/exit_witness.c)

# halden_add_test(name SOURCES ... [LIBRARIES ...] [LABELS ...] [RESOURCE_LOCK ...])
# One GoogleTest program, run under Wine as one CTest test by tools/gtest-run, whose verdict is
# the program's own exit code.
function(halden_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock_main halden_exit_witness)
  add_dependencies(${name} gtest_launcher)
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/gtest-run --prefix ${CMAKE_BINARY_DIR}/wineprefix
            --launcher ${HALDEN_GTEST_LAUNCHER} $<TARGET_FILE:${name}>)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()
