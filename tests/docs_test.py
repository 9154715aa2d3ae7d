"""Every example in README.md and docs/ runs, one parametrised case a fenced
block, named by its file and line. How a block is run follows its language
and the HTML comment just above it (docs/README.md, "Examples"):

- console: `$ ` lines run in bash against the built tool (one fresh state
  directory and working directory a block, `examples/` reachable); the lines
  after a command are its output (standard output, then standard error).
  `...` alone matches any lines, `...` in a line any text; `[exit N]` is the
  exit status (0 when not shown). Every command that runs the tool is on the
  simulator (`--sim`).
- python: run by Debian's python3 with the built module.
- c, cpp: a whole program, compiled against the build and run.
- `<!-- output -->` before a text block: what the block above prints.
- `<!-- file: PATH -->`: the block is contained in PATH (a file the build or
  CI runs).
- `<!-- server: serve -->` / `<!-- server: scpi -->`: the block runs while
  `zugen4 --sim` serves on a free port, which replaces the default one.
- `<!-- not run: REASON -->`: counted, kept few.

Environment (tests/CMakeLists.txt): ZUGEN_SOURCE, ZUGEN_TOOL, ZUGEN_PYTHON_DIR,
ZUGEN_LIBRARY, ZUGEN_SIM_LIBRARY, ZUGEN_GENERATED_INCLUDE, ZUGEN_STANDIN_DIR.
"""
import functools
import glob
import os
import re
import select
import subprocess

import pytest

