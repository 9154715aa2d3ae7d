#!/usr/bin/env bash
# `pip install .` from a clean copy of the tree, offline, with Debian's build
# packages only (no isolated build environment, no index): the installed
# package imports and drives the simulator from anywhere, without the tree.
set -euo pipefail
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files git keeps (and new ones it does not ignore), as a checkout has them.
mkdir "$work/src-tree"
git -C "$root" ls-files -z --cached --others --exclude-standard | (cd "$root" && tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$work/src-tree"

# The shared compiler cache, where there is one.
if command -v ccache >/dev/null; then export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache; fi
/usr/bin/python3 -m venv --system-site-packages "$work/env"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 CMAKE_BUILD_PARALLEL_LEVEL=2 \
  "$work/env/bin/pip" install -q --no-build-isolation "$work/src-tree"
rm -rf "$work/src-tree"

cd "$work"
"$work/env/bin/python" - <<'PY'
import pathlib
import zugen4

where = pathlib.Path(zugen4.__file__).parent
assert "site-packages" in str(where), where
assert any(where.glob("libzugen.so*")), sorted(p.name for p in where.iterdir())
with zugen4.Generator(sim=True) as g:
    g.ChA.Mode = "sine"
    g["ChA.Frequency"] = "2 MHz"
    assert g.ChA.Frequency == 2000.0
    assert "A freq" in "\n".join(g.sim.lines())
print("pip: zugen4", getattr(zugen4, "__version__", "?"), "installed in", where)
PY
