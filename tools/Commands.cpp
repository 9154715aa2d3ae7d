// The commands. Each starts from the remembered setup; one that changes it
// ends with ctx.Commit() (one update, then the state file is saved).
#include "Commands.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <ostream>
#include <sstream>

#include "SimReading.h"
#include "zugen4/Timers.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/ZuTextForm.h"
#include "zugen4/sim/SimModel.h"

namespace Zu::Tool {

namespace {

// A pipe or a device named as a file is refused before it is opened: reading
// or writing it could wait for ever.
void NeedRegularFile(const std::string& file, const char* verb) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT && std::string(verb) == "write") return;
    throw EToolError(ExitFile, std::string("cannot ") + verb + " " + file + ": " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) throw EToolError(ExitFile, std::string("cannot ") + verb + " " + file + ": Is a directory");
  if (!S_ISREG(st.st_mode))
    throw EToolError(ExitFile, std::string("cannot ") + verb + " " + file + ": " +
                                   (S_ISFIFO(st.st_mode) ? "it is a pipe" : "it is a device or socket") +
                                   ", not a regular file");
}

// `-` names standard input or output for every file argument. Standard input
// is read once, whole, and kept: a command may look at it twice (convert).
struct TStandardStreams {
  std::istream* In = nullptr;  // nullptr in the shell, whose input is its commands
  std::ostream* Out = nullptr;
  std::optional<std::string> Read;
};
TStandardStreams gStandard;

const std::string& StandardInput() {
  if (!gStandard.In)
    throw EToolError(ExitUsage, "- (standard input) is the shell's own input here; name a file instead");
  if (!gStandard.Read) {
    std::ostringstream text;
    text << gStandard.In->rdbuf();
    gStandard.Read = text.str();
  }
  return *gStandard.Read;
}

// Runs fn with a file name for `file`: the file itself, or for `-` a
// temporary file holding standard input (reading) or going to standard output
// once fn is done (writing), for the library calls that take names only.
template <typename Fn>
void WithFileName(const std::string& file, bool writing, Fn fn) {
  if (file != "-") return fn(file);
  char name[] = "/tmp/zugen4-stdio-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw EToolError(ExitFile, std::string("cannot make a temporary file: ") + std::strerror(errno));
  close(fd);
  struct TRemove {
    const char* Name;
    ~TRemove() { std::remove(Name); }
  } remove{name};
  auto told = [&](const EToolError& e) {
    std::string what = e.what();
    for (size_t at; (at = what.find(name)) != std::string::npos;)
      what.replace(at, std::strlen(name), writing ? "standard output" : "standard input");
    return EToolError(e.Code(), what);
  };
  try {
    if (!writing) {
      std::ofstream(name, std::ios::binary) << StandardInput();
      fn(std::string(name));
    } else {
      fn(std::string(name));
      std::ifstream in(name, std::ios::binary);
      *gStandard.Out << in.rdbuf() << std::flush;
    }
  } catch (const EToolError& e) {
    throw told(e);
  }
}

std::string ReadFile(const std::string& file) {
  if (file == "-") return StandardInput();
  NeedRegularFile(file, "read");
  std::ifstream s(file, std::ios::binary);
  if (!s) throw EToolError(ExitFile, "cannot read " + file + ": " + std::strerror(errno));
  std::ostringstream text;
  text << s.rdbuf();
  if (s.bad()) throw EToolError(ExitFile, "cannot read " + file + ": " + std::strerror(errno));
  return text.str();
}

void WriteFile(const std::string& file, const std::string& text) {
  if (file == "-") {
    *gStandard.Out << text << std::flush;
    return;
  }
  NeedRegularFile(file, "write");
  errno = 0;
  std::ofstream s(file, std::ios::binary | std::ios::trunc);
  s << text;
  s.close();
  if (!s) throw EToolError(ExitFile, "cannot write " + file + ": " + (errno ? std::strerror(errno) : "failed"));
}

