#include "platform/PropTable.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace Zu {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// Whole numbers without a point; other values in the shortest form that reads
// back as the same double, written out plainly while that stays short.
std::string NumberText(double v) {
  char buf[64];
  std::to_chars_result r{};
  const double a = std::fabs(v);
  if (v == 0.0 || (a >= 1e-5 && a < 1e16))
    r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  else
    r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool IsWhole(double v) { return std::isfinite(v) && std::trunc(v) == v; }

std::string AcceptedNames(const TPropInfo& info) {
  std::string s;
  for (const TPropEnumerator& e : info.Enumerators) {
    if (!s.empty()) s += ", ";
    s += e.Name + " (" + e.ShortName;
    for (const std::string& alias : e.Aliases) s += ", " + alias;
    s += ")";
  }
  return s;
}

std::string Expected(const TPropInfo& info) {
  const std::string range = RangeText(info);
  switch (info.Kind) {
    case TPropKind::Bool: return "expected true, false, 1 or 0";
    case TPropKind::Enum: return "expected one of " + AcceptedNames(info) + " or its number";
    case TPropKind::Int:
      return "expected a whole number" + (info.Unit.empty() ? std::string() : " in " + info.Unit) +
             (range.empty() ? std::string() : " (" + range + ")");
    case TPropKind::Double:
      return "expected a number" + (info.Unit.empty() ? std::string() : " in " + info.Unit) +
             (range.empty() ? std::string() : " (" + range + ")");
  }
  return {};
}

// A unit as a quantity and a power of ten: "kHz" is Hz and 3, "ms" is s and
// -3. Prefixes keep their case ("m" milli, "M" mega; "K" is taken for kilo,
// as people write it); the names after them do not ("hz", "DEG").
struct TUnit {
  std::string_view Quantity;
  int Exponent = 0;
};

bool ParseUnit(std::string_view u, TUnit& unit) {
  // Names taken without a prefix.
  static constexpr std::pair<std::string_view, std::string_view> kPlain[] = {
      {"%", "%"}, {"deg", "deg"}, {"\u00B0", "deg"}, {"degree", "deg"}, {"degrees", "deg"}, {"hz", "Hz"}, {"s", "s"}};
  // Names that also take a prefix.
  static constexpr std::string_view kPrefixed[] = {"Hz", "s"};
  static constexpr std::pair<std::string_view, int> kPrefixes[] = {{"p", -12},     {"n", -9}, {"u", -6}, {"\u00B5", -6},
                                                                   {"\u03BC", -6}, {"m", -3}, {"k", 3},  {"K", 3},
                                                                   {"M", 6},       {"G", 9}};
  for (const auto& [name, quantity] : kPlain)
    if (SameIgnoringCase(u, name)) {
      unit = {quantity, 0};
      return true;
    }
  for (const auto& [prefix, exponent] : kPrefixes) {
    if (u.substr(0, prefix.size()) != prefix) continue;
    for (std::string_view name : kPrefixed)
      if (SameIgnoringCase(u.substr(prefix.size()), name)) {
        unit = {name, exponent};
        return true;
      }
  }
  return false;
}

// The units a property in `unit` takes, for messages ("Hz, kHz, MHz, GHz").
std::string UnitsOf(const TUnit& unit) {
  if (unit.Quantity == "Hz") return "mHz, Hz, kHz, MHz or GHz";
  if (unit.Quantity == "s") return "us, ms or s";
  return std::string(unit.Quantity);
}

// The decimal text of a number times 10^shift, read as a double: the
// conversion rounds once, as reading "1.005e3" does, where multiplying by a
// power of ten would round twice.
bool ShiftedNumber(std::string_view number, int shift, double& v) {
  if (shift == 0) return true;
  const size_t e = number.find_first_of("eE");
  long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view digits = number.substr(e + 1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return false;
  }
  const std::string text = std::string(number.substr(0, e)) + "e" + std::to_string(exponent + shift);
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v);
}

