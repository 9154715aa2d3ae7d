// The command line: global options, the commands, and how failures become
// messages and exit codes.
#include "Tool.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>

#include "Commands.h"
#include "ToolContext.h"
#include "zugen4/Version.h"
#include "zugen4/ZuRegistry.h"

namespace Zu::Tool {

void AddServeCommand(CLI::App& app, TToolContext& ctx);  // tools/serve/
void AddListCommand(CLI::App& app, TToolContext& ctx);   // tools/ListCommand.cpp
void AddScpiCommand(CLI::App& app, TToolContext& ctx);   // tools/scpi/
void AddListCommand(CLI::App& app, TToolContext& ctx);   // tools/ListCommand.cpp

namespace {

// Subcommands that live in other directories. To add one: declare its
// TRegisterCommand function and add it to this list (tools/serve/ adds
// `zugen4 serve` this way); its sources join the zugen_tool library from its
// own CMakeLists.txt.
const std::vector<TRegisterCommand> kExtensionCommands = {AddServeCommand, AddListCommand, AddScpiCommand};

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  done\n"
    "  1  any other failure\n"
    "  2  usage: unknown command or option, missing or malformed argument\n"
    "  3  refused: unknown property, malformed value, or a value outside its range\n"
    "  4  file: cannot be read or written, or is no settings file / text form\n"
    "  5  no instrument: device not found or busy, or no driver library; or another zugen4\n"
    "     holds the state file (see --wait); or the panel's port is taken (serve)\n"
    "  6  the link to the instrument failed while sending\n"
    "\n"
    "The setup last sent to each device is kept in a state file (a settings file under\n"
    "$XDG_STATE_HOME/zugen4 or ~/.local/state/zugen4, or --state FILE); every command starts\n"
    "from it, and the instrument keeps running when the tool exits.";

}  // namespace

int ReportFailure(TToolContext& ctx) {
  std::ostream& err = ctx.Err();
  try {
    throw;
  } catch (const EToolError& e) {
    err << "zugen4: " << e.what() << '\n';
    return e.Code();
  } catch (const EUnknownProperty& e) {
    err << "zugen4: " << e.what() << " (`zugen4 props` lists them)\n";
    return ExitRefused;
  } catch (const EBadValue& e) {
    err << "zugen4: " << e.what() << '\n';
    return ExitRefused;
  } catch (const ERefusedValue& e) {
    err << "zugen4: " << e.what() << '\n';
    return ExitRefused;
  } catch (const EFileError& e) {
    err << "zugen4: " << e.Detail() << '\n';
    return ExitFile;
  } catch (const EInOutError& e) {
    err << "zugen4: " << e.what() << '\n';
    return ExitFile;
  } catch (const Exception& e) {
    // Anything else the library raises comes from the link.
    err << "zugen4: the link to the instrument failed: " << e.what() << '\n';
    if (const std::string account = ctx.LinkFailure(); !account.empty()) err << "  " << account << '\n';
    return ExitLinkFailed;
  } catch (const std::exception& e) {
    err << "zugen4: " << e.what() << '\n';
    return ExitFailure;
  }
}

namespace {

void AddGlobalOptions(CLI::App& app, TToolOptions& o) {
  app.add_flag("--sim", o.Sim, "Use the simulated instrument");
  app.add_option_function<std::string>(
      "--device",
      [&o](const std::string& text) {
        TFtDeviceChoice choice;
        std::string why;
        if (!ParseDeviceChoice(text, choice, why)) throw CLI::ValidationError("--device", why);
        o.Device = choice.Index;
        o.Serial = choice.Serial;
        o.DeviceGiven = true;
      },
      "Which USB device: its index (0 by default) or its serial number (zugen4 list shows both)");
  app.add_flag("--trace", o.Trace, "Print every frame and data block as it is sent");
  app.add_option("--state", o.StateFile, "The state file (default: one per device under the user's state directory)");
  app.add_flag("--wait", o.Wait, "Wait while another zugen4 holds the state file, instead of failing");
  app.add_option("--record", o.Record, "Append every update sent to FILE (replay it with `zugen4 replay FILE`)");
  app.set_version_flag("--version", std::string("zugen4 ") + ZUGEN_VERSION_STRING);
}

// One example per command, shown at the end of its --help (one table, so
// that a command from another directory gets one too).
constexpr std::pair<const char*, const char*> kExamples[] = {
    {"set", "zugen4 --sim set ChB.Mode=intmod ChB.IntModulation.Fm=5kHz \"ChB.Frequency=2 MHz\""},
    {"get", "zugen4 --sim get ChA.Frequency ChA.Mode"},
    {"show", "zugen4 --sim show > setup.form"},
    {"props", "zugen4 props deviation      (paths and descriptions that have the word)"},
    {"load", "zugen4 --sim load setup.zg4      (- reads standard input)"},
    {"save", "zugen4 --sim save setup.zg4      (- writes standard output)"},
    {"apply", "zugen4 --sim apply examples/forms/sweep.form      (- reads standard input)"},
    {"export", "zugen4 --sim export -      (the text form on standard output)"},
    {"convert", "zugen4 convert setup.zg4 setup.form      (- for standard input or output)"},
    {"state", "zugen4 --sim state"},
    {"poll", "zugen4 --sim poll --count 5"},
    {"table", "zugen4 --sim table ChA.IntModulation --csv > table.csv"},
    {"reset", "zugen4 --sim reset"},
    {"replay", "zugen4 --sim --record session.rec set ChA.Mode=sine; zugen4 --sim replay session.rec"},
    {"shell", "zugen4 --sim shell      (then: help, set ChA.Mode=gen, quit)"},
    {"serve", "zugen4 --sim serve --port 8050"},
    {"scpi", "zugen4 --sim scpi --port 5025      (then PyVISA: TCPIP::127.0.0.1::5025::SOCKET)"},
    {"list", "zugen4 list"},
};

void AddExamples(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands({})) {
    if (!sub->get_footer().empty()) continue;
    for (const auto& [name, example] : kExamples)
      if (sub->get_name() == name) sub->footer(std::string("Example:\n  ") + example);
  }
}

int ParseAndRun(CLI::App& app, TToolContext& ctx, std::vector<std::string> args) {
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
    return ExitOk;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      app.exit(e, ctx.Out(), ctx.Err());  // --help, --version
      return ExitOk;
    }
    std::string what = e.what();
    const std::vector<std::string> extra = app.remaining();
    if (app.get_subcommands().empty() && !extra.empty()) what = "unknown command: " + extra.front();
    ctx.Err() << "zugen4: " << what << " (see zugen4 --help)\n";
    return ExitUsage;
  } catch (...) {
    return ReportFailure(ctx);
  }
}

}  // namespace

