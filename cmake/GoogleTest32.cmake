# GoogleTest from Debian's sources, built with the cross compiler.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# halden_add_test(name SOURCES ... [LIBRARIES ...] [LABELS ...] [RESOURCE_LOCK ...])
# One GoogleTest program, run under Wine as one CTest test (by tools/gtest-run, which reads
# the program's report when the emulated program was killed after its end).
function(halden_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock_main)
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/gtest-run --prefix ${CMAKE_BINARY_DIR}/wineprefix
            $<TARGET_FILE:${name}>)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()
