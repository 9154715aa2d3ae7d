// What every fuzz target on the simulated instrument checks last: the
// instrument never saw a protocol violation.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "zugen4/sim/SimInstrument.h"

inline void AbortOnProtocolViolations(const Zu::Sim::TSimPlatform& sim) {
  const auto violations = sim.Driver->Violations();
  if (violations.empty()) return;
  for (const auto& v : violations) std::fprintf(stderr, "protocol violation: %s\n", v.c_str());
  std::abort();
}
