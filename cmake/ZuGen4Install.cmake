# What `cmake --install` puts under the prefix: the library with its headers,
# the simulated instrument as a static library (so hosts can test themselves
# without an instrument), the tool when it is built, a CMake package and
# pkg-config files. The stand-in driver library stays out: installed beside
# the real driver it would be found in its place.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZUGEN_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZuGen4 CACHE STRING
    "Where the CMake package files go, relative to the prefix")

target_include_directories(zugen PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(zugen PROPERTIES EXPORT_NAME zugen)
set_target_properties(zugen_sim PROPERTIES EXPORT_NAME sim)

set(zugen_installed zugen zugen_sim)
if(TARGET zugen_static)
  # Windows: the classes for C++ hosts (see CMakeLists.txt).
  target_include_directories(zugen_static PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(zugen_static PROPERTIES EXPORT_NAME static)
  list(APPEND zugen_installed zugen_static)
endif()
# Components, one Debian package each (cmake/Packaging.cmake): Runtime (the
# shared library), Development, Tool, Python.
install(TARGETS ${zugen_installed}
  EXPORT ZuGen4Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zugen4 DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development)
install(FILES ${ZUGEN_GENERATED_INCLUDE}/zugen4/Version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zugen4
        COMPONENT Development)

if(TARGET zugen4)
  # The tool finds the library beside it, wherever the prefix is (below /usr
  # the loader looks there anyway).
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    file(RELATIVE_PATH zugen_tool_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(zugen4 PROPERTIES INSTALL_RPATH "$ORIGIN/${zugen_tool_to_lib}")
  endif()
  install(TARGETS zugen4 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tool)
  # Its manual page (compressed, as man and Debian expect) and bash completion.
  set(zugen_man ${PROJECT_BINARY_DIR}/zugen4.1.gz)
  add_custom_command(OUTPUT ${zugen_man}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/docs/zugen4.1 > ${zugen_man}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/zugen4.1 VERBATIM)
  add_custom_target(zugen_man ALL DEPENDS ${zugen_man})
  install(FILES ${zugen_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tool)
  install(FILES ${PROJECT_SOURCE_DIR}/contrib/bash-completion/zugen4
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT Tool)
endif()

install(EXPORT ZuGen4Targets NAMESPACE ZuGen4:: DESTINATION ${ZUGEN_INSTALL_CMAKEDIR} COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZuGen4Config.cmake.in
  ${PROJECT_BINARY_DIR}/ZuGen4Config.cmake INSTALL_DESTINATION ${ZUGEN_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZuGen4ConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZuGen4Config.cmake ${PROJECT_BINARY_DIR}/ZuGen4ConfigVersion.cmake
        DESTINATION ${ZUGEN_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config: relocatable, the prefix found from where the .pc file lies
# (${pcfiledir}), when the directories lie below the prefix.
file(RELATIVE_PATH zugen_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" zugen_pc_to_prefix "${zugen_pc_to_prefix}")
set(ZUGEN_PC_PREFIX "\${pcfiledir}/${zugen_pc_to_prefix}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZUGEN_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(ZUGEN_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(ZUGEN_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
foreach(pc zugen4 zugen4-sim)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