SOURCE = os.environ.get("ZUGEN_SOURCE", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.environ.get("ZUGEN_TOOL", "")
PYTHON_DIR = os.environ.get("ZUGEN_PYTHON_DIR", "")
LIBRARY = os.environ.get("ZUGEN_LIBRARY", "")
SIM_LIBRARY = os.environ.get("ZUGEN_SIM_LIBRARY", "")
GENERATED_INCLUDE = os.environ.get("ZUGEN_GENERATED_INCLUDE", "")
STANDIN_DIR = os.environ.get("ZUGEN_STANDIN_DIR", "")
# Blocks that cannot run here (another system, a real device, root) stay few.
MAX_NOT_RUN = 12
DEFAULT_PORTS = {"serve": 8044, "scpi": 5025}

FENCE = re.compile(r"^(\s*)(`{3,})(\S*)\s*$")
MARKER = re.compile(r"^<!--\s*(not run|file|server|output)\s*(?::\s*(.*?))?\s*-->$")


class Block:
    def __init__(self, path, line, lang, text, marker, argument):
        self.path, self.line, self.lang, self.text = path, line, lang, text
        self.marker, self.argument = marker, argument
        self.output = None  # the <!-- output --> block that follows

    @property
    def where(self):
        return f"{os.path.relpath(self.path, SOURCE)}:{self.line}"


def doc_files():
    files = [os.path.join(SOURCE, "README.md")]
    files += sorted(glob.glob(os.path.join(SOURCE, "docs", "**", "*.md"), recursive=True))
    return files


def parse(path):
    """The fenced blocks of one Markdown file, each with its marker."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    blocks, last_code, i = [], None, 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, fence, lang = m.groups()
        start, body = i + 1, []
        i += 1
        while i < len(lines) and not lines[i].strip().startswith(fence):
            body.append(lines[i][len(indent):] if lines[i].startswith(indent) else lines[i].lstrip())
            i += 1
        i += 1
        marker = argument = None
        j = start - 2
        while j >= 0 and not lines[j].strip():
            j -= 1
        mm = MARKER.match(lines[j].strip()) if j >= 0 else None
        if mm:
            marker, argument = mm.group(1), mm.group(2)
        block = Block(path, start, lang, "\n".join(body) + "\n", marker, argument)
        if marker == "output" and last_code is not None and last_code.lang in ("python", "c", "cpp"):
            last_code.output = block
        else:
            blocks.append(block)
            last_code = block
    return blocks


ALL_BLOCKS = [b for f in doc_files() for b in parse(f)]


# Output matching: "..." alone on a line is any lines, "..." within a line any text.
def line_pattern(expected):
    return re.compile("^" + ".*".join(re.escape(p) for p in expected.split("...")) + "$")


def matches(expected, actual):
    exp = [l.rstrip() for l in expected.rstrip("\n").split("\n")] if expected.strip() else []
    act = [l.rstrip() for l in actual.rstrip("\n").split("\n")] if actual.strip() else []

    @functools.lru_cache(maxsize=None)
    def match(i, j):
        if i == len(exp):
            return j == len(act)
        if exp[i] == "...":
            return any(match(i + 1, k) for k in range(j, len(act) + 1))
        return j < len(act) and bool(line_pattern(exp[i]).match(act[j])) and match(i + 1, j + 1)

    return match(0, 0)


def fail_with(block, what, expected=None, actual=None):
    msg = f"{block.where}: {what}"
    if expected is not None:
        msg += "\n--- the doc shows:\n" + expected + "--- it gave:\n" + actual
    pytest.fail(msg, pytrace=False)


def sandbox(tmp_path):
    """A working directory with examples/ in reach and a state directory of its own."""
    work = tmp_path / "work"
    work.mkdir()
    os.symlink(os.path.join(SOURCE, "examples"), work / "examples")
    env = dict(os.environ, XDG_STATE_HOME=str(tmp_path / "state"), HOME=str(tmp_path / "home"), LC_ALL="C.UTF-8")
    env["PATH"] = os.path.dirname(TOOL) + os.pathsep + env.get("PATH", "")
    if PYTHON_DIR:
        env["PYTHONPATH"] = PYTHON_DIR
    return str(work), env


def run_console(block, tmp_path):
    cwd, env = sandbox(tmp_path)
    steps = []  # (command, expected output lines)
    for line in block.text.rstrip("\n").split("\n"):
        if line.startswith("$ "):
            steps.append([line[2:], []])
        elif steps:
            steps[-1][1].append(line)
        elif line.strip():
            fail_with(block, f"output before the first command: {line!r}")
    if not steps:
        fail_with(block, "a console block without a `$ ` command")
    for command, shown in steps:
        if re.search(r"(^|[|;&(]\s*)zugen4\b", command) and "--sim" not in command:
            fail_with(block, f"`{command}` does not run on the simulator (--sim)")
        status = 0
        if shown and re.fullmatch(r"\[exit \d+\]", shown[-1].strip()):
            status = int(shown.pop().strip()[6:-1])
        expected = "\n".join(shown) + "\n" if shown else ""
        r = subprocess.run(["bash", "-c", command], cwd=cwd, env=env, capture_output=True, text=True, timeout=60)
        actual = r.stdout + r.stderr
        if r.returncode != status:
            fail_with(block, f"`{command}` exited {r.returncode}, the doc says {status}\n{actual}")
        if shown and not matches(expected, actual):
            fail_with(block, f"`{command}` printed something else", expected, actual)


def run_program(block, argv, tmp_path, env=None, stdin=None):
    cwd, base = sandbox(tmp_path)
    env = dict(base, **(env or {}))
    r = subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=120, input=stdin)
    if r.returncode != 0:
        fail_with(block, f"exited {r.returncode}\n{r.stdout}{r.stderr}")
    if block.output is not None and not matches(block.output.text, r.stdout):
        fail_with(block, "printed something else", block.output.text, r.stdout)
    return r


def run_python(block, tmp_path, text=None):
    if not PYTHON_DIR:
        pytest.skip("the Python module is not built")
    script = tmp_path / "example.py"
    script.write_text(text or block.text, encoding="utf-8")
    run_program(block, ["/usr/bin/python3", str(script)], tmp_path)


def run_compiled(block, tmp_path):
    if "main(" not in block.text:
        fail_with(block, "a C or C++ block is a whole program (with main), or carries a marker")
    cxx = block.lang == "cpp"
    source = tmp_path / ("host.cpp" if cxx else "host.c")
    source.write_text(block.text, encoding="utf-8")
    compiler = ["c++", "-std=c++20"] if cxx else ["cc", "-std=c11"]
    libdir = os.path.dirname(LIBRARY)
    argv = compiler + ["-Wall", "-Werror", "-I", os.path.join(SOURCE, "include"), "-I", GENERATED_INCLUDE,
                       str(source), "-o", str(tmp_path / "host")]
    argv += ([SIM_LIBRARY] if cxx else []) + [LIBRARY, "-Wl,-rpath," + libdir]
    r = subprocess.run(argv, capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        fail_with(block, "does not compile\n" + r.stderr)
    # The flat functions open the system's driver library: the stand-in's.
    run_program(block, [str(tmp_path / "host")], tmp_path, env={"LD_LIBRARY_PATH": STANDIN_DIR})


def run_with_server(block, tmp_path):
    command = block.argument
    if command not in DEFAULT_PORTS:
        fail_with(block, f"unknown server {command!r}: serve or scpi")
    proc = subprocess.Popen([TOOL, "--sim", "--state", str(tmp_path / "server.zg4"), command, "--port", "0"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        # A server that never says where it listens fails the block, not the run.
        ready, _, _ = select.select([proc.stdout], [], [], 15)
        first = proc.stdout.readline() if ready else "(nothing within 15 s)"
        m = re.search(r"127\.0\.0\.1:(\d+)", first)
        if not m:
            fail_with(block, f"zugen4 {command} did not start: {first}")
        text = block.text.replace(str(DEFAULT_PORTS[command]), m.group(1))
        if block.lang == "python":
            run_python(block, tmp_path, text)
        else:
            fail_with(block, f"a server block in {block.lang!r}: python only")
    finally:
        proc.terminate()
        proc.wait(timeout=10)


def contained(needle, haystack):
    """The block's lines in order in the file; a `...` line skips any lines."""
    have = [l.strip() for l in haystack.split("\n")]
    at = 0
    for chunk in re.split(r"^\s*\.\.\.\s*$", needle.strip("\n"), flags=re.M):
        want = [l.strip() for l in chunk.strip("\n").split("\n")]
        found = next((k for k in range(at, len(have) - len(want) + 1) if have[k:k + len(want)] == want), None)
        if found is None:
            return False
        at = found + len(want)
    return True


@pytest.mark.parametrize("block", ALL_BLOCKS, ids=lambda b: b.where)
def test_block(block, tmp_path):
    if block.marker == "not run":
        if not block.argument:
            fail_with(block, "`not run` needs its reason")
        pytest.skip(f"{block.where}: not run: {block.argument}")
    if block.marker == "file":
        path = os.path.join(SOURCE, block.argument or "")
        if not os.path.isfile(path):
            fail_with(block, f"names {block.argument}, which does not exist")
        with open(path, encoding="utf-8") as f:
            if not contained(block.text, f.read()):
                fail_with(block, f"is not (any more) in {block.argument}")
        return
    if block.marker == "output":
        fail_with(block, "an output block that follows no python, c or cpp block")
    if block.marker == "server":
        return run_with_server(block, tmp_path)
    if not TOOL:
        pytest.skip("ZUGEN_TOOL not given")
    if block.lang == "console":
        run_console(block, tmp_path)
    elif block.lang == "python":
        run_python(block, tmp_path)
    elif block.lang in ("c", "cpp"):
        run_compiled(block, tmp_path)
    else:
        fail_with(block, f"a {block.lang or 'plain'} block that nothing runs: give it a runnable language "
                  "(console, python, c, cpp) or a marker")


def test_few_blocks_not_run():
    skipped = [b.where + ": " + (b.argument or "") for b in ALL_BLOCKS if b.marker == "not run"]
    assert len(skipped) <= MAX_NOT_RUN, "\n".join(skipped)


LINK = re.compile(r"\]\(([^)#\s]*)(?:#([^)\s]*))?\)")


def anchors(path):
    """The anchors of a Markdown file's headings, as the hosting sites make them."""
    with open(path, encoding="utf-8") as f:
        heads = re.findall(r"^#+\s+(.*)$", strip_code(f.read()), re.M)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in heads}


def strip_code(text):
    text = re.sub(r"^\s*```.*?^\s*```", "", text, flags=re.M | re.S)
    return re.sub(r"`[^`\n]*`", "", text)


@pytest.mark.parametrize("path", doc_files(), ids=lambda p: os.path.relpath(p, SOURCE))
def test_links_resolve(path):
    with open(path, encoding="utf-8") as f:
        text = strip_code(f.read())
    broken = []
    for target, anchor in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue
        where = os.path.join(os.path.dirname(path), target) if target else path
        if not os.path.exists(where):
            broken.append(target)
        elif anchor and where.endswith(".md") and anchor not in anchors(where):
            broken.append(f"{target}#{anchor}")
    assert not broken, f"{os.path.relpath(path, SOURCE)}: links to nothing: {broken}"
