// Fuzz target: any bytes as a settings file. The generator loads them while
// active on the simulated instrument, runs a full update and lets the tuners
// poll for a while; the instrument must never see a protocol violation, and
// nothing may crash, leak or read out of bounds. The library's own refusals
// (Zu::Exception) are allowed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SimCheck.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace {

const std::string& InputPath() {
  static const std::string path = "/tmp/zugen_fuzz_settings_" + std::to_string(::getpid()) + ".zg4";
  // Registered after the name exists, so it runs before the name goes.
  static const bool removedAtExit = std::atexit([] { std::remove(InputPath().c_str()); }) == 0;
  (void)removedAtExit;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(InputPath().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  TSimSession session;
  Zu::TZuGen4& gen = session.Gen;
  try {
    gen.LoadFromFile(InputPath());
    gen.UpdateMode();
    session.Sim.Timers->Advance(300);
  } catch (const Zu::Exception&) {
    // The system's own refusals (a divider overflow, for one) are answers,
    // not faults; anything else escapes and is a finding.
  }
  gen.SetActive(false);

  AbortOnProtocolViolations(session.Sim);
  return 0;
}
