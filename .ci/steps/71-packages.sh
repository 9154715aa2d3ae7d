#!/usr/bin/env bash
# Debian packages from the tree (cpack -G DEB, cmake/Packaging.cmake), checked
# by lintian (an error fails), then unpacked into a fresh root where the tool,
# the Python module and both consumer examples run on the packaged files only.
set -euo pipefail
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  # The library and tool objects of build/ci (70-usb.sh) serve here: the same
  # flags, paths relative to the tree.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
src=$(pwd)
dir=build/deb
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DZUGEN_WERROR=ON -DZUGEN_BUILD_TESTS=OFF \
  -DZUGEN_BUILD_BENCH=OFF -DZUGEN_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$dir" -j2 >/dev/null
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/*.deb
lintian --tag-display-limit 0 "$dir"/*.deb 2>/dev/null | tee "$dir/lintian.txt" || true
if grep -q '^E:' "$dir/lintian.txt"; then
  echo "packages: lintian found errors" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
for deb in "$dir"/*.deb; do dpkg-deb -x "$deb" "$root"; done
lib="$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
export LD_LIBRARY_PATH="$lib"
"$root/usr/bin/zugen4" --version
"$root/usr/bin/zugen4" --sim --state "$work/state.zg4" apply "$root/usr/share/doc/zugen4/examples/forms/sweep.form"
"$root/usr/bin/zugen4" --sim --state "$work/state.zg4" state | head -2
PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
  'import zugen4; g = zugen4.Generator(sim=True); g.activate(); print("python", zugen4.__version__, zugen4.__file__)'
cp -r "$src/examples/consumer-cmake" "$src/examples/consumer-pkgconfig" "$work/"
cmake -S "$work/consumer-cmake" -B "$work/consumer-cmake/build" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer-cmake/build" >/dev/null
"$work/consumer-cmake/build/consumer" | tail -1
PKG_CONFIG_PATH="$lib/pkgconfig" make -s -C "$work/consumer-pkgconfig"
"$work/consumer-pkgconfig/consumer"