bool IsSettingsFile(const std::string& bytes) { return bytes.compare(0, 4, TZuGen4::FIOMetrics) == 0; }

// The mode changes a command forced on the other channel, each with its rule.
void ReportForced(TToolContext& ctx) {
  for (const std::string& line : ctx.TakeForcedModes()) ctx.Err() << "note: " << line << '\n';
}

// Only a whole record is taken: a file cut short, or of another kind or
// version, changes nothing.
void LoadSettings(TZuGen4& gen, const std::string& file) {
  if (file == "-") return WithFileName(file, false, [&](const std::string& name) { LoadSettings(gen, name); });
  try {
    LoadSettingsStrict(gen, file);
  } catch (const EFileError& e) {
    throw EToolError(ExitFile, e.Detail());
  }
}

void SaveSettings(TZuGen4& gen, const std::string& file) {
  if (file == "-") return WithFileName(file, true, [&](const std::string& name) { SaveSettings(gen, name); });
  NeedRegularFile(file, "write");
  try {
    gen.SaveToFile(file);
  } catch (const EFileError& e) {
    throw EToolError(ExitFile, e.Detail());
  }
}

// A form's errors name the file and the line, like a compiler's.
void ApplyForm(TZuGen4& gen, const std::string& file, const std::string& text) {
  const std::string name = file == "-" ? "standard input" : file;
  if (!LooksLikeTextForm(text))
    throw EToolError(ExitFile, name + " is no text form (it does not start with `object NAME: TZuGen4`)");
  try {
    ReadTextForm(gen, text);
  } catch (const ETextFormError& e) {
    throw EToolError(ExitRefused, name + ":" + std::to_string(e.Line()) + ": " + e.Reason());
  }
}

// A generator apart from the device and the state: for conversions and the
// defaults.
std::unique_ptr<TZuGen4> ScratchGenerator(const std::shared_ptr<Sim::TSimPlatform>& sim) {
  auto gen = std::make_unique<TZuGen4>();
  gen->SetPlatform(sim->Platform());
  gen->SetAutoUpdate(false);
  return gen;
}

std::pair<std::string, std::string> SplitAssignment(const std::string& arg) {
  try {
    return ParseAssignment(arg);
  } catch (const Exception& e) {
    throw EToolError(ExitUsage, e.what());
  }
}

bool Matches(const std::string& pattern, const std::string& path) {
  if (pattern.empty()) return true;
  if (pattern.find_first_of("*?[") != std::string::npos) return fnmatch(pattern.c_str(), path.c_str(), 0) == 0;
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  return lower(path).find(lower(pattern)) != std::string::npos;
}

void PrintProps(TToolContext& ctx, const std::string& pattern) {
  TZuGen4& gen = ctx.View();
  std::ostream& out = ctx.Out();
  int shown = 0;
  for (const TPropInfo& p : ListProperties(gen)) {
    // A word that is no glob also finds the properties whose description has it.
    const bool glob = pattern.find_first_of("*?[") != std::string::npos;
    if (!Matches(pattern, p.Path) && (glob || !Matches(pattern, p.Description))) continue;
    ++shown;
    out << std::left << std::setw(34) << p.Path << ' ' << std::setw(6) << PropKindName(p.Kind) << " = "
        << GetPropText(gen, p.Path);
    if (!p.Unit.empty()) out << ' ' << p.Unit;
    if (const std::string range = RangeText(p); !range.empty()) out << "  [" << range << ']';
    if (!p.Enumerators.empty()) {
      out << "  {";
      for (size_t i = 0; i < p.Enumerators.size(); ++i) out << (i ? ", " : "") << p.Enumerators[i].ShortName;
      out << '}';
    }
    if (p.ReadOnly) out << "  (read-only)";
    if (!p.Stored) out << "  (not stored)";
    out << '\n';
    if (!p.Description.empty()) out << "    " << p.Description << '\n';
  }
  if (shown == 0 && !pattern.empty()) throw EToolError(ExitRefused, "no property matches `" + pattern + "`");
}

