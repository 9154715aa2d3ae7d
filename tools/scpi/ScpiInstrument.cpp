#include "ScpiInstrument.h"

#include <cmath>
#include <cstdio>

#include "zugen4/ZuRegistry.h"

namespace Zu::Scpi {

// --- the command table ---

// A keyword of character data and the registry's text for it.
struct TChoice {
  const char* Keyword;  // as SCPI documents it: "SWEep"
  const char* Registry;
};

enum class TAct : uint8_t {
  Prop,     // a registry path
  Output,   // OUTPut: the channel's mode off, or back to the mode it had
  Sense,    // SENSe<n>:DATA?
  Fetch,    // FETCh?: the channel that tunes
  SysProp,  // SYSTem:PROPerty "path",value
  SysCatalog,
  ErrNext,
  ErrCount,
  ErrAll,
  Version,
  Idn,
  Rst,
  Cls,
  Opc,
  Wai,
  Esr,
  Ese,
  Stb,
};

// The quantity of a number: the registry's unit against SCPI's base unit
// (Hz, s, degrees, percent) and the suffixes it takes.
enum class TQty : uint8_t { None, FreqKHz, FreqHz, FreqMHz, TimeMs, Angle, Percent };

struct TCommandRow {
  const char* Pattern;  // "[SOURce#:]FREQuency[:CW]": '#' channel 1|2, '$' keying state 1..4, [] optional
  TAct Act;
  const char* Path = nullptr;  // "Ch@.Frequency": '@' the channel letter, '$' the state number
  TQty Qty = TQty::None;
  const std::vector<TChoice>* Choices = nullptr;
  bool CanSet = true;
  bool CanQuery = true;
};

namespace {

const std::vector<TChoice> kModes = {
    {"OFF", "off"},
    {"GEN", "gen"},
    {"TUN", "tuning"},
    {"IMOD", "IntModulation"},
    {"EMOD", "ExtModulation"},
    {"EMODA12", "ExtModulationA12"},
    {"EMODAB1", "ExtModulationAB1"},
    {"SWEep", "LFM"},
    {"KEY", "DDSMod"},
};
const std::vector<TChoice> kRefSource = {{"INTernal", "false"}, {"EXTernal", "true"}};

using A = TAct;
using Q = TQty;

// Every command. docs/scpi.md has the same table for people; keep them together.
const std::vector<TCommandRow>& Rows() {
  static const std::vector<TCommandRow> rows = {
      {"*IDN", A::Idn, nullptr, Q::None, nullptr, false, true},
      {"*RST", A::Rst, nullptr, Q::None, nullptr, true, false},
      {"*CLS", A::Cls, nullptr, Q::None, nullptr, true, false},
      {"*OPC", A::Opc},
      {"*WAI", A::Wai, nullptr, Q::None, nullptr, true, false},
      {"*ESR", A::Esr, nullptr, Q::None, nullptr, false, true},
      {"*ESE", A::Ese},
      {"*STB", A::Stb, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:ERRor[:NEXT]", A::ErrNext, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:ERRor:COUNt", A::ErrCount, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:ERRor:ALL", A::ErrAll, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:VERSion", A::Version, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:PROPerty", A::SysProp},
      {"SYSTem:PROPerty:CATalog", A::SysCatalog, nullptr, Q::None, nullptr, false, true},
      {"SYSTem:ROSCillator:SOURce", A::Prop, "UseExtRefFreq", Q::None, &kRefSource},
      {"SYSTem:ROSCillator:FREQuency", A::Prop, "RefFreq", Q::FreqMHz},
      {"SYSTem:ROSCillator:MULTiplier", A::Prop, "FreqScale"},
      {"[SOURce#:]FREQuency[:CW]", A::Prop, "Ch@.Frequency", Q::FreqKHz},
      {"[SOURce#:]FREQuency:STARt", A::Prop, "Ch@.Frequency", Q::FreqKHz},
      {"[SOURce#:]FREQuency:STOP", A::Prop, "Ch@.LFM.FreqTop", Q::FreqKHz},
      {"[SOURce#:]PHASe", A::Prop, "Ch@.Phase", Q::Angle},
      {"[SOURce#:]AMPLitude", A::Prop, "Ch@.Amplitude", Q::Percent},
      {"[SOURce#:]MODE", A::Prop, "Ch@.Mode", Q::None, &kModes},
      {"OUTPut#[:STATe]", A::Output, "Ch@.Mode"},
      // Internal modulation.
      {"[SOURce#:]MODulation:TYPE", A::Prop, "Ch@.IntModulation.Type"},
      {"[SOURce#:]MODulation:SHAPe", A::Prop, "Ch@.IntModulation.MathFuncType"},
      {"[SOURce#:]MODulation:SYMMetry", A::Prop, "Ch@.IntModulation.CC"},
      {"[SOURce#:]MODulation:FREQuency", A::Prop, "Ch@.IntModulation.Fm", Q::FreqHz},
      {"[SOURce#:]FM:INTernal:FREQuency", A::Prop, "Ch@.IntModulation.Fm", Q::FreqHz},
      {"[SOURce#:]AM:INTernal:FREQuency", A::Prop, "Ch@.IntModulation.Fm", Q::FreqHz},
      {"[SOURce#:]PM:INTernal:FREQuency", A::Prop, "Ch@.IntModulation.Fm", Q::FreqHz},
      {"[SOURce#:]FM:DEViation", A::Prop, "Ch@.IntModulation.dF", Q::FreqHz},
      {"[SOURce#:]AM:DEPTh", A::Prop, "Ch@.IntModulation.dA", Q::Percent},
      {"[SOURce#:]PM:DEViation", A::Prop, "Ch@.IntModulation.dPh", Q::Angle},
      // External modulation.
      {"[SOURce#:]MODulation:EXTernal:TYPE", A::Prop, "Ch@.ExtModulation.Type"},
      {"[SOURce#:]MODulation:EXTernal:SCALe", A::Prop, "Ch@.ExtModulation.Scale"},
      // Sweep: from the channel's frequency (FREQ:STAR) to FREQ:STOP.
      {"[SOURce#:]SWEep:TIME[:RISE]", A::Prop, "Ch@.LFM.Tinc0"},
      {"[SOURce#:]SWEep:TIME:FALL", A::Prop, "Ch@.LFM.Tdec0"},
      {"[SOURce#:]SWEep:DWELl[:RISE]", A::Prop, "Ch@.LFM.Tinc1"},
      {"[SOURce#:]SWEep:DWELl:FALL", A::Prop, "Ch@.LFM.Tdec1"},
      // Keying.
      {"[SOURce#:]KEY:MODE", A::Prop, "Ch@.DDSMod.Mode"},
      {"[SOURce#:]KEY:TYPE", A::Prop, "Ch@.DDSMod.Type"},
      {"[SOURce#:]KEY:FREQuency$", A::Prop, "Ch@.DDSMod.F$", Q::FreqKHz},
      {"[SOURce#:]KEY:PHASe$", A::Prop, "Ch@.DDSMod.Ph$", Q::Angle},
      {"[SOURce#:]KEY:TIME$", A::Prop, "Ch@.DDSMod.T$"},
      {"[SOURce#:]KEY:RATE", A::Prop, "Ch@.DDSMod.Fm", Q::FreqHz},
      {"[SOURce#:]KEY:DEViation", A::Prop, "Ch@.DDSMod.dF", Q::FreqHz},
      {"[SOURce#:]KEY:PDEViation", A::Prop, "Ch@.DDSMod.dPh", Q::Angle},
      {"[SOURce#:]KEY:SHAPe", A::Prop, "Ch@.DDSMod.MathFuncType"},
      {"[SOURce#:]KEY:SYMMetry", A::Prop, "Ch@.DDSMod.CC"},
      {"[SOURce#:]KEY:POINts", A::Prop, "Ch@.DDSMod.ReadingsCntMin"},
      {"[SOURce#:]KEY:EXTernal:TIMes", A::Prop, "Ch@.DDSMod.UseExtTimes"},
      {"[SOURce#:]KEY:BIDirectional", A::Prop, "Ch@.DDSMod.ContBidiRamp"},
      // Tuning and its ADC.
      {"SENSe#:FUNCtion", A::Prop, "Ch@.Tuner.Type"},
      {"SENSe#:SCALe", A::Prop, "Ch@.Tuner.Scale"},
      {"SENSe#:STATe", A::Prop, "Ch@.Tuner.ADCTimerEnabled"},
      {"SENSe#:INTerval", A::Prop, "Ch@.Tuner.ADCTimerInterval", Q::TimeMs},
      {"SENSe#:DATA", A::Sense, nullptr, Q::None, nullptr, false, true},
      {"FETCh", A::Fetch, nullptr, Q::None, nullptr, false, true},
  };
  return rows;
}

struct TPatternNode {
  std::string Keyword;
  bool Optional = false;
  char Suffix = 0;  // '#' channel, '$' keying state
};

std::vector<TPatternNode> CompilePattern(std::string_view p) {
  std::vector<TPatternNode> nodes;
  size_t i = 0;
  while (i < p.size()) {
    TPatternNode n;
    if (p[i] == ':') {
      ++i;
      continue;
    }
    size_t end;
    if (p[i] == '[') {
      n.Optional = true;
      end = p.find(']', i);
      ++i;
    } else {
      end = std::min(p.find(':', i), p.find('[', i));
      if (end == std::string_view::npos) end = p.size();
    }
    for (; i < end; ++i) {
      if (p[i] == '#' || p[i] == '$')
        n.Suffix = p[i];
      else if (p[i] != ':')
        n.Keyword += p[i];
    }
    if (i < p.size() && p[i] == ']') ++i;
    nodes.push_back(std::move(n));
  }
  return nodes;
}

const std::vector<std::vector<TPatternNode>>& Patterns() {
  static const std::vector<std::vector<TPatternNode>> compiled = [] {
    std::vector<std::vector<TPatternNode>> c;
    for (const TCommandRow& r : Rows()) c.push_back(CompilePattern(r.Pattern));
    return c;
  }();
  return compiled;
}

struct TCaptured {
  int Channel = 0;  // 0: not given
  int State = 0;
};

bool Match(const std::vector<TPatternNode>& p, size_t j, const std::vector<THeaderNode>& h, size_t i, TCaptured& cap) {
  if (j == p.size()) return i == h.size();
  const TPatternNode& n = p[j];
  if (i < h.size() && (h[i].Suffix == 0 || n.Suffix) && KeywordMatches(n.Keyword, h[i].Mnemonic)) {
    TCaptured next = cap;
    if (n.Suffix == '#') next.Channel = h[i].Suffix ? h[i].Suffix : 1;
    if (n.Suffix == '$') next.State = h[i].Suffix ? h[i].Suffix : 1;
    if (Match(p, j + 1, h, i + 1, next)) {
      cap = next;
      return true;
    }
  }
  return n.Optional && Match(p, j + 1, h, i, cap);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Upper(std::string(a)) == Upper(std::string(b));
}

std::string FormatNumber(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

std::string RegistryNumber(const TPropInfo& info, double v) {
  if (info.Kind == TPropKind::Double) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
  }
  return std::to_string(std::llround(v));
}

// Registry units per SCPI base unit: 1 kHz is 1000 Hz.
double Scale(TQty q) {
  switch (q) {
    case TQty::FreqKHz: return 1e3;
    case TQty::FreqMHz: return 1e6;
    case TQty::TimeMs: return 1e-3;
    default: return 1.0;
  }
}

struct TSuffix {
  const char* Name;
  double Factor;
};

const std::vector<TSuffix>& Suffixes(TQty q) {
  static const std::vector<TSuffix> none;
  // In SCPI suffixes MHZ is mega (like MAHZ); M alone would be milli.
  static const std::vector<TSuffix> freq = {{"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"MAHZ", 1e6}, {"GHZ", 1e9}};
  static const std::vector<TSuffix> time = {{"S", 1}, {"MS", 1e-3}, {"US", 1e-6}, {"NS", 1e-9}};
  static const std::vector<TSuffix> angle = {{"DEG", 1}, {"RAD", 180.0 / M_PI}};
  static const std::vector<TSuffix> percent = {{"PCT", 1}, {"%", 1}};
  switch (q) {
    case TQty::FreqKHz:
    case TQty::FreqHz:
    case TQty::FreqMHz: return freq;
    case TQty::TimeMs: return time;
    case TQty::Angle: return angle;
    case TQty::Percent: return percent;
    case TQty::None: break;
  }
  return none;
}

std::string ListOf(const std::vector<std::string>& words) {
  std::string s;
  for (size_t i = 0; i < words.size(); ++i) s += (i ? (i + 1 == words.size() ? " or " : ", ") : "") + words[i];
  return s;
}

bool IsKeyword(const TParam& p, const char* keyword) {
  return p.Kind == TParam::TKind::Chars && KeywordMatches(keyword, p.Text);
}

std::string Quoted(const std::string& s) {
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + '"';
}

int ToInt(const TParam& p, const std::string& header, int lo, int hi) {
  if (p.Kind != TParam::TKind::Numeric) throw EScpiError(-104, header + " takes a number");
  if (!p.Suffix.empty()) throw EScpiError(-131, "`" + p.Suffix + "`: " + header + " takes a number without unit");
  const double v = std::round(p.Value);
  if (v < lo || v > hi)
    throw EScpiError(-222,
                     header + ": " + p.Text + " (range " + std::to_string(lo) + " to " + std::to_string(hi) + ")");
  return static_cast<int>(v);
}

bool ToBool(const TParam& p, const std::string& header) {
  if (IsKeyword(p, "ON")) return true;
  if (IsKeyword(p, "OFF")) return false;
  if (p.Kind == TParam::TKind::Numeric && p.Suffix.empty()) return std::round(p.Value) != 0.0;
  throw EScpiError(-224, "`" + p.Text + "`: " + header + " takes ON, OFF, 1 or 0");
}

}  // namespace

// --- the session ---

void TScpiSession::Push(int code, const std::string& detail) {
  // The event status register tells the class of what went wrong.
  if (code <= -100 && code > -200) Esr |= 0x20;  // command error
  if (code <= -200 && code > -300) Esr |= 0x10;  // execution error
  if (code <= -300 && code > -400) Esr |= 0x08;  // device-dependent error
  if (code <= -400 && code > -500) Esr |= 0x04;  // query error
  if (FErrors.size() >= kQueueSize) {
    FErrors.back() = {-350, {}};
    Esr |= 0x08;
    return;
  }
  FErrors.emplace_back(code, detail);
}

std::string TScpiSession::Pop() {
  if (FErrors.empty()) return "0,\"No error\"";
  auto [code, detail] = FErrors.front();
  FErrors.pop_front();
  std::string text = ErrorText(code);
  if (!detail.empty()) text += ";" + detail;
  // SCPI keeps an error's text within 255 characters.
  if (text.size() > 255) text = text.substr(0, 252) + "...";
  return std::to_string(code) + "," + Quoted(text);
}

void TScpiSession::Clear() {
  FErrors.clear();
  Esr = 0;
}

// --- the instrument ---

struct TScpiInstrument::TStep {
  const TCommandRow* Row = nullptr;
  int Channel = 0;  // 0 or 1; -1: FETCh's own choice
  int State = 1;
  bool Query = false;
  std::vector<TParam> Params;
  std::string Header;
  std::string Path;                                         // the row's path for this channel and state
  std::vector<std::pair<std::string, std::string>> Assign;  // a setting's share of the update
};

TScpiInstrument::TScpiInstrument(TZuGen4& gen, TScpiOptions options) : FGen(gen), FOptions(std::move(options)) {
  FDefaults.SetPlatform(FDefaultsSim.Platform());
  if (!FOptions.Commit) FOptions.Commit = [this](std::string_view) { FGen.UpdateMode(); };
  TChannelEvent before = FGen.OnADCTimer;
  FGen.OnADCTimer = [this, before](TZuGen4Channel* ch) {
    ++FReadings[ch->IsChannelA() ? 0 : 1];
    if (before) before(ch);
  };
}

TScpiInstrument::~TScpiInstrument() { FGen.OnADCTimer = nullptr; }

TScpiInstrument::TStep TScpiInstrument::Resolve(const TUnit& unit, std::vector<THeaderNode>& prefix) const {
  const auto& rows = Rows();
  const auto& patterns = Patterns();
  TStep step;
  step.Query = unit.Query;
  step.Params = unit.Params;
  step.Header = unit.Header;
  if (unit.Common) {
    for (const TCommandRow& r : rows)
      if (unit.Nodes[0].Mnemonic == r.Pattern) step.Row = &r;
  } else {
    // A header after ';' without a leading ':' continues the previous one's
    // path (SOUR2:FREQ 1E6;PHAS 90), or failing that a shorter part of it
    // (SWE:TIME:FALL 10;DWEL 5), or else starts from the root.
    std::vector<std::vector<THeaderNode>> tries;
    for (size_t keep = unit.Rooted ? 0 : prefix.size(); keep > 0; --keep) {
      tries.emplace_back(prefix.begin(), prefix.begin() + static_cast<std::ptrdiff_t>(keep));
      tries.back().insert(tries.back().end(), unit.Nodes.begin(), unit.Nodes.end());
    }
    tries.push_back(unit.Nodes);
    for (const auto& nodes : tries) {
      for (size_t i = 0; i < rows.size() && !step.Row; ++i) {
        TCaptured cap;
        if (rows[i].Pattern[0] == '*' || !Match(patterns[i], 0, nodes, 0, cap)) continue;
        if (cap.Channel > 2)
          throw EScpiError(-114, unit.Header + ": channel " + std::to_string(cap.Channel) + " (there are 1 and 2)");
        if (cap.State > 4)
          throw EScpiError(-114, unit.Header + ": keying state " + std::to_string(cap.State) + " (1 to 4)");
        step.Row = &rows[i];
        step.Channel = cap.Channel ? cap.Channel - 1 : (rows[i].Act == TAct::Fetch ? -1 : 0);
        step.State = cap.State ? cap.State : 1;
        prefix.assign(nodes.begin(), nodes.end() - 1);
      }
      if (step.Row) break;
    }
  }
  if (!step.Row) throw EScpiError(-113, unit.Header);
  if (step.Query && !step.Row->CanQuery) throw EScpiError(-113, unit.Header + " has no query form");
  if (!step.Query && !step.Row->CanSet) throw EScpiError(-113, unit.Header + " is a query only (add `?`)");
  if (step.Row->Path) {
    step.Path = step.Row->Path;
    for (char& c : step.Path) {
      if (c == '@') c = step.Channel == 1 ? 'B' : 'A';
      if (c == '$') c = static_cast<char>('0' + step.State);
    }
  }
  return step;
}

double TScpiInstrument::LimitOf(const TPropInfo& info, const std::string& which, bool toSet) const {
  if (which == "DEF") return GetPropDouble(FDefaults, info.Path);
  if (!info.HasRange) throw EScpiError(-224, info.Path + " has no range, so no " + which);
  const bool min = which == "MIN";
  const double v = min ? info.Min : info.Max;
  if (!std::isfinite(v)) throw EScpiError(-224, info.Path + " has no " + (min ? "lower" : "upper") + " end");
  // An end the range leaves out is told, but cannot be set.
  if (toSet && (min ? info.MinExcluded : info.MaxExcluded)) throw ERefusedValue(info.Path, which, RangeText(info));
  return v;
}

namespace {

// MIN, MAX or DEF as the limit's name; "" for anything else.
std::string LimitWord(const TParam& p) {
  if (IsKeyword(p, "MINimum")) return "MIN";
  if (IsKeyword(p, "MAXimum")) return "MAX";
  if (IsKeyword(p, "DEFault")) return "DEF";
  return {};
}

const std::string* Pending(const std::vector<std::pair<std::string, std::string>>& pending, const std::string& path) {
  for (auto it = pending.rbegin(); it != pending.rend(); ++it)
    if (it->first == path) return &it->second;
  return nullptr;
}

}  // namespace

void TScpiInstrument::Prepare(TStep& step, std::vector<std::pair<std::string, std::string>>& pending) {
  const TCommandRow& row = *step.Row;
  const size_t n = step.Params.size();
  auto expect = [&](size_t count) {
    if (n < count) throw EScpiError(-109, step.Header + " needs " + std::to_string(count) + " parameter(s)");
    if (n > count) throw EScpiError(-108, step.Header + " takes " + std::to_string(count) + " parameter(s)");
  };
  if (step.Query) {
    if (row.Act == TAct::SysProp) {
      expect(1);
      if (step.Params[0].Kind == TParam::TKind::Numeric) throw EScpiError(-104, step.Header + " takes a path");
      step.Path = step.Params[0].Text;
      DescribeProperty(FGen, step.Path);
    } else if (row.Act == TAct::Prop && n == 1) {
      const TPropInfo info = DescribeProperty(FGen, step.Path);
      if (row.Choices || info.Kind == TPropKind::Enum || info.Kind == TPropKind::Bool ||
          LimitWord(step.Params[0]) == "")
        throw EScpiError(-224, "`" + step.Params[0].Text + "`: " + step.Header + " takes MIN, MAX or DEF");
    } else {
      expect(0);
    }
    return;
  }
  switch (row.Act) {
    case TAct::Prop: {
      expect(1);
      const TParam& p = step.Params[0];
      const TPropInfo info = DescribeProperty(FGen, step.Path);
      std::string text;
      if (row.Choices) {
        std::vector<std::string> names;
        for (const TChoice& c : *row.Choices) {
          if (IsKeyword(p, c.Keyword)) text = c.Registry;
          names.push_back(ShortForm(c.Keyword));
        }
        if (text.empty()) throw EScpiError(-224, "`" + p.Text + "`: " + step.Header + " takes " + ListOf(names));
      } else if (info.Kind == TPropKind::Enum) {
        std::vector<std::string> names;
        for (const TPropEnumerator& e : info.Enumerators) {
          if (p.Kind == TParam::TKind::Chars && (SameText(p.Text, e.ShortName) || SameText(p.Text, e.Name)))
            text = e.Name;
          names.push_back(Upper(e.ShortName));
        }
        if (text.empty()) throw EScpiError(-224, "`" + p.Text + "`: " + step.Header + " takes " + ListOf(names));
      } else if (info.Kind == TPropKind::Bool) {
        text = ToBool(p, step.Header) ? "true" : "false";
      } else if (p.Kind == TParam::TKind::Chars) {
        const std::string limit = LimitWord(p);
        if (limit.empty())
          throw EScpiError(-224, "`" + p.Text + "`: " + step.Header + " takes a number, MIN, MAX or DEF");
        text = RegistryNumber(info, LimitOf(info, limit, true));
      } else if (p.Kind == TParam::TKind::String) {
        throw EScpiError(-104, step.Header + " takes a number, not a string");
      } else {
        double factor = 1.0;
        if (!p.Suffix.empty()) {
          bool known = false;
          std::vector<std::string> names;
          for (const TSuffix& s : Suffixes(row.Qty)) {
            if (p.Suffix == s.Name) factor = s.Factor, known = true;
            names.push_back(s.Name);
          }
          if (!known)
            throw EScpiError(-131, "`" + p.Suffix + "`: " + step.Header +
                                       (names.empty() ? " takes a number without unit" : " takes " + ListOf(names)));
        }
        const double v = p.Value * factor / Scale(row.Qty);
        if (!std::isfinite(v) || (info.Kind != TPropKind::Double && std::fabs(v) > 9e15))
          throw ERefusedValue(info.Path, p.Text + (p.Suffix.empty() ? "" : " " + p.Suffix), RangeText(info));
        text = RegistryNumber(info, v);
      }
      step.Assign.emplace_back(step.Path, text);
      break;
    }
    case TAct::Output: {
      expect(1);
      const bool on = ToBool(step.Params[0], step.Header);
      const TPropInfo info = DescribeProperty(FGen, step.Path);
      const std::string* queued = Pending(pending, step.Path);
      const std::string now = queued ? *queued : GetPropText(FGen, step.Path);
      const bool isOff = ParsePropText(info, now) == static_cast<double>(ZGMdC_off);
      std::string& remembered = FOutputMode[step.Channel];
      if (!on && !isOff) {
        remembered = now;
        step.Assign.emplace_back(step.Path, "off");
      } else if (on && isOff) {
        step.Assign.emplace_back(step.Path, remembered.empty() ? "gen" : remembered);
      }
      break;
    }
    case TAct::SysProp: {
      expect(2);
      const TParam& path = step.Params[0];
      const TParam& value = step.Params[1];
      if (path.Kind == TParam::TKind::Numeric) throw EScpiError(-104, step.Header + " takes a path first");
      DescribeProperty(FGen, path.Text);
      if (!value.Suffix.empty())
        throw EScpiError(-131, "`" + value.Suffix + "`: " + step.Header + " takes values in the property's own unit");
      step.Assign.emplace_back(path.Text, value.Text);
      break;
    }
    case TAct::Ese:
      expect(1);
      ToInt(step.Params[0], step.Header, 0, 255);
      break;
    default: expect(0); break;
  }
  pending.insert(pending.end(), step.Assign.begin(), step.Assign.end());
}

std::string TScpiInstrument::FormatProp(const TCommandRow& row, const std::string& path,
                                        const std::string& limit) const {
  const TPropInfo info = DescribeProperty(FGen, path);
  const double v = limit.empty() ? GetPropDouble(FGen, path) : LimitOf(info, limit, false);
  if (row.Choices) {
    for (const TChoice& c : *row.Choices)
      if (ParsePropText(info, c.Registry) == v) return ShortForm(c.Keyword);
  }
  if (info.Kind == TPropKind::Enum) {
    for (const TPropEnumerator& e : info.Enumerators)
      if (e.Value == v) return Upper(e.ShortName);
    return FormatNumber(v);
  }
  if (info.Kind == TPropKind::Bool) return v != 0.0 ? "1" : "0";
  return FormatNumber(v * Scale(row.Qty));
}

std::string TScpiInstrument::SenseData(int channel) {
  TZuGen4Channel* ch = channel == 0 ? static_cast<TZuGen4Channel*>(FGen.ChA()) : FGen.ChB();
  if (channel < 0) {
    ch = FGen.ChA()->Mode() == ZGMdC_tuning   ? static_cast<TZuGen4Channel*>(FGen.ChA())
         : FGen.ChB()->Mode() == ZGMdC_tuning ? FGen.ChB()
                                              : nullptr;
    if (!ch) throw EScpiError(-221, "no channel is in tuning mode (SOURce<n>:MODE TUN)");
  }
  const int n = ch->IsChannelA() ? 1 : 2;
  if (ch->Mode() != ZGMdC_tuning)
    throw EScpiError(
        -221, "channel " + std::to_string(n) + " is not in tuning mode (SOURce" + std::to_string(n) + ":MODE TUN)");
  // Without a polled reading since the last update the ADC is read now.
  if (FReadings[n - 1] == 0) ch->Tuner()->GetADCValue();
  return std::to_string(ch->Tuner()->ADCValue());
}

std::string TScpiInstrument::Query(TScpiSession& session, const TStep& step) {
  switch (step.Row->Act) {
    case TAct::Prop:
      return FormatProp(*step.Row, step.Path, step.Params.empty() ? std::string() : LimitWord(step.Params[0]));
    case TAct::Output: return GetPropDouble(FGen, step.Path) != static_cast<double>(ZGMdC_off) ? "1" : "0";
    case TAct::Sense: return SenseData(step.Channel);
    case TAct::Fetch: return SenseData(-1);
    case TAct::SysProp: return GetPropText(FGen, step.Path);
    case TAct::SysCatalog: {
      std::string list;
      for (const TPropInfo& p : ListProperties(FGen)) list += (list.empty() ? "" : ",") + Quoted(p.Path);
      return list;
    }
    case TAct::ErrNext: return session.Pop();
    case TAct::ErrCount: return std::to_string(session.Count());
    case TAct::ErrAll: {
      std::string all = session.Pop();
      while (session.Count() > 0) all += "," + session.Pop();
      return all;
    }
    case TAct::Version: return "1999.0";
    case TAct::Idn: return "ZuGen4," + FOptions.Model + "," + FOptions.Serial + "," + FOptions.Version;
    case TAct::Opc: return "1";  // every message is carried out before the next is read
    case TAct::Esr: {
      const int v = session.Esr;
      session.Esr = 0;
      return std::to_string(v);
    }
    case TAct::Ese: return std::to_string(session.Ese);
    case TAct::Stb: {
      int stb = 0;
      if (session.Count() > 0) stb |= 0x04;               // error queue not empty
      if ((session.Esr & session.Ese) != 0) stb |= 0x20;  // event status summary
      return std::to_string(stb);
    }
    default: return {};
  }
}

void TScpiInstrument::Flush(std::vector<std::pair<std::string, std::string>>& batch, std::string_view line) {
  if (batch.empty()) return;
  // A property set twice in one message takes its last value.
  std::vector<std::pair<std::string, std::string>> b;
  for (size_t i = 0; i < batch.size(); ++i) {
    bool later = false;
    for (size_t j = i + 1; j < batch.size() && !later; ++j) later = batch[j].first == batch[i].first;
    if (!later) b.push_back(std::move(batch[i]));
  }
  batch.clear();
  SetProps(FGen, b, /*update=*/false);
  // A value for AutoUpdate itself must not make later messages send piecemeal.
  FGen.SetAutoUpdate(false);
  FReadings[0] = FReadings[1] = 0;
  ++FUpdates;
  FOptions.Commit(line);
}

void TScpiInstrument::Reset(std::string_view line) {
  std::vector<std::pair<std::string, std::string>> defaults;
  for (const TPropInfo& p : ListProperties(FDefaults))
    if (p.Stored && !p.ReadOnly) defaults.emplace_back(p.Path, GetPropText(FDefaults, p.Path));
  SetWholeSetup(FGen, defaults, /*update=*/false);
  FGen.SetAutoUpdate(false);
  FOutputMode[0].clear();
  FOutputMode[1].clear();
  FReadings[0] = FReadings[1] = 0;
  ++FUpdates;
  FOptions.Commit(line);
}

std::string TScpiInstrument::Execute(TScpiSession& session, std::string_view line) {
  std::vector<TStep> steps;
  try {
    std::vector<THeaderNode> prefix;
    for (const TUnit& u : ParseProgramMessage(line)) steps.push_back(Resolve(u, prefix));
    std::vector<std::pair<std::string, std::string>> pending;
    for (TStep& s : steps) Prepare(s, pending);
  } catch (const EScpiError& e) {
    session.Push(e.Code(), e.Detail());
    return {};
  } catch (const ERefusedValue& e) {
    session.Push(-222, e.what());
    return {};
  } catch (const Exception& e) {
    // An unknown path or a text that is no value of the property.
    session.Push(-224, e.what());
    return {};
  } catch (const std::exception& e) {
    session.Push(-300, e.what());
    return {};
  }
  // Once a change was refused, the changes after it are not made; queries
  // are still answered, so that the client is not left waiting.
  std::string answer;
  std::vector<std::pair<std::string, std::string>> batch;
  bool refused = false;
  auto attempt = [&](auto&& work) {
    try {
      work();
    } catch (const EScpiError& e) {
      session.Push(e.Code(), e.Detail());
    } catch (const ERefusedValue& e) {
      session.Push(-222, e.what());
    } catch (const EUnknownProperty& e) {
      session.Push(-224, e.what());
    } catch (const EBadValue& e) {
      session.Push(-224, e.what());
    } catch (const Exception& e) {
      // What else the library raises comes from the link.
      session.Push(-240, std::string("the link to the instrument failed: ") + e.what());
    } catch (const std::exception& e) {
      session.Push(-300, e.what());
    }
  };
  auto flush = [&] {
    if (batch.empty()) return;
    refused = true;
    attempt([&] {
      Flush(batch, line);
      refused = false;
    });
    batch.clear();
  };
  for (const TStep& s : steps) {
    const TAct act = s.Row->Act;
    if (!s.Query && (act == TAct::Prop || act == TAct::Output || act == TAct::SysProp)) {
      if (!refused) batch.insert(batch.end(), s.Assign.begin(), s.Assign.end());
      continue;
    }
    flush();
    if (s.Query) {
      attempt([&] { answer += (answer.empty() ? "" : ";") + Query(session, s); });
      continue;
    }
    if (refused) continue;
    attempt([&] {
      switch (act) {
        case TAct::Rst: Reset(line); break;
        case TAct::Cls: session.Clear(); break;
        case TAct::Opc: session.Esr |= 0x01; break;
        case TAct::Ese: session.Ese = static_cast<uint8_t>(ToInt(s.Params[0], s.Header, 0, 255)); break;
        default: break;  // *WAI: every message is done before the next one is read
      }
    });
  }
  flush();
  return answer.empty() ? answer : answer + "\n";
}

}  // namespace Zu::Scpi
