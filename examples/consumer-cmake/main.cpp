// Sets a 2 MHz sine on the simulated instrument and prints what went over the
// wire; fails when nothing was sent or the instrument saw a protocol fault.
#include <cstdio>

#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

int main() {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  gen.IncludeState(Zu::csLoading);
  gen.SetActive(true);
  gen.ChA()->SetMode(Zu::ZGMdC_gen);
  gen.ChA()->Set_sinFrequency(2000.0);
  for (const auto& frame : sim.Driver->Frames()) std::printf("%s\n", Zu::Sim::DescribeFrame(frame).c_str());
  const bool ok = gen.Active() && !sim.Driver->Frames().empty() && sim.Driver->Violations().empty();
  gen.SetActive(false);
  std::printf("%s\n", ok ? "consumer: ok" : "consumer: FAILED");
  return ok ? 0 : 1;
}