int RunLine(TToolContext& ctx, const std::string& line) {
  std::vector<std::string> args;
  try {
    args = CLI::detail::split_up(line);
  } catch (const std::exception& e) {
    ctx.Err() << "zugen4: " << e.what() << '\n';
    return ExitUsage;
  }
  if (args.empty()) return ExitOk;
  CLI::App app("One command of the zugen4 shell", "zugen4");
  app.require_subcommand(1);
  AddCommands(app, ctx, nullptr, /*nested=*/true);
  AddExamples(app);
  app.footer(ShellFooter(ctx));
  return ParseAndRun(app, ctx, std::move(args));
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream* in) {
  TToolContext ctx(out, err);
  CLI::App app("zugen4: the two-channel DDS generator from a shell, on the desk or simulated", "zugen4");
  app.require_subcommand(1);
  // The global options may also follow the command (zugen4 get ChA.Frequency --sim).
  app.fallthrough();
  AddGlobalOptions(app, ctx.Options());
  AddCommands(app, ctx, in, /*nested=*/false);
  for (TRegisterCommand add : kExtensionCommands) add(app, ctx);
  AddExamples(app);
  // Set last, so that no command's --help repeats it.
  app.footer(kExitCodes);
  int code = ParseAndRun(app, ctx, args);
  if (code == ExitOk && app.got_subcommand("shell")) code = RunShell(ctx, in);
  // The simulated instrument also checks the conversation: a breach of the
  // protocol is a failure even when every command went through.
  if (Sim::TSimPlatform* sim = ctx.Sim()) {
    std::vector<std::string> seen = sim->Driver->Violations();
    seen.insert(seen.end(), sim->Driver->Model().Violations().begin(), sim->Driver->Model().Violations().end());
    for (const std::string& v : seen) ctx.Err() << "zugen4: protocol violation: " << v << '\n';
    if (code == ExitOk && !seen.empty()) code = ExitFailure;
  }
  return code;
}

}  // namespace Zu::Tool
