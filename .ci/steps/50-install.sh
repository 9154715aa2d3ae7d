#!/usr/bin/env bash
# The library installs into a prefix, and host projects build against that
# prefix alone (copied out of the tree, so nothing else is within reach), one
# through find_package, one through pkg-config; both run on the simulator.
set -euo pipefail
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

# Tests and benchmarks off: the install needs neither GoogleTest nor Benchmark.
cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUGEN_WERROR=ON -DZUGEN_BUILD_TESTS=OFF \
  -DZUGEN_BUILD_BENCH=OFF -DZUGEN_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cmake --install "$work/build" >/dev/null
if find "$prefix" -iname '*ftd2xx*' | grep -q .; then
  echo "install: the stand-in driver library was installed" >&2
  exit 1
fi
libdir=$(ls -d "$prefix"/lib*/ | head -1)
ls "$libdir"libzugen.so.* >/dev/null
# The tool (where CLI11 let it be built) finds the library beside it.
if [ -e "$prefix/bin/zugen4" ]; then "$prefix/bin/zugen4" --help >/dev/null; fi

# Headers: the public tier (include/zugen4/, its sim/) and the extender tier
# (extend/) are installed, nothing else; the private root src/ never is.
(cd "$root/include" && find zugen4 -name '*.h*' | sort) >"$work/want"
echo zugen4/Version.h >>"$work/want"
(cd "$prefix/include" && find zugen4 -type f | sort) >"$work/have"
if ! diff <(sort "$work/want") "$work/have"; then
  echo "install: the installed headers differ from the public and extender tiers" >&2
  exit 1
fi
# Each installed header compiles alone against the prefix (C headers as C too).
for h in $(cat "$work/have"); do
  echo "#include <$h>" | g++ -std=c++20 -fsyntax-only -Wall -Werror -I"$prefix/include" -x c++ - ||
    { echo "install: $h does not compile alone" >&2; exit 1; }
done
for h in zugen4/zugen4.h zugen4/Zugenwrapper.h zugen4/Version.h; do
  echo "#include <$h>" | gcc -std=c99 -fsyntax-only -Wall -Werror -I"$prefix/include" -x c - ||
    { echo "install: $h does not compile alone as C" >&2; exit 1; }
done
echo "install: $(wc -l <"$work/have") headers, each compiles alone"

cp -r "$root/examples/consumer-cmake" "$root/examples/consumer-pkgconfig" "$work/"
cmake -S "$work/consumer-cmake" -B "$work/consumer-cmake/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-cmake/build" >/dev/null
"$work/consumer-cmake/build/consumer" | tail -1

PKG_CONFIG_PATH="${libdir}pkgconfig" make -s -C "$work/consumer-pkgconfig"
"$work/consumer-pkgconfig/consumer"

# The Python module, from the prefix alone, with Debian's own python3.
if [ -x /usr/bin/python3 ]; then
  pydir=$(ls -d "$prefix"/lib/python3*/dist-packages | head -1)
  (cd "$work" && PYTHONPATH="$pydir" /usr/bin/python3 -c \
    'import zugen4; g = zugen4.Generator(sim=True); g.activate(); g.ChA.Mode = "gen"; print("python: %d frames, ok" % len(g.sim.frames()))')
fi
