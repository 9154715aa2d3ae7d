"""DDS keying: quadrature phase shift keying on channel B, four phases held
for 1000 each."""
import sys

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.activate()
dds = gen.ChB.DDSMod
with gen.batch():
    dds.Mode = "QxSK"
    dds.Type = "phase"
    for i, phase in enumerate((0, 90, 180, 270), start=1):
        setattr(dds, f"Ph{i}", phase)
        setattr(dds, f"T{i}", 1000)
    gen.ChB.Mode = "DDSMod"
print("keying", dds.Mode.name, "of", dds.Type.name)
if gen.sim:
    print(len(gen.sim.frames()), "frames sent")
gen.deactivate()
