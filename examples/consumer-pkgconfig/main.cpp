// Puts both channels of the simulated instrument into sine generation with
// one update and counts the frames; fails on a protocol fault.
#include <cstdio>

#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

int main() {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  gen.SetActive(true);
  gen.SetAutoUpdate(false);
  Zu::TZuGen4Channel* channels[] = {gen.ChA(), gen.ChB()};
  for (Zu::TZuGen4Channel* ch : channels) {
    ch->SetMode(Zu::ZGMdC_gen);
    ch->Set_sinAmplitude(50.0);
  }
  gen.SetAutoUpdate(true);
  gen.UpdateMode();
  const size_t frames = sim.Driver->Frames().size();
  const bool ok = gen.Active() && frames > 0 && sim.Driver->Violations().empty();
  gen.SetActive(false);
  std::printf("consumer: %zu frames, %s\n", frames, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