// --- poll ---

volatile std::sig_atomic_t gInterrupted = 0;

void Poll(TToolContext& ctx, int count) {
  TZuGen4& gen = ctx.Device();
  std::vector<TZuGen4Channel*> tuning;
  for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())})
    if (ch->Mode() == ZGMdC_tuning) tuning.push_back(ch);
  if (tuning.empty())
    throw EToolError(ExitUsage, "no channel is in tuning mode; e.g. `zugen4 set ChA.Mode=tuning` first");
  int interval = 0;
  for (TZuGen4Channel* ch : tuning) {
    if (ch->Tuner()->ADCTimerInterval() <= 0)
      throw EToolError(ExitUsage, std::string(ch->IsChannelA() ? "ChA" : "ChB") +
                                      ".Tuner.ADCTimerInterval is 0: the tuner does not poll");
    interval = interval ? std::min(interval, ch->Tuner()->ADCTimerInterval()) : ch->Tuner()->ADCTimerInterval();
    // Polling is what the command is for; the remembered setup is not changed.
    ch->Tuner()->SetADCTimerEnabled(true);
  }
  int seen = 0;
  uint64_t start = 0;
  Sim::TSimPlatform* sim = ctx.Sim();
  if (sim) start = sim->Clock->Now();
  const auto t0 = std::chrono::steady_clock::now();
  gen.OnADCTimer = [&](TZuGen4Channel* ch) {
    const uint64_t ms =
        sim ? sim->Clock->Now() - start
            : static_cast<uint64_t>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
    ctx.Out() << std::right << std::setw(8) << ms << " ms  " << (ch->IsChannelA() ? "ChA" : "ChB") << " ADC "
              << ch->Tuner()->ADCValue() << std::endl;
    ++seen;
  };
  gen.UpdateDependentTimers();  // the tuners start polling
  gInterrupted = 0;
  auto previous = std::signal(SIGINT, [](int) { gInterrupted = 1; });
  try {
    while ((count <= 0 || seen < count) && !gInterrupted) {
      if (sim) {
        // Virtual time: move the clock on to the next reading, which follows
        // the same wave as the front panel's.
        sim->Driver->SetADCValue(SimulatedReading(static_cast<double>(sim->Clock->Now() + interval) / 1000.0));
        sim->Timers->Advance(static_cast<uint64_t>(interval));
      } else {
        WaitMessages(200);
        ProcessMessages();
      }
    }
  } catch (...) {
    std::signal(SIGINT, previous);
    gen.OnADCTimer = nullptr;
    throw;
  }
  std::signal(SIGINT, previous);
  gen.OnADCTimer = nullptr;
}

// --- plans ---

// A plan as --trace prints frames, then its total time.
void PrintPlan(TToolContext& ctx, const TZuGen4Plan& plan) {
  ctx.Out() << plan.Text();
  ctx.Err() << "note: --dry-run: nothing was sent or remembered\n";
}

void Replay(TToolContext& ctx, const std::string& file) {
  std::vector<TRecordedPlan> plans;
  try {
    std::istringstream text(ReadFile(file));
    plans = ReadRecording(text, file);
  } catch (const EBadValue& e) {
    throw EToolError(ExitFile, std::string(e.what()) + " (not a recording made with --record?)");
  }
  const TToolOptions& o = ctx.Options();
  if (o.Sim || !o.DeviceGiven) {
    const TReplayResult r = ReplayOnSimulator(plans);
    ctx.Out() << r.Plans << (r.Plans == 1 ? " plan, " : " plans, ") << r.Steps
              << " steps replayed on the simulated instrument\n"
              << r.State;
    for (const std::string& v : r.Violations) ctx.Out() << "protocol violation: " << v << '\n';
    if (!r.Violations.empty())
      throw EToolError(ExitRefused, std::to_string(r.Violations.size()) + " protocol violations");
    return;
  }
  // To an instrument: the recorded frames with the instrument's wait, through
  // the link alone (the remembered setup is not touched).
  TZuGen4& gen = ctx.Device();
  for (const TRecordedPlan& r : plans) {
    TZuGen4Plan sent;
    sent.Steps.assign(r.Plan.Steps.begin(), r.Plan.Steps.begin() + static_cast<ptrdiff_t>(r.StepsOut()));
    gen.SendPlan(sent);
  }
  ctx.Out() << plans.size() << " plans sent to the instrument\n";
}

