"""Settings files and text forms: save a setup, change it, load it back."""
import os
import sys
import tempfile

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.ChB.IntModulation.Fm = 750
path = os.path.join(tempfile.mkdtemp(), "setup.zg4")
gen.save(path)
gen.ChB.IntModulation.Fm = 100
gen.load(path)
print("Fm back to", gen.ChB.IntModulation.Fm, "Hz from", path)
try:
    gen.load(path + ".missing")
except OSError as e:
    print("OSError:", e)
try:
    print(gen.text_form()[:200])
except ValueError as e:  # a build without text forms
    print(e)
os.remove(path)
