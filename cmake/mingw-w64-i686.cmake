# 32-bit Windows (g++-mingw-w64-i686).
set(ZUGEN_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
