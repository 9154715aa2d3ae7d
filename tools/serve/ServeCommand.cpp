#include "ServeCommand.h"

#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <memory>
#include <ostream>

#include "Server.h"
#include "SimReading.h"

namespace Zu::Tool {

namespace {

struct TServeArgs {
  int Port = 8044;
  std::string Listen = "127.0.0.1";
};

// The simulated instrument's ADC follows the tool's slow wave, at the wall clock.
uint32_t SimulatedReading() {
  return Tool::SimulatedReading(
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// Each watching browser holds a descriptor: allow as many as the system lets us.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
  setrlimit(RLIMIT_NOFILE, &limit);
}

void RunServe(TToolContext& ctx, const TServeArgs& args) {
  TZuGen4& gen = ctx.Generator();
  auto frames = Serve::InstallFrameLog(gen);
  Serve::TServeOptions options;
  options.Listen = args.Listen;
  options.Port = args.Port;
  options.OnChanged = [&ctx] { ctx.SaveState(); };
  if (Sim::TSimPlatform* sim = ctx.Sim()) {
    options.SimTimers = sim->Timers;
    options.SimDriver = sim->Driver;
    options.Tick = [sim] { sim->Driver->SetADCValue(SimulatedReading()); };
  }
  RaiseDescriptorLimit();
  Serve::TPanelServer server(gen, options, frames);
  // The port first: a panel that cannot listen leaves the instrument alone.
  if (!server.Bind())
    throw EToolError(server.PortInUse() ? ExitNoDevice : ExitFailure,
                     server.BindError() + (server.PortInUse() ? "; --port 0 takes any free one" : ""));
  ctx.Device();
  std::ostream& out = ctx.Out();
  out << "ZuGen4 front panel at " << server.Url() << "\n";
  if (!Serve::IsLoopback(args.Listen))
    out << "Listening beyond this machine: every request needs the token " << server.Token()
        << " (the address above carries it).\n";
  out << "Stop with Ctrl-C; the instrument keeps its setup.\n" << std::flush;
  server.StopOnSignals();
  server.Run();
}

}  // namespace

void AddServeCommand(CLI::App& app, TToolContext& ctx) {
  auto args = std::make_shared<TServeArgs>();
  CLI::App* serve = app.add_subcommand("serve", "The front panel in the browser (127.0.0.1:8044 by default)");
  // The global options (--sim, --device, --state) may also follow the command.
  serve->fallthrough();
  serve->add_option("--port", args->Port, "TCP port; 0 takes any free one")->check(CLI::Range(0, 65535));
  serve->add_option("--listen", args->Listen,
                    "Address to listen on; any but a loopback address needs the token the panel prints");
  serve->callback([&ctx, args] { RunServe(ctx, *args); });
}

}  // namespace Zu::Tool
