"""A 2 MHz sine on channel A, half amplitude, 90 degrees; prints what the
instrument received. Pass --real to drive the instrument on the USB bridge."""
import sys

import zugen4

gen = zugen4.Generator(sim="--real" not in sys.argv)
gen.activate()
with gen.batch():  # one update for the four changes
    gen.ChA.Mode = "gen"
    gen.ChA.Frequency = 2000.0  # kHz
    gen.ChA.Amplitude = 50.0    # percent of full scale
    gen.ChA.Phase = 90.0        # degrees
if gen.sim:
    print("\n".join(gen.sim.lines()))
gen.deactivate()
