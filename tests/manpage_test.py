"""The manual page zugen4(1) and the bash completion know every command.

usage: manpage_test.py TOOL MANPAGE COMPLETION
"""
import re
import subprocess
import sys

tool, manpage, completion = sys.argv[1:4]
helptext = subprocess.run([tool, "--help"], capture_output=True, text=True).stdout
section = helptext.split("Subcommands:", 1)[1].split("\n\n", 1)[0]
commands = re.findall(r"^  ([a-z][a-z0-9-]*) ", section, re.M)
with open(manpage, encoding="utf-8") as f:
    man = f.read()
options = re.findall(r"^  (?:-h,)?(--[a-z-]+)", helptext, re.M)
missing = [c for c in commands if not re.search(r"^\.BI? %s\b" % re.escape(c), man, re.M)]
missing += [o for o in options if o.replace("-", r"\-") not in man]
# The completion asks the tool for its commands; it must still parse them.
script = "source %s; _zugen4_commands %s" % (completion, tool)
listed = subprocess.run(["bash", "-c", script], capture_output=True, text=True).stdout.split()
for what in missing:
    print(f"not in {manpage}: {what}")
if listed != commands:
    print(f"the completion lists {listed}, the tool {commands}")
failed = len(missing) + (listed != commands)
print(f"{len(commands) + len(options) + 1 - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
