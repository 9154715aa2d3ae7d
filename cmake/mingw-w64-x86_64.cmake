# 64-bit Windows (g++-mingw-w64-x86-64).
set(ZUGEN_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
