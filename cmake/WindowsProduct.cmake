# Zugen.dll as shipped: flat functions at fixed ordinals, an import library
# that links from C and C++ hosts of either architecture, a version resource,
# and release builds stripped with their debug information kept beside them.
set_target_properties(zugen PROPERTIES OUTPUT_NAME Zugen PREFIX "")
target_sources(zugen PRIVATE src/flat/Zugen.def)

find_program(ZUGEN_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${ZUGEN_MINGW_ARCH}-w64-mingw32-dlltool REQUIRED)
find_program(ZUGEN_NM NAMES ${CMAKE_NM} ${ZUGEN_MINGW_ARCH}-w64-mingw32-nm REQUIRED)
find_program(ZUGEN_OBJDUMP NAMES ${CMAKE_OBJDUMP} ${ZUGEN_MINGW_ARCH}-w64-mingw32-objdump REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZUGEN_ARCH_TEXT "x86")
  # Zugen.def names the flat __stdcall functions without their @n decoration
  # and --kill-at drops it from every export. The import library is made
  # again with the decorated names (see ImportLibrary.cmake).
  target_link_options(zugen PRIVATE -Wl,--enable-stdcall-fixup,--kill-at)
  set(implib -DIMPLIB=$<TARGET_LINKER_FILE:zugen>)
else()
  set(ZUGEN_ARCH_TEXT "x64")
  set(implib "")
endif()
# Zugen-x86.def or Zugen-x64.def beside the DLL: every C export (flat and
# handle functions), for a Visual C++ user's import library.
add_custom_command(TARGET zugen POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DNM=${ZUGEN_NM} -DOBJDUMP=${ZUGEN_OBJDUMP} -DDLLTOOL=${ZUGEN_DLLTOOL}
          -DDLL=$<TARGET_FILE:zugen> -DDEF=$<TARGET_FILE_DIR:zugen>/Zugen-${ZUGEN_ARCH_TEXT}.def
          -DMACHINE=${ZUGEN_ARCH_TEXT} ${implib} -P ${PROJECT_SOURCE_DIR}/cmake/ImportLibrary.cmake
  VERBATIM)

configure_file(${PROJECT_SOURCE_DIR}/src/flat/Zugen.rc.in ${PROJECT_BINARY_DIR}/Zugen.rc @ONLY)
target_sources(zugen PRIVATE ${PROJECT_BINARY_DIR}/Zugen.rc)

if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  find_program(ZUGEN_OBJCOPY NAMES ${CMAKE_OBJCOPY} ${ZUGEN_MINGW_ARCH}-w64-mingw32-objcopy REQUIRED)
  find_program(ZUGEN_STRIP NAMES ${CMAKE_STRIP} ${ZUGEN_MINGW_ARCH}-w64-mingw32-strip REQUIRED)
  add_custom_command(TARGET zugen POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${ZUGEN_OBJCOPY} -DSTRIP=${ZUGEN_STRIP} -DFILE=$<TARGET_FILE:zugen>
            -P ${PROJECT_SOURCE_DIR}/cmake/SplitDebug.cmake
    VERBATIM)
endif()
