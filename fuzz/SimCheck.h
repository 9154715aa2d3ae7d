// The fuzz targets' simulated instrument: a generator on it, and what every
// target checks last, that the instrument never saw a protocol violation.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

// An active generator on its own simulated instrument; every accepted change
// is sent, as from a form.
struct TSimSession {
  Zu::Sim::TSimPlatform Sim;
  Zu::TZuGen4 Gen;
  TSimSession() {
    Gen.SetPlatform(Sim.Platform());
    Gen.IncludeState(Zu::csLoading);
    Gen.SetActive(true);
  }
};

inline void AbortOnProtocolViolations(const Zu::Sim::TSimPlatform& sim) {
  const auto violations = sim.Driver->Violations();
  if (violations.empty()) return;
  for (const auto& v : violations) std::fprintf(stderr, "protocol violation: %s\n", v.c_str());
  std::abort();
}