// A finite number, optionally followed by a unit that converts to the
// property's: "2MHz", "2 MHz" and "2000" all give 2000 for a property in kHz.
// EBadValue for a unit that is unknown or does not convert.
bool ParseNumber(const TPropInfo& info, std::string_view original, std::string_view text, double& v) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || !std::isfinite(v)) return false;
  const std::string_view number(text.data(), static_cast<size_t>(r.ptr - text.data()));
  const std::string_view rest = Trim(text.substr(number.size()));
  if (!rest.empty()) {
    // Only a word of letters, or a sign like "%", can be a unit.
    for (const char c : rest)
      if (std::isspace(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '.' ||
          c == '+' || c == '-')
        return false;
    TUnit given, own;
    if (!ParseUnit(rest, given))
      throw EBadValue(info.Path, std::string(original),
                      "unknown unit \"" + std::string(rest) + "\"; " + Expected(info));
    if (info.Unit.empty())
      throw EBadValue(info.Path, std::string(original),
                      info.Path + " has no unit: give a plain number" +
                          (RangeText(info).empty() ? std::string() : " (" + RangeText(info) + ")"));
    if (!ParseUnit(info.Unit, own) || own.Quantity != given.Quantity)
      throw EBadValue(info.Path, std::string(original),
                      std::string(rest) + " does not convert to " + info.Unit + ", the unit of " + info.Path +
                          (ParseUnit(info.Unit, own) ? "; give it in " + UnitsOf(own) : std::string()));
    if (!ShiftedNumber(number, given.Exponent - own.Exponent, v)) return false;
  }
  // Nothing stores a negative zero: it would read "-0" until saved and loaded.
  if (v == 0.0) v = 0.0;
  return true;
}

}  // namespace

// --- exceptions ---

EUnknownProperty::EUnknownProperty(const std::string& path, const std::string& hint)
    : Exception("unknown property \"" + path + "\"" + (hint.empty() ? std::string() : " (" + hint + ")")),
      FPath(path) {}
EUnknownProperty::~EUnknownProperty() = default;

EBadValue::EBadValue(const std::string& path, const std::string& value, const std::string& why)
    : Exception(path + ": bad value " + Quoted(value) + ": " + why), FPath(path), FValue(value) {}
EBadValue::~EBadValue() = default;

ERefusedValue::ERefusedValue(const std::string& path, const std::string& value, const std::string& range)
    : Exception(path + ": " + value + " refused" + (range.empty() ? std::string() : " (range " + range + ")")),
      FPath(path),
      FValue(value),
      FRange(range) {}
ERefusedValue::ERefusedValue(TMessage message, const std::string& path, const std::string& value,
                             const std::string& range)
    : Exception(message.Text), FPath(path), FValue(value), FRange(range) {}
ERefusedValue::~ERefusedValue() = default;

EUnsendableSetup::EUnsendableSetup(const std::string& path, const std::string& value, const std::string& why)
    : ERefusedValue(TMessage{path + (value.empty() ? std::string() : ": " + value) + " cannot be sent: " + why}, path,
                    value, why) {}
EUnsendableSetup::~EUnsendableSetup() = default;

EConflictingValues::EConflictingValues(const std::string& path, const std::string& value, const std::string& why)
    : ERefusedValue(TMessage{path + ": " + value + " refused: " + why}, path, value, why) {}
EConflictingValues::~EConflictingValues() = default;

// --- text ---

std::string RangeText(const TPropInfo& info) {
  std::string s;
  if (info.HasRange) {
    const std::string unit = info.Unit.empty() ? std::string() : " " + info.Unit;
    const bool lo = std::isfinite(info.Min);
    const bool hi = std::isfinite(info.Max);
    if (lo && hi) {
      s = NumberText(info.Min) + " to " + NumberText(info.Max) + unit;
      if (info.MinExcluded && info.MaxExcluded)
        s += ", both ends excluded";
      else if (info.MinExcluded)
        s += ", " + NumberText(info.Min) + " excluded";
      else if (info.MaxExcluded)
        s += ", " + NumberText(info.Max) + " excluded";
    } else if (lo) {
      s = (info.MinExcluded ? "above " : "at least ") + NumberText(info.Min) + unit;
    } else if (hi) {
      s = (info.MaxExcluded ? "below " : "at most ") + NumberText(info.Max) + unit;
    }
  }
  if (!info.RangeNote.empty()) s += (s.empty() ? "" : "; ") + info.RangeNote;
  return s;
}

