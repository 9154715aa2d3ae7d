// `zugen4 scpi`: the SCPI server on the tool's context (global options, state
// file, one update per change).
#include <CLI/CLI.hpp>
#include <chrono>
#include <memory>
#include <ostream>

#include "ScpiServer.h"
#include "SimReading.h"
#include "ToolContext.h"
#include "zugen4/Version.h"

namespace Zu::Tool {

namespace {

struct TScpiArgs {
  int Port = 5025;
  std::string Listen = "127.0.0.1";
  std::vector<std::string> Allow;
};

// The simulated instrument's ADC follows the tool's slow wave, at the wall clock.
uint32_t SimulatedReading() {
  return Tool::SimulatedReading(
      std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// *IDN?'s serial field: SIM on the simulator, otherwise the bridge's serial
// number (as chosen, or as the driver lists the chosen index).
std::string SerialOf(TToolContext& ctx) {
  const TToolOptions& o = ctx.Options();
  if (o.Sim) return "SIM";
  if (!o.Serial.empty()) return o.Serial;
  for (const TFtDeviceInfo& d : SystemPlatform().Driver->ListDevices().Devices)
    if (d.Index == o.Device && !d.Serial.empty()) return d.Serial;
  return "device" + std::to_string(o.Device);
}

void RunScpi(TToolContext& ctx, const TScpiArgs& args) {
  Scpi::TScpiServerOptions options;
  options.Listen = args.Listen;
  options.Port = args.Port;
  for (const std::string& a : args.Allow) {
    Scpi::TCidr range;
    std::string why;
    if (!Scpi::ParseCidr(a, range, why)) throw EToolError(ExitUsage, "--allow " + why);
    options.Allow.push_back(range);
  }
  if (!Scpi::IsLoopbackAddress(args.Listen) && args.Allow.empty())
    throw EToolError(ExitUsage, "--listen " + args.Listen +
                                    " serves other machines, and SCPI has no password: name who may connect "
                                    "with --allow CIDR... (e.g. --allow 192.168.1.0/24)");
  TZuGen4& gen = ctx.Device();
  if (Sim::TSimPlatform* sim = ctx.Sim()) {
    // A server runs for hours: the simulator keeps only its recent trace.
    sim->Driver->SetTraceLimit(4096);
    options.SimTimers = sim->Timers;
    options.Tick = [sim] { sim->Driver->SetADCValue(SimulatedReading()); };
  }
  Scpi::TScpiOptions scpi;
  scpi.Serial = SerialOf(ctx);
  scpi.Version = ZUGEN_VERSION_STRING;
  // Every update goes through here, once per program message that changed
  // the setup; the context's recorder (--record) writes down what it sends.
  scpi.Commit = [&ctx](std::string_view) {
    try {
      ctx.Commit();
    } catch (const EToolError& e) {
      throw Scpi::EScpiError(-300, e.what());
    }
  };
  Scpi::TScpiInstrument instrument(gen, scpi);
  options.Log = &ctx.Err();
  Scpi::TScpiServer server(instrument, options);
  if (const std::string why = server.Bind(); !why.empty())
    throw EToolError(ExitFailure, why + " (--port 0 takes any free port)");
  std::ostream& out = ctx.Out();
  const bool v6 = args.Listen.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + args.Listen + "]" : args.Listen;
  out << "ZuGen4 SCPI server on " << host << ":" << server.Port() << " (VISA resource TCPIP::" << host
      << "::" << server.Port() << "::SOCKET, lines end with \\n)\n"
      << "Stop with Ctrl-C; the instrument keeps its setup.\n"
      << std::flush;
  server.StopOnSignals();
  server.Run();
}

}  // namespace

void AddScpiCommand(CLI::App& app, TToolContext& ctx) {
  auto args = std::make_shared<TScpiArgs>();
  CLI::App* scpi = app.add_subcommand("scpi", "A SCPI server over raw TCP (127.0.0.1:5025 by default)");
  scpi->fallthrough();
  scpi->add_option("--port", args->Port, "TCP port; 0 takes any free one")->check(CLI::Range(0, 65535));
  scpi->add_option("--listen", args->Listen, "Address to listen on; beyond loopback it needs --allow");
  scpi->add_option("--allow", args->Allow, "Address ranges (CIDR) that may connect besides this machine");
  scpi->callback([&ctx, args] { RunScpi(ctx, *args); });
}

}  // namespace Zu::Tool
