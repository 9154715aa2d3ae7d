"""Tuning with polling: the tuner reads the ADC every 50 ms on this thread's
timers, which run while the script hands control to zugen4.process_messages
(here through wait_messages; a GUI loop can watch zugen4.messages_fd())."""
import sys

import zugen4

real = "--real" in sys.argv
sim = None if real else zugen4.Simulator(realtime=True)  # the system clock and timers, as with an instrument
gen = zugen4.Generator(sim=sim or False)
readings = []
gen.OnADCTimer = lambda ch: readings.append(ch.Tuner.ADCValue)
if sim:
    sim.adc = 0x12345678
gen.activate()
with gen.batch():
    gen.ChA.Tuner.Type = "freq"
    gen.ChA.Tuner.ADCTimerInterval = 50  # ms
    gen.ChA.Tuner.ADCTimerEnabled = True
    gen.ChA.Mode = "tuning"
while len(readings) < 3:
    if zugen4.wait_messages(1000):
        zugen4.process_messages()
print("ADC readings:", [hex(r) for r in readings])
gen.deactivate()