std::string FormatPropValue(const TPropInfo& info, double value) {
  switch (info.Kind) {
    case TPropKind::Bool: return value != 0.0 ? "true" : "false";
    case TPropKind::Enum:
      for (const TPropEnumerator& e : info.Enumerators)
        if (static_cast<double>(e.Value) == value) return e.Name;
      return NumberText(value);
    case TPropKind::Int:
    case TPropKind::Double: return NumberText(value);
  }
  return NumberText(value);
}

double ParsePropText(const TPropInfo& info, std::string_view text) {
  const std::string_view t = Trim(text);
  double v = 0.0;
  switch (info.Kind) {
    case TPropKind::Bool:
      if (SameIgnoringCase(t, "true") || t == "1") return 1.0;
      if (SameIgnoringCase(t, "false") || t == "0") return 0.0;
      break;
    case TPropKind::Enum:
      for (const TPropEnumerator& e : info.Enumerators)
        if (t == e.Name || t == e.ShortName) return e.Value;
      // A name in other letter case, or one people use, still names one
      // enumerator at most.
      for (const TPropEnumerator& e : info.Enumerators) {
        if (SameIgnoringCase(t, e.Name) || SameIgnoringCase(t, e.ShortName)) return e.Value;
        for (const std::string& alias : e.Aliases)
          if (SameIgnoringCase(t, alias)) return e.Value;
      }
      if (ParseNumber(info, text, t, v))
        for (const TPropEnumerator& e : info.Enumerators)
          if (static_cast<double>(e.Value) == v) return v;
      break;
    case TPropKind::Int:
      if (ParseNumber(info, text, t, v) && IsWhole(v) && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max())
        return v;
      break;
    case TPropKind::Double:
      if (ParseNumber(info, text, t, v)) return v;
      break;
  }
  throw EBadValue(info.Path, std::string(text), Expected(info));
}

// --- tables ---

std::vector<TPropEnumerator> EnumNames(std::initializer_list<TEnumName> names) {
  std::vector<TPropEnumerator> list;
  for (const TEnumName& n : names) {
    const std::string full = n.Name;
    const size_t cut = full.find('_');
    TPropEnumerator e{n.Value, full, cut == std::string::npos ? full : full.substr(cut + 1)};
    e.Aliases.assign(n.Aliases.begin(), n.Aliases.end());
    list.push_back(std::move(e));
  }
  return list;
}

TPropTable::TPropTable(std::vector<TPropDesc> entries) : FEntries(std::move(entries)) {}

const TPropDesc* TPropTable::Find(std::string_view name) const {
  for (const TPropDesc& d : FEntries)
    if (d.Name == name) return &d;
  return nullptr;
}

namespace {

void Walk(const TPropTable& table, const void* object, const std::string& prefix,
          const std::function<void(const TPropRef&)>& visit) {
  for (const TPropDesc& d : table.Entries()) {
    if (d.IsChild()) {
      Walk(d.ChildTable(), d.ChildObject(object), prefix + d.NameIn(object) + ".", visit);
    } else {
      visit(TPropRef{&d, const_cast<void*>(object), prefix + d.Name});
    }
  }
}

// How far apart two names are for a typist: insertions, deletions,
// substitutions and swaps of neighbours, letter case aside.
size_t Distance(std::string_view a, std::string_view b) {
  const size_t n = b.size();
  std::vector<size_t> before(n + 1), last(n + 1), row(n + 1);
  for (size_t j = 0; j <= n; ++j) last[j] = j;
  auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= n; ++j) {
      const size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    before.swap(last);
    last.swap(row);
  }
  return last[n];
}

bool StartsIgnoringCase(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && SameIgnoringCase(text.substr(0, start.size()), start);
}

