# cmake -DSOURCE=... -DDEST=... -DMODULES=a;b -P JuceModulesCopy.cmake
cmake_minimum_required(VERSION 3.25)
# Copies the JUCE modules into the build tree and applies the mingw fixes. A stamp keyed on
# this file and the source package keeps a second configure from copying again.
set(stamp ${DEST}/.stamp)
file(SHA256 ${CMAKE_CURRENT_LIST_FILE} recipe)
file(SHA256 ${SOURCE}/juce_core/juce_core.h source_key)
set(key "${recipe}-${source_key}-${MODULES}")
if(EXISTS ${stamp})
  file(READ ${stamp} old)
  if(old STREQUAL key)
    return()
  endif()
endif()

file(REMOVE_RECURSE ${DEST})
foreach(module IN LISTS MODULES)
  file(COPY ${SOURCE}/${module} DESTINATION ${DEST})
endforeach()

function(patch file from to)
  file(READ ${file} text)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file}: text to replace not found:\n${from}")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()

# 32-bit mingw: JUCE's replacement __uuidof breaks IID_PPV_ARGS; GCC's own works, and the
# COM classes that JUCE declares for mingw carry __CRT_UUID_DECL already.
patch(${DEST}/juce_core/native/juce_win32_ComSmartPtr.h
  "#if (JUCE_MINGW && JUCE_32BIT) || (! defined (_MSC_VER) && ! defined (__uuidof))"
  "#if (! defined (_MSC_VER) && ! defined (__uuidof))")

# The system libjpeg path lacks the mingw declaration of `boolean` that the bundled path has:
# windows.h's rpcndr.h defines it globally, and jconfig.h then leaves it out of the namespace.
if("juce_graphics" IN_LIST MODULES)
  patch(${DEST}/juce_graphics/image_formats/juce_JPEGLoader.cpp
    "#else
    #define JPEG_INTERNALS
    #undef FAR
    #include <jpeglib.h>"
    "#else
    #if JUCE_MINGW
     typedef unsigned char boolean;
    #endif
    #define JPEG_INTERNALS
    #undef FAR
    #include <jpeglib.h>")
endif()

file(WRITE ${stamp} "${key}")