// --- table ---

// The table the engine at `path` would download: the library plans it on a
// copy of the setup, as every face does.
TZuGen4PlanTable ComputeTable(TToolContext& ctx, const std::string& path) {
  try {
    return ctx.View().PlanTable(path);
  } catch (const ENoTable& e) {
    throw EToolError(ExitUsage, e.what());
  } catch (const EUnknownProperty& e) {
    throw EToolError(ExitUsage, e.what());
  }
}

void WriteSvg(const std::string& file, const std::string& title, const TZuGen4PlanTable& t) {
  constexpr double W = 800, H = 300, M = 40;
  double lo = t.Values.empty() ? 0 : t.Values.front(), hi = lo;
  for (double v : t.Values) lo = std::min(lo, v), hi = std::max(hi, v);
  if (hi == lo) hi = lo + 1;
  std::ostringstream s;
  s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\">\n"
    << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
    << "<text x=\"" << M << "\" y=\"20\" font-family=\"sans-serif\" font-size=\"13\">" << title << "</text>\n"
    << "<text x=\"4\" y=\"" << M << "\" font-family=\"sans-serif\" font-size=\"11\">" << hi << ' ' << t.Unit
    << "</text>\n"
    << "<text x=\"4\" y=\"" << H - M + 12 << "\" font-family=\"sans-serif\" font-size=\"11\">" << lo << ' ' << t.Unit
    << "</text>\n"
    << "<polyline fill=\"none\" stroke=\"#0060c0\" stroke-width=\"1.5\" points=\"";
  const size_t n = t.Values.size();
  for (size_t i = 0; i < n; ++i) {
    const double x = M + (W - 2 * M) * (n > 1 ? static_cast<double>(i) / static_cast<double>(n - 1) : 0.0);
    const double y = H - M - (H - 2 * M) * (t.Values[i] - lo) / (hi - lo);
    s << x << ',' << y << ' ';
  }
  s << "\"/>\n</svg>\n";
  WriteFile(file, s.str());
}

void Table(TToolContext& ctx, const std::string& path, bool csv, const std::string& svg) {
  const TZuGen4PlanTable t = ComputeTable(ctx, path);
  std::ostream& out = ctx.Out();
  if (csv) {
    out << "index,code," << t.Quantity << "_" << (t.Unit == "%" ? "percent" : t.Unit) << '\n';
    for (size_t i = 0; i < t.Codes.size(); ++i)
      out << i << ',' << t.Codes[i] << ',' << std::setprecision(10) << t.Values[i] << '\n';
  } else {
    out << path << ": " << t.Codes.size() << " readings of " << t.Quantity << '\n'
        << "step time: " << std::setprecision(6) << t.StepSeconds * 1e6 << " us (one pass "
        << t.StepSeconds * 1e3 * static_cast<double>(t.Codes.size()) << " ms)\n"
        << "divider: " << t.DividerText << '\n';
  }
  if (!svg.empty()) WriteSvg(svg, path + " (" + std::to_string(t.Codes.size()) + " readings)", t);
}

// --- state ---

