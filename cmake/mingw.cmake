# Cross-compiles the plug-in and its Win32 tools with mingw-w64; tests run under Wine. The preset
# names the target (SKORREL_MINGW_TARGET, i686 or x86_64): the product is the i686 build, the
# x86_64 build lets the same tests run where the machine cannot run 32-bit code.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT SKORREL_MINGW_TARGET)
  set(SKORREL_MINGW_TARGET "$ENV{SKORREL_MINGW_TARGET}")
endif()
if(NOT SKORREL_MINGW_TARGET)
  set(SKORREL_MINGW_TARGET i686)
endif()
# try_compile projects read the toolchain file again; hand them the target through the environment.
set(ENV{SKORREL_MINGW_TARGET} "${SKORREL_MINGW_TARGET}")
set(triplet ${SKORREL_MINGW_TARGET}-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR ${SKORREL_MINGW_TARGET})
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# scripts/with-wine.sh puts the loader of the build's architecture first on PATH as "wine".
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
