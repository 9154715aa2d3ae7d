#!/usr/bin/env bash
# Layers look only down: core < platform < link < mathfun < modulation <
# channel < generator < faces. Every file below src/, sim/ and include/zugen4/
# gets a layer from where it lives (below); an #include of a header from a
# higher layer fails the step. HACKING.md has the table.
set -euo pipefail
cd "$(dirname "$0")/../.."

python3 - <<'PY'
import os, re, sys

ORDER = ["core", "platform", "link", "mathfun", "modulation", "channel", "generator", "faces"]
RANK = {name: i for i, name in enumerate(ORDER)}

# A source's layer is its folder below src/ (any other folder there counts as
# a face); the simulator stands where the link meets the driver. A public
# header (include/zugen4/, extend/ included) takes the layer of the source
# below src/ that shares its name; one without such a source takes the highest
# layer among the headers it includes. No list to keep: a new engine's
# header and source land in their layer by where the source lives.
SOURCES = {}
for dirpath, _, names in os.walk("src"):
    for n in names:
        if n.endswith((".cpp", ".c")):
            SOURCES.setdefault(os.path.splitext(n)[0], os.path.join(dirpath, n))

include_re = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_layer(path):
    parts = path.split("/")
    if parts[0] == "sim":
        return "link"
    if parts[0] == "src" and len(parts) >= 3:
        return parts[1] if parts[1] in RANK else "faces"
    return None


def layer_of(path, seen=()):
    parts = path.split("/")
    if parts[0] == "include" and len(parts) >= 3 and parts[1] == "zugen4":
        if parts[2] == "sim":
            return "link"
        stem = os.path.splitext(parts[-1])[0]
        if stem in SOURCES:
            return folder_layer(SOURCES[stem])
        if path in seen or not os.path.exists(path):
            return "core"
        highest = "core"
        with open(path, encoding="utf-8") as f:
            for line in f:
                m = include_re.match(line)
                target = m and target_of(m.group(1))
                if target:
                    theirs = layer_of(target, seen + (path,)) or "core"
                    if RANK[theirs] > RANK[highest]:
                        highest = theirs
        return highest
    return folder_layer(path)


def target_of(name):
    """The repository path an include names, or None for a system header."""
    if name.startswith("zugen4/"):
        return "include/" + name
    if os.path.exists(os.path.join("src", name)):
        return "src/" + name
    return None


files = []
for root in ("src", "sim", "include/zugen4"):
    for dirpath, _, names in os.walk(root):
        files += [os.path.join(dirpath, n) for n in names if n.endswith((".h", ".hpp", ".cpp", ".c"))]

include = include_re
bad = 0
for path in sorted(files):
    own = layer_of(path)
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            m = include.match(line)
            if not m:
                continue
            target = target_of(m.group(1))
            if target is None:
                continue
            theirs = layer_of(target)
            if theirs and RANK[theirs] > RANK[own]:
                print(f"{path}:{number}: {own} layer includes {m.group(1)} ({theirs} layer)")
                bad += 1
print(f"layers: {len(files)} files checked, {bad} upward includes")
sys.exit(1 if bad else 0)
PY
