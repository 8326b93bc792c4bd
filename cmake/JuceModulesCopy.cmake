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

# Wine has no IDXGIOutput::WaitForVBlank (E_NOTIMPL). JUCE 7 hands a window's repaints to
# Windows only on a vblank, so under Wine a window painted once and never again, while the
# vblank thread retried every millisecond. When the output cannot wait for vblanks, the thread
# now ends and the windows invalidate at once, as before JUCE synchronised with the display:
# Windows then coalesces the paints itself and an idle window wakes nobody. Real Windows
# answers S_OK (or a transient error, still retried as before) and is unaffected.
if("juce_gui_basics" IN_LIST MODULES)
  set(win ${DEST}/juce_gui_basics/native/juce_win32_Windowing.cpp)
  patch(${win}
    "using VBlankListener = ComponentPeer::VBlankListener;
"
    "using VBlankListener = ComponentPeer::VBlankListener;

// Set once a display output has said that it cannot wait for vblanks at all.
static std::atomic<bool> vBlankUnavailable { false };
")
  patch(${win}
    "            if (output->WaitForVBlank() == S_OK)
                triggerAsyncUpdate();
            else
                Thread::sleep (1);"
    "            const auto hr = output->WaitForVBlank();

            if (hr == S_OK)
            {
                triggerAsyncUpdate();
            }
            else if (hr == E_NOTIMPL)
            {
                // One last vblank delivers what was deferred before the flag was seen.
                vBlankUnavailable = true;
                triggerAsyncUpdate();
                return;
            }
            else
            {
                Thread::sleep (1);
            }")
  # Without a DXGI factory (32-bit Wine without 32-bit OpenGL drivers answers
  # DXGI_ERROR_UNSUPPORTED) JUCE called through a null pointer; there are no vblanks then.
  patch(${win}
    "        CreateDXGIFactory (__uuidof (IDXGIFactory), (void**)factory.resetAndGetPointerAddress());
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
"
    "        const auto factoryResult = CreateDXGIFactory (__uuidof (IDXGIFactory), (void**)factory.resetAndGetPointerAddress());
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE

        if (FAILED (factoryResult) || factory == nullptr)
        {
            vBlankUnavailable = true;
            threads.clear();
            return;
        }
")
  patch(${win}
    "        deferredRepaints.add ((area.toDouble() * getPlatformScaleFactor()).getSmallestIntegerContainer());
    }"
    "        deferredRepaints.add ((area.toDouble() * getPlatformScaleFactor()).getSmallestIntegerContainer());

        if (vBlankUnavailable)
            dispatchDeferredRepaints();
    }")
endif()

file(WRITE ${stamp} "${key}")
