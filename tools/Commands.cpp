// The commands. Each starts from the remembered setup; one that changes it
// ends with ctx.Commit() (one update, then the state file is saved).
#include "Commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <ostream>

namespace Zu::Tool {

namespace {

// Copies the whole setup through a settings file: the settings record is the
// one complete and exact picture of a generator.
void CopySetup(TZuGen4& from, TZuGen4& to) {
  char name[] = "/tmp/zugen4-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw EToolError(ExitFile, "cannot create a temporary file");
  close(fd);
  try {
    from.SaveToFile(name);
    to.LoadFromFile(name);
  } catch (...) {
    std::remove(name);
    throw;
  }
  std::remove(name);
}

void ReportForced(TToolContext& ctx) {
  for (const std::string& line : ctx.TakeForcedModes()) ctx.Out() << line << '\n';
}

void LoadSettings(TToolContext& ctx, const std::string& file) {
  TZuGen4& gen = ctx.Generator();
  if (!std::filesystem::is_regular_file(file)) throw EToolError(ExitFile, "cannot read " + file);
  bool wrong = false;
  gen.OnErrorFile = [&wrong](TObject*) { wrong = true; };
  try {
    gen.LoadFromFile(file);
  } catch (const EInOutError&) {
    gen.OnErrorFile = nullptr;
    throw EToolError(ExitFile, "cannot read " + file);
  }
  gen.OnErrorFile = nullptr;
  if (wrong) throw EToolError(ExitFile, file + " is no settings file (no ZuG4 signature of version 1)");
}

void SaveSettings(TToolContext& ctx, const std::string& file) {
  try {
    ctx.Generator().SaveToFile(file);
  } catch (const EInOutError&) {
    throw EToolError(ExitFile, "cannot write " + file);
  }
}

}  // namespace

std::vector<std::string> CompletionWords(TToolContext&) { return {"load", "save", "reset", "quit"}; }

void AddCommands(CLI::App& app, TToolContext& ctx, std::istream*, bool nested) {
  auto file = std::make_shared<std::string>();

  CLI::App* load = app.add_subcommand("load", "Load a settings file and send it to the instrument");
  load->add_option("FILE", *file, "Settings file")->required();
  load->callback([&ctx, file] {
    LoadSettings(ctx, *file);
    ctx.Commit();
    ReportForced(ctx);
  });

  CLI::App* save = app.add_subcommand("save", "Save the setup as a settings file");
  save->add_option("FILE", *file, "Settings file")->required();
  save->callback([&ctx, file] { SaveSettings(ctx, *file); });

  app.add_subcommand("reset", "Reset the instrument; the remembered setup goes back to the defaults")->callback([&ctx] {
    TZuGen4& gen = ctx.Device();
    gen.ResetGen();
    TZuGen4 defaults;
    CopySetup(defaults, gen);
    ctx.SaveState();
  });

  if (!nested)
    app.add_subcommand("shell", "Read commands from standard input, one per line, with the device kept open");
}

}  // namespace Zu::Tool
