// Fuzz target: any bytes as the front panel's setup JSON (POST /api/setup).
// Applied to an active generator on the simulated instrument, the answer must
// be one of the documented statuses, nothing may throw out of it, and the
// instrument must never see a protocol violation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Api.h"
#include "zugen4/sim/SimInstrument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  gen.IncludeState(Zu::csLoading);
  gen.SetActive(true);
  const Zu::Serve::TResult r =
      Zu::Serve::ApplySetupJson(gen, std::string_view(reinterpret_cast<const char*>(data), size));
  if (r.Status != 200 && r.Status != 400 && r.Status != 422 && r.Status != 502) {
    std::fprintf(stderr, "status %d: %s\n", r.Status, r.Body.c_str());
    std::abort();
  }
  for (const auto& v : sim.Driver->Violations()) {
    std::fprintf(stderr, "protocol violation: %s\n", v.c_str());
    std::abort();
  }
  return 0;
}
