// What a published property is, independent of the class that has it: its
// kind, unit, range and enumerators, how its values read as text, and the
// errors of generic access. The generator's registry (ZuRegistry.h) builds on
// this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zugen4/Classes.h"
#include "zugen4/ZuExport.h"

namespace Zu {

enum class TPropKind : uint8_t { Double, Int, Bool, Enum };

// The kind as listings and the JSON interface name it.
inline const char* PropKindName(TPropKind kind) {
  switch (kind) {
    case TPropKind::Double: return "double";
    case TPropKind::Int: return "int";
    case TPropKind::Bool: return "bool";
    case TPropKind::Enum: return "enum";
  }
  return "";
}

// One enumerator: its value, its full name ("ZGMdC_IntModulation"), its
// short name ("IntModulation") and the names people use for it besides
// ("intmod"), which a text may give too.
struct TPropEnumerator {
  int Value;
  std::string Name;
  std::string ShortName;
  std::vector<std::string> Aliases = {};
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
  // Ends of the range the setter leaves out (the phase takes 0 but not 360).
  bool MinExcluded = false;
  bool MaxExcluded = false;
  // What else the setter asks, in words ("only while UseExtRefFreq is true").
  std::string RangeNote;
  // An option of the program driving the generator (AutoUpdate), not part of
  // the instrument's setup: a face that decides it itself does not offer it.
  bool HostOption = false;
};

// An unknown path.
class ZUGEN_API EUnknownProperty : public Exception {
 public:
  explicit EUnknownProperty(const std::string& path, const std::string& hint = {});
  ~EUnknownProperty() override;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// A text that is no value of the property's kind ("abc" for a frequency, an
// unknown enumerator, "2" for a boolean), or a write to a read-only property.
class ZUGEN_API EBadValue : public Exception {
 public:
  EBadValue(const std::string& path, const std::string& value, const std::string& why);
  ~EBadValue() override;
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
  ~ERefusedValue() override;
  const std::string& Path() const { return FPath; }
  const std::string& Value() const { return FValue; }
  const std::string& Range() const { return FRange; }  // "400 to 200000 kHz"

 protected:
  // For refusals told in other words than a range.
  struct TMessage {
    std::string Text;
  };
  ERefusedValue(TMessage message, const std::string& path, const std::string& value, const std::string& range);

 private:
  std::string FPath;
  std::string FValue;
  std::string FRange;
};

// A setup the instrument cannot be sent: planning the update, an engine
// refused it. what() names the channel, the engine, the value that caused it
// and why: "ChB.IntModulation.Fm: 1 cannot be sent: ...". Path() is the
// property (or the engine, when no single value explains it); Range() says
// why.
class ZUGEN_API EUnsendableSetup : public ERefusedValue {
 public:
  EUnsendableSetup(const std::string& path, const std::string& value, const std::string& why);
  ~EUnsendableSetup() override;
};

// Values asked for together that cannot all be kept (the mode rules switch
// one channel off for the other, a later value moves an earlier one), or a
// mode whose engine holds a value outside its own range. what() says which
// and why.
class ZUGEN_API EConflictingValues : public ERefusedValue {
 public:
  EConflictingValues(const std::string& path, const std::string& value, const std::string& why);
  ~EConflictingValues() override;
};

// The range as people read it: "400 to 200000 kHz", "0 to 360 deg, 360
// excluded", followed by the range note; "" when there is neither.
ZUGEN_API std::string RangeText(const TPropInfo& info);

// Parses a text for a property without setting it: numbers in the property's
// unit ("2000") or with a unit that converts to it ("2MHz", "2 MHz" and
// "2000000 Hz" for a property in kHz; SI prefixes keep their case: "mHz" is
// millihertz), enumerators by full or short name or one of their aliases in
// any letter case, "true"/"false"/"1"/"0". A zero is 0, never -0. Returns the
// value as a double (the enumerator's value, 0/1 for a boolean); EBadValue
// when the text is none of those, naming the property's unit when a unit
// does not convert.
ZUGEN_API double ParsePropText(const TPropInfo& info, std::string_view text);

// The value as text forms write it: doubles so that they read back exactly,
// whole numbers without a point, enumerators by full name (a value that names
// no enumerator as its number), booleans as "true"/"false".
ZUGEN_API std::string FormatPropValue(const TPropInfo& info, double value);

}  // namespace Zu
