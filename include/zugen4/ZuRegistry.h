// The published-property registry: every property a host may read or write,
// reached from the generator by a dotted path ("ChA.IntModulation.Fm").
//
// Each class declares its published properties once, in the order its part of
// the settings record has them. Every face of the library (the handle C
// interface, the tool, the front panel, Python, text forms) reads this list;
// none keeps its own.
//
// A value set by path goes through the property's own setter, so it is
// accepted or refused exactly as the setter does (and the setter's events fire
// as they always do). When the property does not read back the value asked
// for, the generic access reports the refusal with the property's range and
// puts back what the request changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zugen4/Classes.h"
#include "zugen4/ZuExport.h"

namespace Zu {

class TZuGen4;

enum class TPropKind : uint8_t { Double, Int, Bool, Enum };

// One enumerator: its value, its full name ("ZGMdC_IntModulation") and its
// short name ("IntModulation").
struct TPropEnumerator {
  int Value;
  std::string Name;
  std::string ShortName;
};

// What a host needs to know of one property.
struct TPropInfo {
  std::string Path;  // "ChB.IntModulation.Fm"
  TPropKind Kind = TPropKind::Double;
  std::string Unit;  // "kHz", "Hz", "%", "deg", "ms", ... ("" when none)
  bool HasRange = false;
  double Min = 0.0;  // the range the setter enforces, in Unit
  double Max = 0.0;
  std::vector<TPropEnumerator> Enumerators;  // Enum only, in value order
  bool Stored = true;                        // written to the settings file
  bool ReadOnly = false;                     // no setter (e.g. Active is set by activation only)
  std::string Description;                   // one line, for help texts and docstrings
};

// An unknown path.
class ZUGEN_API EUnknownProperty : public Exception {
 public:
  explicit EUnknownProperty(const std::string& path);
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// A text that is no value of the property's kind ("abc" for a frequency, an
// unknown enumerator, "2" for a boolean), or a write to a read-only property.
class ZUGEN_API EBadValue : public Exception {
 public:
  EBadValue(const std::string& path, const std::string& value, const std::string& why);
  const std::string& Path() const { return FPath; }
  const std::string& Value() const { return FValue; }

 private:
  std::string FPath;
  std::string FValue;
};

// The property's setter refused the value. what() reads
// "ChA.Frequency: 250000 refused (range 400 to 200000 kHz)".
class ZUGEN_API ERefusedValue : public Exception {
 public:
  ERefusedValue(const std::string& path, const std::string& value, const std::string& range);
  const std::string& Path() const { return FPath; }
  const std::string& Value() const { return FValue; }
  const std::string& Range() const { return FRange; }  // "400 to 200000 kHz"

 private:
  std::string FPath;
  std::string FValue;
  std::string FRange;
};

// Every property of the generator, in registry (settings record) order.
ZUGEN_API std::vector<TPropInfo> ListProperties(const TZuGen4& gen);
// EUnknownProperty for a path that is not there.
ZUGEN_API TPropInfo DescribeProperty(const TZuGen4& gen, std::string_view path);
// The range as people read it: "400 to 200000 kHz"; "" when none.
ZUGEN_API std::string RangeText(const TPropInfo& info);

// Typed reads. A Bool reads as 0/1 and an Enum as its value through the
// numeric getters; GetPropText gives the value as text forms write it (doubles
// so that they read back exactly, enumerators by full name, "true"/"false").
ZUGEN_API double GetPropDouble(const TZuGen4& gen, std::string_view path);
ZUGEN_API int64_t GetPropInt(const TZuGen4& gen, std::string_view path);
ZUGEN_API bool GetPropBool(const TZuGen4& gen, std::string_view path);
ZUGEN_API std::string GetPropText(const TZuGen4& gen, std::string_view path);

// Parses a text for a property without setting it: numbers in the property's
// unit ("2000"), enumerators by full or short name, "true"/"false"/"1"/"0".
// Returns the value as a double (the enumerator's value, 0/1 for a boolean);
// EBadValue when the text is none of those.
ZUGEN_API double ParsePropText(const TPropInfo& info, std::string_view text);

// Typed and text writes through the property's setter. The update the setter
// asks for runs as the generator's automatic update permits. ERefusedValue
// when the setter refused the value (what it changed is put back); EBadValue,
// EUnknownProperty as above.
ZUGEN_API void SetPropDouble(TZuGen4& gen, std::string_view path, double value);
ZUGEN_API void SetPropInt(TZuGen4& gen, std::string_view path, int64_t value);
ZUGEN_API void SetPropBool(TZuGen4& gen, std::string_view path, bool value);
ZUGEN_API void SetPropText(TZuGen4& gen, std::string_view path, std::string_view text);

// Several values at once, in the order given, with automatic update off; then
// one update when `update` is true and the generator is active. All or
// nothing: on the first unknown path, bad text or refused value, everything
// the call changed is put back (no update is sent) and the exception leaves.
ZUGEN_API void SetProps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                        bool update = true);

}  // namespace Zu
