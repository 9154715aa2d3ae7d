#!/usr/bin/env bash
# The libftdi1 backend through the real libftdi1 and libusb to an FT232R
# emulated by umockdev (tests/usb/): built in the ci preset's tree, which the
# test run at the end reuses. Fails when the suite was not built.
set -euo pipefail
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  # Objects shared with build/deb (71-packages.sh): paths relative to the tree.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
cmake --preset ci >/dev/null
cmake --build build/ci -j2 --target zugen_usb_tests zugen4 >/dev/null
ctest --test-dir build/ci -R '^Usb\.' --no-tests=error --output-on-failure | tail -3
