"""External modulation: channel B follows the signal at its external input,
amplitude modulated."""
import sys

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.activate()
with gen.batch():
    gen.ChB.ExtModulation.Type = "ampl"
    gen.ChB.ExtModulation.Scale = 10
    gen.ChB.Mode = "ExtModulation"
print("ChA:", gen.ChA.Mode.name, " ChB:", gen.ChB.Mode.name)
if gen.sim:
    print("\n".join(gen.sim.lines()[-4:]))
gen.deactivate()
