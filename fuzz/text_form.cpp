// Fuzz target: any text as a text form. The generator reads it while active on
// the simulated instrument and writes its own form out again; nothing may
// crash, and the instrument must never see a protocol violation. Form errors
// and the library's own refusals are answers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "SimCheck.h"
#include "zugen4/ZuTextForm.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TSimSession session;
  Zu::TZuGen4& gen = session.Gen;
  try {
    Zu::ReadTextForm(gen, text);
    Zu::ReadTextForm(gen, Zu::WriteTextForm(gen));
  } catch (const Zu::Exception&) {
  }
  gen.SetActive(false);

  AbortOnProtocolViolations(session.Sim);
  return 0;
}