// The main values of the engine a channel's mode runs, as lines for `state`
// (empty for a mode without one).
std::string EngineValues(TZuGen4& gen, TZuGen4Channel& ch) {
  const std::string at = ch.IsChannelA() ? "ChA." : "ChB.";
  // A value with its unit; enumerators by their short name.
  auto v = [&](const std::string& path) {
    const TPropInfo info = DescribeProperty(gen, at + path);
    const double value = GetPropDouble(gen, at + path);
    for (const TPropEnumerator& e : info.Enumerators)
      if (e.Value == value) return e.ShortName;
    return GetPropText(gen, at + path) + (info.Unit.empty() ? "" : " " + info.Unit);
  };
  // The deviation that goes with the modulated quantity.
  auto deviation = [&](const std::string& engine, TZuGen4AFPModes type) {
    return v(engine + (type == ZGAFPms_freq ? ".dF" : type == ZGAFPms_ampl ? ".dA" : ".dPh"));
  };
  switch (ch.Mode()) {
    case ZGMdC_tuning:
      return "  tuner: " + v("Tuner.Type") + ", scale " + v("Tuner.Scale") + ", polling every " +
             v("Tuner.ADCTimerInterval") + (ch.Tuner()->ADCTimerEnabled() ? "" : " (polling off)") + "\n";
    case ZGMdC_IntModulation:
      return "  modulating " + v("IntModulation.Type") + " with " + v("IntModulation.MathFuncType") + " (CC " +
             v("IntModulation.CC") + ") at " + v("IntModulation.Fm") + ", deviation " +
             deviation("IntModulation", ch.IntModulation()->Type()) + "\n";
    case ZGMdC_ExtModulation:
    case ZGMdC_ExtModulationA12:
    case ZGMdC_ExtModulationAB1:
      return "  modulating " + v("ExtModulation.Type") + " from the external input, scale " + v("ExtModulation.Scale") +
             "\n";
    case ZGMdC_LFM:
      return "  sweep from " + v("Frequency") + " to " + v("LFM.FreqTop") + "; rising " + v("LFM.Tinc0") + " + " +
             v("LFM.Tinc1") + ", falling " + v("LFM.Tdec0") + " + " + v("LFM.Tdec1") + "\n";
    case ZGMdC_DDSMod: {
      const TZuGen4DDSmodModes mode = ch.DDSMod()->Mode();
      std::string text = "  keying " + v("DDSMod.Type") + ", " + v("DDSMod.Mode");
      if (mode == ZGTMs_User)
        return text + ": " + v("DDSMod.MathFuncType") + " at " + v("DDSMod.Fm") + ", deviation " +
               deviation("DDSMod", ch.DDSMod()->Type()) + "\n";
      text += "\n";
      for (int i = 1; i <= (mode == ZGTMs_QxSK ? 4 : 2); ++i) {
        const std::string n = std::to_string(i);
        text += "    state " + n + ": " + v("DDSMod.F" + n) + ", " + v("DDSMod.Ph" + n) + ", held " +
                v("DDSMod.T" + n) + "\n";
      }
      return text;
    }
    default: return {};
  }
}

void State(TToolContext& ctx) {
  if (!ctx.Options().Sim)
    throw EToolError(ExitUsage,
                     "state needs --sim: the instrument cannot be read back (`show` prints the remembered setup)");
  TZuGen4& gen = ctx.Device();
  // The instrument's decoded state, each channel's block followed by what its
  // engine runs with.
  std::istringstream text(ctx.Sim()->Driver->Model().StateText());
  std::string line, pending;
  auto flush = [&] {
    ctx.Out() << pending;
    pending.clear();
  };
  while (std::getline(text, line)) {
    if (line.rfind("channel ", 0) == 0) flush();
    ctx.Out() << line << '\n';
    if (line.rfind("channel A:", 0) == 0) pending = EngineValues(gen, *gen.ChA());
    if (line.rfind("channel B:", 0) == 0) pending = EngineValues(gen, *gen.ChB());
  }
  flush();
}

// --- convert ---

void Convert(const std::string& in, const std::string& out) {
  const std::string bytes = ReadFile(in);
  auto sim = std::make_shared<Sim::TSimPlatform>();
  auto gen = ScratchGenerator(sim);
  if (IsSettingsFile(bytes)) {
    LoadSettings(*gen, in);
    WriteFile(out, WriteTextForm(*gen));
  } else if (LooksLikeTextForm(bytes)) {
    ApplyForm(*gen, in, bytes);
    // The record also keeps whether each channel's output was switched on,
    // which no property says: it is what sending the setup once leaves.
    gen->SetActive(true);
    gen->UpdateMode();
    SaveSettings(*gen, out);
  } else {
    throw EToolError(ExitFile, in + " is neither a settings file nor a text form");
  }
}

}  // namespace

