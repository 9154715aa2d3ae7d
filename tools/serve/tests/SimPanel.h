// What the panel's tests serve: a generator on the simulated instrument, its
// link open and its frames logged, as `zugen4 serve --sim` has it.
#pragma once

#include <memory>

#include "Server.h"
#include "zugen4/sim/SimInstrument.h"

namespace Zu::Serve {

struct TSimPanel {
  Sim::TSimPlatform Sim;
  TZuGen4 Gen;
  std::shared_ptr<TFrameLog> Log;

  TSimPanel() {
    Gen.SetPlatform(Sim.Platform());
    Log = InstallFrameLog(Gen);
    Gen.IncludeState(csLoading);
    Gen.SetActive(true);
  }
  // The options with this instrument's timers and driver.
  TServeOptions Options(TServeOptions options = {}) const {
    options.SimTimers = Sim.Timers;
    options.SimDriver = Sim.Driver;
    return options;
  }
};

}  // namespace Zu::Serve