// "did you mean ChA.Frequency?" for a path a typo or two away from one, or
// that starts a property's path or its last names.
std::string NearMiss(const TPropTable& table, const void* object, std::string_view path) {
  std::vector<std::string> paths;
  Walk(table, object, {}, [&](const TPropRef& ref) { paths.push_back(ref.Path); });
  std::vector<std::string> near;
  const size_t allowed = std::clamp<size_t>(path.size() / 4, 1, 3);
  size_t best = allowed + 1;
  for (const std::string& p : paths) {
    const size_t d = Distance(path, p);
    if (d < best) best = d, near.clear();
    if (d == best) near.push_back(p);
  }
  if (near.empty() && path.size() >= 3)
    for (const std::string& p : paths)
      for (size_t at = 0; at != std::string::npos; at = p.find('.', at + 1)) {
        if (!StartsIgnoringCase(std::string_view(p).substr(at ? at + 1 : 0), path)) continue;
        near.push_back(p);
        break;
      }
  if (near.empty() || near.size() > 4) return {};
  std::string hint = "did you mean ";
  for (size_t i = 0; i < near.size(); ++i) hint += (i == 0 ? "" : i + 1 == near.size() ? " or " : ", ") + near[i];
  return hint + "?";
}

}  // namespace

TPropRef ResolveProp(const TPropTable& root, const void* object, std::string_view path) {
  const TPropTable* table = &root;
  const std::string_view given = Trim(path);
  std::string_view rest = given;
  const void* current = object;
  std::string found;  // the path as the tables spell it
  for (;;) {
    const size_t dot = rest.find('.');
    const std::string_view name = rest.substr(0, dot);
    const TPropDesc* d = nullptr;
    for (const TPropDesc& e : table->Entries())
      if (e.NameIn(current) == name) d = &e;
    // Paths are matched without regard to letter case; no two names of one
    // table differ in case alone.
    if (!d)
      for (const TPropDesc& e : table->Entries())
        if (SameIgnoringCase(e.NameIn(current), name)) d = &e;
    if (!d) break;
    found += (found.empty() ? "" : ".") + d->NameIn(current);
    if (dot == std::string_view::npos) {
      if (d->IsChild()) throw EUnknownProperty(std::string(path), found + " is an object, not a property");
      return TPropRef{d, const_cast<void*>(current), found};
    }
    if (!d->IsChild()) break;
    current = d->ChildObject(current);
    table = &d->ChildTable();
    rest.remove_prefix(dot + 1);
  }
  throw EUnknownProperty(std::string(path), NearMiss(root, object, given));
}

void ForEachProp(const TPropTable& table, const void* object, const std::function<void(const TPropRef&)>& visit) {
  Walk(table, object, {}, visit);
}

TPropInfo DescribeProp(const TPropRef& ref) {
  const TPropDesc& d = *ref.Desc;
  TPropInfo info;
  info.Path = ref.Path;
  info.Kind = d.Kind;
  info.Unit = d.UnitText;
  info.HasRange = d.HasRange;
  info.Min = d.Min;
  info.Max = d.Max;
  info.MinExcluded = d.MinExcluded;
  info.MaxExcluded = d.MaxExcluded;
  info.RangeNote = d.Note;
  if (d.Enumerators) info.Enumerators = *d.Enumerators;
  info.Stored = d.Stored;
  info.HostOption = d.HostOption;
  info.ReadOnly = d.Set == nullptr;
  info.Description = d.Description;
  if (d.Refine) d.Refine(ref.Object, info);
  return info;
}

void CheckPropValue(const TPropInfo& info, double value, const std::string& text) {
  switch (info.Kind) {
    case TPropKind::Bool:
      if (value == 0.0 || value == 1.0) return;
      break;
    case TPropKind::Enum:
      for (const TPropEnumerator& e : info.Enumerators)
        if (static_cast<double>(e.Value) == value) return;
      break;
    case TPropKind::Int:
      if (IsWhole(value) && value >= std::numeric_limits<int32_t>::min() &&
          value <= std::numeric_limits<int32_t>::max())
        return;
      break;
    case TPropKind::Double: return;
  }
  throw EBadValue(info.Path, text, Expected(info));
}

}  // namespace Zu
