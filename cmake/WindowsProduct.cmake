# Zugen.dll as shipped: flat functions at fixed ordinals, an import library
# that links from C and C++ hosts of either architecture, a version resource,
# and release builds stripped with their debug information kept beside them.
set_target_properties(zugen PROPERTIES OUTPUT_NAME Zugen PREFIX "")
target_sources(zugen PRIVATE src/flat/Zugen.def)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZUGEN_ARCH_TEXT "x86")
  # Zugen.def names the __stdcall functions without their @n decoration and
  # --kill-at drops it from the exports. The linker's import library would
  # then hold the undecorated names, which a host built with the header does
  # not ask for: it is made again from Zugen-x86.def, which keeps them.
  target_link_options(zugen PRIVATE -Wl,--enable-stdcall-fixup,--kill-at)
  # Both files must list the same functions at the same ordinals.
  file(STRINGS ${PROJECT_SOURCE_DIR}/src/flat/Zugen.def plain REGEX "^ +[A-Za-z_0-9]+ +@[0-9]+")
  file(STRINGS ${PROJECT_SOURCE_DIR}/src/flat/Zugen-x86.def decorated REGEX "^ +[A-Za-z_0-9]+@[0-9]+ +@[0-9]+")
  list(TRANSFORM plain REPLACE "^ +([A-Za-z_0-9]+) +(@[0-9]+).*" "\\1 \\2")
  list(TRANSFORM decorated REPLACE "^ +([A-Za-z_0-9]+)@[0-9]+ +(@[0-9]+).*" "\\1 \\2")
  if(NOT plain STREQUAL decorated)
    message(FATAL_ERROR "src/flat/Zugen-x86.def must list the exports of src/flat/Zugen.def with their "
                        "__stdcall decoration (name@bytes) at the same ordinals:\n  ${plain}\n  ${decorated}")
  endif()
  find_program(ZUGEN_DLLTOOL NAMES ${CMAKE_DLLTOOL} i686-w64-mingw32-dlltool REQUIRED)
  add_custom_command(TARGET zugen POST_BUILD
    COMMAND ${ZUGEN_DLLTOOL} -k -d ${PROJECT_SOURCE_DIR}/src/flat/Zugen-x86.def -D $<TARGET_FILE_NAME:zugen>
            -l $<TARGET_LINKER_FILE:zugen>
    VERBATIM)
else()
  set(ZUGEN_ARCH_TEXT "x64")
endif()

configure_file(${PROJECT_SOURCE_DIR}/src/flat/Zugen.rc.in ${PROJECT_BINARY_DIR}/Zugen.rc @ONLY)
target_sources(zugen PRIVATE ${PROJECT_BINARY_DIR}/Zugen.rc)

# The .def files go beside the DLL: a Visual C++ user makes Zugen.lib from them.
add_custom_command(TARGET zugen POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/src/flat/Zugen.def
          ${PROJECT_SOURCE_DIR}/src/flat/Zugen-x86.def $<TARGET_FILE_DIR:zugen>
  VERBATIM)

if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  find_program(ZUGEN_OBJCOPY NAMES ${CMAKE_OBJCOPY} ${ZUGEN_MINGW_ARCH}-w64-mingw32-objcopy REQUIRED)
  find_program(ZUGEN_STRIP NAMES ${CMAKE_STRIP} ${ZUGEN_MINGW_ARCH}-w64-mingw32-strip REQUIRED)
  add_custom_command(TARGET zugen POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${ZUGEN_OBJCOPY} -DSTRIP=${ZUGEN_STRIP} -DFILE=$<TARGET_FILE:zugen>
            -P ${PROJECT_SOURCE_DIR}/cmake/SplitDebug.cmake
    VERBATIM)
endif()
