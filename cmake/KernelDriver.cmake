# halden_add_kernel_driver(name SOURCES ... [INCLUDES ...] [DEFINITIONS ...])
# A WDM kernel image <name>.sys for the configuration's architecture, written to
# HALDEN_DRIVER_DIR. After linking, the image is checked: native subsystem, and imports
# from the kernel and the HAL only.
function(halden_add_kernel_driver name)
  cmake_parse_arguments(ARG "" "" "SOURCES;INCLUDES;DEFINITIONS" ${ARGN})
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(entry DriverEntry)
    set(image_base 0x140000000)
  else()
    set(entry _DriverEntry@8)
    set(image_base 0x10000)
  endif()

  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    SUFFIX .sys
    RUNTIME_OUTPUT_DIRECTORY ${HALDEN_DRIVER_DIR}
    CXX_EXTENSIONS ON)
  target_include_directories(${name} SYSTEM PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES})
  target_compile_definitions(${name} PRIVATE
    _KERNEL_MODE
    __INTRINSIC_DEFINED_InterlockedBitTestAndSet
    __INTRINSIC_DEFINED_InterlockedBitTestAndReset
    ${ARG_DEFINITIONS})
  target_compile_options(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics -fcheck-new>
    -fno-stack-protector -fno-asynchronous-unwind-tables -ffreestanding -fno-builtin
    -mno-stack-arg-probe)
  # Replaces the user-mode link options that the directory hands down.
  set_target_properties(${name} PROPERTIES LINK_OPTIONS
    "-nostdlib;-Wl,--subsystem,native;-Wl,--entry,${entry};-Wl,--image-base,${image_base};-Wl,--file-alignment,0x200;-Wl,--section-alignment,0x1000;-Wl,--dynamicbase;-Wl,--nxcompat;-s")
  target_link_libraries(${name} PRIVATE ntoskrnl hal gcc)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DIMAGE=$<TARGET_FILE:${name}>
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckKernelImage.cmake
    VERBATIM)
endfunction()
