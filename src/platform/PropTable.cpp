#include "platform/PropTable.h"

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
    s += e.Name + " (" + e.ShortName + ")";
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

// A finite number and nothing after it.
bool ParseNumber(std::string_view text, double& v) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(v);
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
ERefusedValue::~ERefusedValue() = default;

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
      // A name in other letter case still names one enumerator at most.
      for (const TPropEnumerator& e : info.Enumerators)
        if (SameIgnoringCase(t, e.Name) || SameIgnoringCase(t, e.ShortName)) return e.Value;
      if (ParseNumber(t, v))
        for (const TPropEnumerator& e : info.Enumerators)
          if (static_cast<double>(e.Value) == v) return v;
      break;
    case TPropKind::Int:
      if (ParseNumber(t, v) && IsWhole(v) && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max())
        return v;
      break;
    case TPropKind::Double:
      if (ParseNumber(t, v)) return v;
      break;
  }
  throw EBadValue(info.Path, std::string(text), Expected(info));
}

// --- tables ---

std::vector<TPropEnumerator> EnumNames(std::initializer_list<std::pair<int, const char*>> names) {
  std::vector<TPropEnumerator> list;
  for (const auto& [value, name] : names) {
    const std::string full = name;
    const size_t cut = full.find('_');
    list.push_back({value, full, cut == std::string::npos ? full : full.substr(cut + 1)});
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

// The path in the letter case the table has, when it differs only in case.
std::string CaseHint(const TPropTable* table, const void* object, std::string_view path) {
  std::string fixed;
  while (table) {
    const size_t dot = path.find('.');
    const std::string_view name = path.substr(0, dot);
    const TPropDesc* found = nullptr;
    for (const TPropDesc& d : table->Entries())
      if (SameIgnoringCase(d.NameIn(object), name)) found = &d;
    if (!found) return {};
    fixed += (fixed.empty() ? "" : ".") + found->NameIn(object);
    if (dot == std::string_view::npos) return found->IsChild() ? std::string() : "did you mean " + fixed + "?";
    if (!found->IsChild()) return {};
    object = found->ChildObject(object);
    table = &found->ChildTable();
    path.remove_prefix(dot + 1);
  }
  return {};
}

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

}  // namespace

TPropRef ResolveProp(const TPropTable& root, const void* object, std::string_view path) {
  const TPropTable* table = &root;
  std::string_view rest = path;
  const void* current = object;
  for (;;) {
    const size_t dot = rest.find('.');
    const std::string_view name = rest.substr(0, dot);
    const TPropDesc* d = nullptr;
    for (const TPropDesc& e : table->Entries())
      if (e.NameIn(current) == name) d = &e;
    if (!d) break;
    if (dot == std::string_view::npos) {
      if (d->IsChild()) throw EUnknownProperty(std::string(path), "an object, not a property");
      return TPropRef{d, const_cast<void*>(current), std::string(path)};
    }
    if (!d->IsChild()) break;
    current = d->ChildObject(current);
    table = &d->ChildTable();
    rest.remove_prefix(dot + 1);
  }
  throw EUnknownProperty(std::string(path), CaseHint(&root, object, path));
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
