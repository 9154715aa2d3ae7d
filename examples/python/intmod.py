"""Internal modulation: frequency, amplitude and phase in turn on channel A,
with the table the instrument plays for each."""
import sys

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.activate()
mod = gen.ChA.IntModulation
for kind, deviation in (("freq", ("dF", 20000)), ("ampl", ("dA", 30)), ("phase", ("dPh", 45))):
    with gen.batch():
        gen.ChA.Mode = zugen4.TZuGen4ModesCommon.ZGMdC_IntModulation
        mod.Type = kind
        mod.Fm = 500  # Hz
        setattr(mod, *deviation)
    table = mod.table()
    print(f"{kind}: {len(table)} readings, from {min(table)} to {max(table)}")
gen.deactivate()