CLI::Validator NonNegative() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        long long v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size() && v < 0) return "must be 0 or more, not " + text;
        return {};  // the conversion to a number names any other fault
      },
      "NONNEGATIVE");
}

std::vector<std::string> CompletionWords(TToolContext& ctx) {
  std::vector<std::string> words = {"set",    "get",     "show",  "props", "load",  "save",  "apply",
                                    "export", "convert", "state", "poll",  "table", "reset", "quit"};
  for (const TPropInfo& p : ListProperties(ctx.Generator())) words.push_back(p.Path);
  return words;
}

void AddCommands(CLI::App& app, TToolContext& ctx, std::istream* in, bool nested) {
  gStandard = {nested ? nullptr : in ? in : &std::cin, &ctx.Out(), {}};
  // The argument holders live as long as the app: the callbacks run after
  // the whole line was parsed.
  auto words = std::make_shared<std::vector<std::string>>();
  auto file = std::make_shared<std::string>();
  auto file2 = std::make_shared<std::string>();
  auto count = std::make_shared<int>(0);
  auto csv = std::make_shared<bool>(false);

  auto dryRun = std::make_shared<bool>(false);
  auto force = std::make_shared<bool>(false);
  auto addDryRun = [dryRun](CLI::App* sub) {
    sub->add_flag("--dry-run", *dryRun, "Print what would be sent and its time; send and remember nothing");
  };

  CLI::App* set = app.add_subcommand("set", "Set properties (PATH=VALUE ...) and send them in one update");
  set->add_option("ASSIGNMENTS", *words, "e.g. ChA.Mode=IntModulation ChA.IntModulation.Fm=500")->required();
  addDryRun(set);
  set->add_flag("--force", *force,
                "Enter a mode even when its engine holds a value outside its own range (sent as it is)");
  set->callback([&ctx, words, dryRun, force] {
    std::vector<std::pair<std::string, std::string>> assignments;
    for (const std::string& w : *words) assignments.push_back(SplitAssignment(w));
    TZuGen4& gen = ctx.Generator();
    ctx.TakeForcedModes();
    SetProps(gen, assignments, TSetOptions{.Update = false, .Force = *force});
    gen.SetAutoUpdate(false);
    if (*dryRun) return PrintPlan(ctx, gen.PlanUpdate());
    ctx.Commit();
    ReportForced(ctx);
  });

  CLI::App* get = app.add_subcommand("get", "Print property values (one: the value; several: PATH = value)");
  get->add_option("PATHS", *words, "e.g. ChA.Frequency")->required();
  get->callback([&ctx, words] {
    TZuGen4& gen = ctx.View();
    std::vector<std::string> lines;
    for (const std::string& p : *words) lines.push_back(GetPropText(gen, p));
    for (size_t i = 0; i < lines.size(); ++i)
      ctx.Out() << (words->size() > 1 ? (*words)[i] + " = " : std::string()) << lines[i] << '\n';
    if (!ctx.Options().Sim)
      ctx.Err() << "note: the instrument cannot be read back; " << (words->size() > 1 ? "these are" : "this is")
                << " the value" << (words->size() > 1 ? "s" : "") << " last sent to it, as remembered in "
                << ctx.StatePath() << '\n';
  });

  app.add_subcommand("show", "Print the whole setup as a text form")->callback([&ctx] {
    ctx.Out() << WriteTextForm(ctx.View());
  });

  CLI::App* props = app.add_subcommand("props", "List properties: type, value, unit, range, enumerators");
  props->add_option("PATTERN", *file, "Part of the path or description (any case), or a glob (ChA.*)");
  props->callback([&ctx, file] { PrintProps(ctx, *file); });

  CLI::App* load = app.add_subcommand("load", "Load a settings file and send it to the instrument");
  load->add_option("FILE", *file, "Settings file")->required();
  addDryRun(load);
  load->callback([&ctx, file, dryRun] {
    TZuGen4& gen = ctx.Generator();
    ctx.TakeForcedModes();
    LoadSettings(gen, *file);
    if (*dryRun) return PrintPlan(ctx, gen.PlanUpdate());
    ctx.Commit();
  });

  CLI::App* save = app.add_subcommand("save", "Save the setup as a settings file");
  save->add_option("FILE", *file, "Settings file")->required();
  save->callback([&ctx, file] { SaveSettings(ctx.View(), *file); });

  CLI::App* apply = app.add_subcommand("apply", "Apply a text form and send it to the instrument");
  apply->add_option("FORM", *file, "Text form")->required();
  addDryRun(apply);
  apply->callback([&ctx, file, dryRun] {
    TZuGen4& gen = ctx.Generator();
    ctx.TakeForcedModes();
    ApplyForm(gen, *file, ReadFile(*file));
    gen.SetAutoUpdate(false);
    if (*dryRun) return PrintPlan(ctx, gen.PlanUpdate());
    ctx.Commit();
    ReportForced(ctx);
  });

  CLI::App* exp = app.add_subcommand("export", "Write the setup as a text form");
  exp->add_option("FORM", *file, "Text form")->required();
  exp->callback([&ctx, file] { WriteFile(*file, WriteTextForm(ctx.View())); });

  CLI::App* convert =
      app.add_subcommand("convert", "Convert a settings file to a text form or back (decided by content)");
  convert->add_option("IN", *file, "Settings file or text form")->required();
  convert->add_option("OUT", *file2, "Text form or settings file")->required();
  convert->callback([file, file2] { Convert(*file, *file2); });

  app.add_subcommand("state", "With --sim: the simulated instrument's decoded state per channel")->callback([&ctx] {
    State(ctx);
  });

  CLI::App* poll = app.add_subcommand("poll", "Print the tuner's ADC readings as they arrive (tuning mode)");
  poll->add_option("--count", *count, "Stop after N readings (default: until Ctrl-C; 10 with --sim)")
      ->check(NonNegative());
  poll->callback([&ctx, count] { Poll(ctx, *count > 0 ? *count : (ctx.Options().Sim ? 10 : 0)); });

  CLI::App* table = app.add_subcommand("table", "The table an engine would download, its step time and divider");
  table->add_option("PATH", *file, "ChA.IntModulation, ChB.IntModulation, ChA.DDSMod or ChB.DDSMod")->required();
  table->add_flag("--csv", *csv, "Print every reading as CSV");
  table->add_option("--svg", *file2, "Draw the table into an SVG file");
  table->callback([&ctx, file, file2, csv] { Table(ctx, *file, *csv, *file2); });

  CLI::App* reset = app.add_subcommand("reset", "Reset the instrument; the remembered setup goes back to the defaults");
  addDryRun(reset);
  reset->callback([&ctx, dryRun] {
    if (*dryRun) {
      TZuGen4Plan plan;
      const TZuGen4Cmd frame(ZGCN_A, ZGCmd_Reset);
      plan.AddCommand(frame.Bytes.data(), frame.Bytes.size());
      plan.Steps.back().Text = "reset";
      return PrintPlan(ctx, plan);
    }
    ResetToDefaults(ctx.Device());
    ctx.SaveState();
  });

  CLI::App* replay = app.add_subcommand(
      "replay", "Play a recording (--record) into the simulated instrument, or with --device into an instrument");
  replay->add_option("FILE", *file, "Recording (- reads standard input)")->required();
  replay->callback([&ctx, file] { Replay(ctx, *file); });

  if (!nested)
    app.add_subcommand("shell", "Read commands from standard input, one per line, with the device kept open");
}

}  // namespace Zu::Tool
