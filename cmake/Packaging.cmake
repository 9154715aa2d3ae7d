# Debian packages, one per install component, made by `cpack -G DEB` from a
# build configured with -DCMAKE_INSTALL_PREFIX=/usr (.ci/steps/71-packages.sh):
#   libzugen<soversion>  the shared library (its soname in the name)
#   libzugen-dev         headers, the simulator library, CMake package, .pc files
#   zugen4               the tool, its manual page and bash completion, example forms
#   python3-zugen4       the Python module
# Every package carries the license as its copyright file.
include(GNUInstallDirs)

set(ZUGEN_DEB_RUNTIME libzugen${ZUGEN_SOVERSION})
set(zugen_deb_packages Runtime ${ZUGEN_DEB_RUNTIME} Development libzugen-dev Tool zugen4 Python python3-zugen4)
set(zugen_deb_changelog ${PROJECT_BINARY_DIR}/deb/changelog.Debian.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/deb)
string(TIMESTAMP zugen_deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/deb/changelog.Debian
     "zugen4 (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
     "  * Built from the source tree; see CHANGELOG.md of the source.\n\n"
     " -- The ZuGen4 developers <zugen4@example.org>  ${zugen_deb_date}\n")
add_custom_command(OUTPUT ${zugen_deb_changelog}
  COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/deb/changelog.Debian > ${zugen_deb_changelog}
  DEPENDS ${PROJECT_BINARY_DIR}/deb/changelog.Debian VERBATIM)
add_custom_target(zugen_deb_changelog ALL DEPENDS ${zugen_deb_changelog})
while(zugen_deb_packages)
  list(POP_FRONT zugen_deb_packages component package)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          RENAME copyright COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${zugen_deb_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endwhile()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/forms DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zugen4/examples
        COMPONENT Tool)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zugen4)
set(CPACK_PACKAGE_VENDOR "The ZuGen4 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drives a two-channel DDS signal generator over an FTDI USB bridge")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The ZuGen4 developers <zugen4@example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/zugen4")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tool Python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The packages' own library: dpkg-shlibdeps finds it in the build; the
# dependency on its package comes from the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZUGEN_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed by dpkg's trigger, not by scripts of ours.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "ZuGen4 DDS generator library\n"
    " The library that drives the ZuGen4 two-channel DDS signal generator over\n"
    " its FTDI USB bridge (the vendor's D2XX library or libftdi1), with a\n"
    " simulated instrument for hosts without one.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzugen-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "ZuGen4 DDS generator library (development files)\n"
    " Headers, the simulated instrument as a static library, the CMake package\n"
    " ZuGen4 and the pkg-config files zugen4 and zugen4-sim.")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME zugen4)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_TOOL_DEPENDS Runtime)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "command-line tool for the ZuGen4 DDS generator\n"
    " zugen4 sets up the two-channel DDS signal generator from a shell: properties\n"
    " by path, text forms, settings files, tuner polling, a shell, the front panel\n"
    " in the browser, and a simulated instrument.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zugen4)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS Runtime)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12)")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "Python module for the ZuGen4 DDS generator\n"
    " The module zugen4: generators with every property as an attribute, events,\n"
    " files, tables and the simulated instrument.")
include(CPack)
