// Drives the simulated instrument the way a host drives the real one and
// prints every frame that goes over the wire.
#include <cstdio>

#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

int main() {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  gen.IncludeState(Zu::csLoading);  // update the instrument on every change

  gen.SetActive(true);
  gen.ChA()->SetMode(Zu::ZGMdC_gen);
  gen.ChA()->Set_sinFrequency(2000.0);
  gen.ChB()->Set_sinAmplitude(50.0);
  gen.ChB()->SetPhase(90.0);
  sim.Driver->ClearTrace();

  // One full update cycle: both channels in sine generation.
  gen.ChB()->SetMode(Zu::ZGMdC_gen);
  for (const auto& e : sim.Driver->Trace()) {
    std::printf("%8llu ms  %-17s  %s\n", static_cast<unsigned long long>(e.Time), Zu::Sim::HexBytes(e.Bytes).c_str(),
                Zu::Sim::DescribeFrame(e.Bytes, gen.GenFreq()).c_str());
  }
  gen.SetActive(false);
  return sim.Driver->Violations().empty() ? 0 : 1;
}
