# Cross-build for Windows with Debian's mingw-w64 compilers; the including
# toolchain file sets ZUGEN_MINGW_ARCH (x86_64 or i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZUGEN_MINGW_ARCH})
set(triple ${ZUGEN_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The runtime goes into the DLLs, so a host needs nothing beside them. Only
# what is used of the threading library comes along (not its own version
# resource, which would stand in for Zugen.dll's).
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Test programs run under wine; the prefix comes from the environment (the
# test presets set one per architecture under the build directory).
find_program(ZUGEN_WINE wine)
if(ZUGEN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUGEN_WINE})
endif()
