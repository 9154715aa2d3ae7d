// Text forms on top of the property registry: writing lists every stored
// property; reading checks the whole form before anything changes and then
// sets all values in one SetProps, which puts everything back when a setter
// refuses.
#include "zugen4/ZuTextForm.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <vector>

#include "zugen4/ZuRegistry.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

ETextFormError::ETextFormError(int line, const std::string& message)
    : Exception("line " + std::to_string(line) + ": " + message), FLine(line), FReason(message) {}
ETextFormError::~ETextFormError() = default;

std::string WriteTextForm(const TZuGen4& gen, const std::string& name) {
  std::string out = "object " + name + ": TZuGen4\n";
  for (const TPropInfo& info : ListProperties(gen)) {
    if (!info.Stored) continue;
    out += "  " + info.Path + " = " + GetPropText(gen, info.Path) + "\n";
  }
  out += "end\n";
  return out;
}

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view s) {
  const size_t a = s.find_first_not_of(kBlanks);
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(kBlanks) - a + 1);
}

bool IsIdentifier(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return !std::isdigit(static_cast<unsigned char>(s.front()));
}

struct TLine {
  int Number;
  std::string_view Text;
};

// The lines that carry something: no blanks, no comments.
std::vector<TLine> MeaningfulLines(std::string_view text) {
  std::vector<TLine> lines;
  int number = 0;
  while (!text.empty() || number == 0) {
    const size_t eol = text.find('\n');
    const std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++number;
    const std::string_view line = Trim(raw);
    if (!line.empty() && line.front() != '#') lines.push_back({number, line});
    if (eol == std::string_view::npos) break;
  }
  return lines;
}

// "object NAME: TZuGen4"; an error text when it is not.
std::string CheckHeader(std::string_view line) {
  constexpr std::string_view kExpected = "expected `object NAME: TZuGen4`";
  if (line.substr(0, 7) != "object " && line.substr(0, 7) != "object\t") return std::string(kExpected);
  const std::string_view rest = Trim(line.substr(7));
  const size_t colon = rest.find(':');
  if (colon == std::string_view::npos || !IsIdentifier(Trim(rest.substr(0, colon)))) return std::string(kExpected);
  const std::string_view cls = Trim(rest.substr(colon + 1));
  if (cls != "TZuGen4") return "the form is of class `" + std::string(cls) + "`, not TZuGen4";
  return {};
}

struct TParsedForm {
  std::vector<std::pair<std::string, std::string>> Assignments;
  std::vector<int> Lines;  // the line of each assignment
};

TParsedForm Parse(const TZuGen4& gen, std::string_view text) {
  const std::vector<TLine> lines = MeaningfulLines(text);
  if (lines.empty()) throw ETextFormError(1, "the form is empty; expected `object NAME: TZuGen4`");
  if (std::string e = CheckHeader(lines.front().Text); !e.empty()) throw ETextFormError(lines.front().Number, e);

  TParsedForm form;
  std::map<std::string, int, std::less<>> seen;
  bool ended = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const TLine& l = lines[i];
    if (ended) throw ETextFormError(l.Number, "text after `end`");
    if (l.Text == "end") {
      ended = true;
      continue;
    }
    const size_t eq = l.Text.find('=');
    if (eq == std::string_view::npos) throw ETextFormError(l.Number, "expected `Path = value` or `end`");
    const std::string path(Trim(l.Text.substr(0, eq)));
    const std::string value(Trim(l.Text.substr(eq + 1)));
    if (path.empty()) throw ETextFormError(l.Number, "no property before `=`");
    if (value.empty()) throw ETextFormError(l.Number, path + ": no value after `=`");
    TPropInfo info;
    try {
      info = DescribeProperty(gen, path);
      ParsePropText(info, value);
    } catch (const Exception& e) {
      throw ETextFormError(l.Number, e.what());
    }
    if (info.ReadOnly) throw ETextFormError(l.Number, path + " is read-only");
    // The path as the registry spells it: "chA.frequency" is ChA.Frequency.
    if (auto [it, fresh] = seen.emplace(info.Path, l.Number); !fresh)
      throw ETextFormError(l.Number, info.Path + " is given twice (first on line " + std::to_string(it->second) + ")");
    form.Assignments.emplace_back(path, value);
    form.Lines.push_back(l.Number);
  }
  if (!ended) throw ETextFormError(lines.back().Number, "the form ends without `end`");
  return form;
}

// The property paths of the engines that came with a later settings file
// version than the first ("ChA.Name."), which the form names nowhere: a
// whole form written before they came lacks them all.
std::vector<std::string> EnginesItPredates(const TZuGen4& gen, const std::set<std::string>& given) {
  std::vector<std::string> out;
  for (const TZuGen4Channel* ch :
       {static_cast<const TZuGen4Channel*>(gen.ChA()), static_cast<const TZuGen4Channel*>(gen.ChB())})
    for (const auto& engine : ch->Engines()) {
      const std::string prefix = std::string(ch->IsChannelA() ? "ChA." : "ChB.") + engine->EngineName() + ".";
      const auto next = given.lower_bound(prefix);
      if (engine->RecordSince() > 1 && (next == given.end() || next->rfind(prefix, 0) != 0)) out.push_back(prefix);
    }
  return out;
}

// Every stored property, but those of engines the form predates, which then
// take their defaults as a settings file of its time gives them.
bool GivesEverything(const TZuGen4& gen, const TParsedForm& form) {
  std::set<std::string> given;
  for (const auto& [path, value] : form.Assignments)
    if (const TPropInfo info = DescribeProperty(gen, path); info.Stored) given.insert(info.Path);
  const std::vector<std::string> predated = EnginesItPredates(gen, given);
  for (const TPropInfo& info : ListProperties(gen)) {
    if (!info.Stored || given.count(info.Path)) continue;
    if (std::none_of(predated.begin(), predated.end(),
                     [&](const std::string& p) { return info.Path.rfind(p, 0) == 0; }))
      return false;
  }
  return true;
}

}  // namespace

bool LooksLikeTextForm(std::string_view text) {
  const std::vector<TLine> lines = MeaningfulLines(text.substr(0, 4096));
  return !lines.empty() && lines.front().Text.substr(0, 7) == "object ";
}

void ReadTextForm(TZuGen4& gen, std::string_view text) {
  const TParsedForm form = Parse(gen, text);
  const bool wasLoading = gen.ComponentState().Contains(csLoading);
  gen.IncludeState(csLoading);
  try {
    // All or nothing: the first refusal puts back what the form changed. A
    // form that gives every stored property is a whole setup and reads the
    // same whatever was set before; a shorter one changes what it names.
    if (GivesEverything(gen, form))
      SetWholeSetup(gen, form.Assignments, /*update=*/false);
    else
      SetProps(gen, form.Assignments, /*update=*/false);
  } catch (const ERefusedValue& e) {
    if (!wasLoading) gen.ExcludeState(csLoading);
    int line = form.Lines.empty() ? 1 : form.Lines.back();
    for (size_t i = 0; i < form.Assignments.size(); ++i)
      if (form.Assignments[i].first == e.Path()) line = form.Lines[i];
    throw ETextFormError(line, e.what());
  } catch (...) {
    if (!wasLoading) gen.ExcludeState(csLoading);
    throw;
  }
  // As a streaming system does: the component's Loaded, not its sub-objects'.
  gen.Loaded();
  gen.TryUpdateMode();
}

}  // namespace Zu
