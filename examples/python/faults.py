"""Testing a script without an instrument: the simulator fails on demand."""
import zugen4

gen = zugen4.Generator(sim=True)
gen.activate()
gen.sim.fail_write(1, status=zugen4.FT_IO_ERROR)
try:
    gen.ChA.Frequency = 1500
except zugen4.LinkError as e:
    print("LinkError:", e.status_name, "-", e.message)
gen.sim.unplug()
try:
    gen.update()
except zugen4.LinkError as e:
    print("unplugged:", e.status_name)
for entry in gen.sim.trace()[-3:]:
    print(entry.time, entry.kind, entry.line)
