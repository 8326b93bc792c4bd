# JUCE 7 from Debian's juce-modules-source, compiled into a static library of our own
# (`juce_static`) for the configuration's mingw target, with zlib from libz-mingw-w64-dev and
# libpng and libjpeg-turbo built from Debian's source packages by tools/mingw-deps.
#
# Debian's JUCE CMake package refuses 32-bit targets, so it is not used: the modules' unity
# .cpp files are compiled here directly. The modules are copied into the build tree first,
# where two small mingw fixes are applied (cmake/JuceModulesCopy.cmake).
set(HALDEN_JUCE_SOURCE /usr/share/juce/modules CACHE PATH "JUCE modules of juce-modules-source")
set(HALDEN_JUCE_MODULES juce_core juce_events juce_data_structures juce_graphics juce_gui_basics)

if(NOT EXISTS ${HALDEN_JUCE_SOURCE}/juce_core/juce_core.h)
  message(FATAL_ERROR "JUCE modules not found in ${HALDEN_JUCE_SOURCE} (package juce-modules-source)")
endif()

# libpng and libjpeg-turbo: built once per build tree, seconds; the script keeps a stamp.
set(HALDEN_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
execute_process(
  COMMAND ${PROJECT_SOURCE_DIR}/tools/mingw-deps ${HALDEN_DEPS_DIR} ${CMAKE_TOOLCHAIN_FILE}
  RESULT_VARIABLE deps_rc)
if(NOT deps_rc EQUAL 0)
  message(FATAL_ERROR "tools/mingw-deps failed (${deps_rc})")
endif()
set(deps_prefix ${HALDEN_DEPS_DIR}/prefix)

# The patched copy of the modules, redone when the source or the fixes change.
set(HALDEN_JUCE_COPY ${CMAKE_BINARY_DIR}/juce/modules)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DSOURCE=${HALDEN_JUCE_SOURCE} -DDEST=${HALDEN_JUCE_COPY}
          "-DMODULES=${HALDEN_JUCE_MODULES}" -P ${CMAKE_CURRENT_LIST_DIR}/JuceModulesCopy.cmake
  RESULT_VARIABLE copy_rc)
if(NOT copy_rc EQUAL 0)
  message(FATAL_ERROR "copying the JUCE modules failed")
endif()

set(juce_sources)
foreach(module IN LISTS HALDEN_JUCE_MODULES)
  list(APPEND juce_sources ${HALDEN_JUCE_COPY}/${module}/${module}.cpp)
endforeach()

add_library(juce_static STATIC ${juce_sources})
target_include_directories(juce_static SYSTEM PUBLIC ${HALDEN_JUCE_COPY})
target_include_directories(juce_static SYSTEM PRIVATE ${deps_prefix}/include)
set(juce_definitions
  JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
  JUCE_STANDALONE_APPLICATION=1
  JUCE_WEB_BROWSER=0
  JUCE_USE_CURL=0
  JUCE_MODAL_LOOPS_PERMITTED=1
  JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_REPORT_APP_USAGE=0)
foreach(module IN LISTS HALDEN_JUCE_MODULES)
  list(APPEND juce_definitions JUCE_MODULE_AVAILABLE_${module}=1)
endforeach()
target_compile_definitions(juce_static PUBLIC ${juce_definitions})
# Third-party code: its warnings are not ours to fix.
target_compile_options(juce_static PRIVATE -w -Wa,-mbig-obj)
target_link_libraries(juce_static PUBLIC
  ${deps_prefix}/lib/libpng16.a
  ${deps_prefix}/lib/libjpeg.a
  ${CMAKE_FIND_ROOT_PATH}/lib/libz.a
  uuid wsock32 wininet version ole32 ws2_32 oleaut32 imm32 comdlg32 shlwapi rpcrt4 winmm dxgi
  gdi32 user32 shell32 comctl32 kernel32)
