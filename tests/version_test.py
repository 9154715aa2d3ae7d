"""One version everywhere: the project version in CMakeLists.txt is the one
place it is written; everything that shows a version must show that one, and
what hosts ask for must be its API version.

usage: version_test.py SOURCE_DIR VERSION_H TOOL LIBRARY [PYTHON_DIR]
"""
import ctypes
import os
import re
import subprocess
import sys

source, version_h, tool, library = sys.argv[1:5]
python_dir = sys.argv[5] if len(sys.argv) > 5 else ""


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def first(pattern, text, what):
    m = re.search(pattern, text, re.M)
    return m.group(1) if m else f"(none found in {what})"


project = first(r"^project\(ZuGen4 VERSION (\S+)", read(os.path.join(source, "CMakeLists.txt")), "CMakeLists.txt")
major, minor = project.split(".")[:2]
api = f"{major}.{minor}" if major == "0" else major

lib = ctypes.CDLL(library)
lib.zg_version.restype = ctypes.c_char_p
tool_out = subprocess.run([tool, "--version"], capture_output=True, text=True).stdout
shown = {
    "Version.h ZUGEN_VERSION_STRING": first(r'^#define ZUGEN_VERSION_STRING "(.*)"', read(version_h), "Version.h"),
    "zugen4 --version": first(r"^zugen4 (\S+)$", tool_out, "zugen4 --version"),
    "zg_version()": lib.zg_version().decode(),
    "CHANGELOG.md head": first(r"^## (\d+\.\d+\.\d+)", read(os.path.join(source, "CHANGELOG.md")), "CHANGELOG.md"),
}
if python_dir:
    out = subprocess.run([sys.executable, "-c", "import zugen4; print(zugen4.__version__)"], capture_output=True,
                         text=True, env=dict(os.environ, PYTHONPATH=python_dir))
    shown["Python zugen4.__version__"] = out.stdout.strip() or out.stderr.strip()
asked = {
    "Version.h ZUGEN_API_VERSION_STRING": first(r'^#define ZUGEN_API_VERSION_STRING "(.*)"', read(version_h),
                                                "Version.h"),
    "examples/consumer-cmake find_package": first(
        r"find_package\(ZuGen4 (\S+) REQUIRED\)", read(os.path.join(source, "examples/consumer-cmake/CMakeLists.txt")),
        "examples/consumer-cmake/CMakeLists.txt"),
}

bad = []
for table, want in ((shown, project), (asked, api)):
    for what, version in table.items():
        print(f"{what:40} {version}")
        if version != want:
            bad.append(f"{what} says {version}; the project version {project} in CMakeLists.txt makes it {want}")
print("\n".join(bad))
print(f"{len(shown) + len(asked) - len(bad)} passed, {len(bad)} failed")
sys.exit(1 if bad else 0)
