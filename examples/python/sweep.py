"""Linear frequency sweep on channel A from 1 MHz to 5 MHz and back."""
import sys

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.activate()
with gen.batch():
    gen.ChA.Frequency = 1000.0  # kHz, the bottom of the sweep
    gen["ChA.LFM.FreqTop"] = 5000
    # Every time first: a sweep entered with a time outside its range is refused.
    gen.ChA.LFM.Tinc0 = 1000
    gen.ChA.LFM.Tinc1 = 10
    gen.ChA.LFM.Tdec0 = 1000
    gen.ChA.LFM.Tdec1 = 10
    gen.ChA.Mode = "LFM"
try:
    gen.ChA.LFM.FreqTop = 500  # below the bottom: refused, nothing changes
except ValueError as e:
    print(e)
print("sweep up to", gen.ChA.LFM.FreqTop, "kHz")
gen.deactivate()
