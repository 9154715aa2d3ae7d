#!/usr/bin/env bash
# Layers look only down: core < platform < link < mathfun < modulation <
# channel < generator < faces. Every file below src/, sim/ and include/zugen4/
# gets a layer (sources by folder, public headers by name); an #include of a
# header from a higher layer fails the step. HACKING.md has the table.
set -euo pipefail
cd "$(dirname "$0")/../.."

python3 - <<'PY'
import os, re, sys

ORDER = ["core", "platform", "link", "mathfun", "modulation", "channel", "generator", "faces"]
RANK = {name: i for i, name in enumerate(ORDER)}

# Public headers by name; any other public header counts as a face.
HEADERS = {
    "core": ["ZuExport.h", "ZuCore.h", "ZuCommands.h"],
    "platform": ["Classes.h", "Platform.h", "Timers.h", "ZuFileStream.h", "Properties.h", "FtdiDriver.h"],
    "link": ["ZuLink.h", "ZuPlan.h"],
    "mathfun": ["Zumathfun.h"],
    "modulation": ["ZuEngine.h", "ZuTypes.h", "ZuTuner.h", "ZuIntModulation.h", "ZuExtModulation.h", "ZuLFM.h",
                   "ZuDDSMod.h"],
    "channel": ["ZuChannel.h", "ZuOptions.h", "ZuModeRules.h"],
    "generator": ["ZuGenerator.h", "Zugen4.hpp", "ZuRegistry.h"],
}
PUBLIC = {h: layer for layer, names in HEADERS.items() for h in names}
# Source folders; the simulator stands where the link meets the driver.
FOLDERS = {"core": "core", "platform": "platform", "link": "link", "mathfun": "mathfun",
           "modulation": "modulation", "channel": "channel", "generator": "generator"}


def layer_of(path):
    parts = path.split("/")
    if parts[0] == "include" and len(parts) >= 3 and parts[1] == "zugen4":
        if parts[2] == "sim":
            return "link"
        return PUBLIC.get(parts[2], "faces")
    if parts[0] == "sim":
        return "link"
    if parts[0] == "src" and len(parts) >= 3:
        return FOLDERS.get(parts[1], "faces")
    return None


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

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
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
