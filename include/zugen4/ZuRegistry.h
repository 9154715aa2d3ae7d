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
//
// The kinds, the description of a property, RangeText, ParsePropText and the
// exceptions are in Properties.h (included here).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zugen4/Properties.h"
#include "zugen4/ZuExport.h"
#include "zugen4/ZuPlan.h"

namespace Zu {

class TZuGen4;

// Every property of the generator, in registry (settings record) order.
ZUGEN_API std::vector<TPropInfo> ListProperties(const TZuGen4& gen);
// EUnknownProperty for a path that is not there.
ZUGEN_API TPropInfo DescribeProperty(const TZuGen4& gen, std::string_view path);

// Typed reads. A Bool reads as 0/1 and an Enum as its value through the
// numeric getters; GetPropText gives the value as text forms write it (doubles
// so that they read back exactly, enumerators by full name, "true"/"false").
ZUGEN_API double GetPropDouble(const TZuGen4& gen, std::string_view path);
ZUGEN_API int64_t GetPropInt(const TZuGen4& gen, std::string_view path);
ZUGEN_API bool GetPropBool(const TZuGen4& gen, std::string_view path);
ZUGEN_API std::string GetPropText(const TZuGen4& gen, std::string_view path);

// Typed and text writes through the property's setter. The update the setter
// asks for runs as the generator's automatic update permits, after the
// setter: a refused value sends nothing, and a setup no engine can send is
// refused (EUnsendableSetup) with nothing changed and nothing sent. ERefusedValue
// when the setter refused the value (what it changed is put back); EBadValue,
// EUnknownProperty as above.
ZUGEN_API void SetPropDouble(TZuGen4& gen, std::string_view path, double value);
ZUGEN_API void SetPropInt(TZuGen4& gen, std::string_view path, int64_t value);
ZUGEN_API void SetPropBool(TZuGen4& gen, std::string_view path, bool value);
ZUGEN_API void SetPropText(TZuGen4& gen, std::string_view path, std::string_view text);

// How a request of several values is taken.
struct TSetOptions {
  bool Update = true;  // send one update afterwards (when active)
  // Enter a mode even when its engine holds a value outside its own range
  // (a sweep whose times were never set); refused otherwise.
  bool Force = false;
};

// "PATH=VALUE" as a face takes it from its user, blanks around either side
// dropped. Zu::Exception "expected PATH=VALUE, got `...` (e.g.
// ChA.Frequency=2000)" when no path stands before an `=`.
ZUGEN_API std::pair<std::string, std::string> ParseAssignment(std::string_view item);
// Several, separated by `;` or line ends; blank items are skipped.
ZUGEN_API std::vector<std::pair<std::string, std::string>> ParseAssignments(std::string_view text);

// Several values at once, in the order given (a value refused at its turn is
// tried again after the others), with automatic update off; then
// one update when `update` is true and the generator is active. All or
// nothing: on the first unknown path, bad text or refused value, everything
// the call changed is put back (no update is sent) and the exception leaves.
//
// Every request is also judged whole: a path given twice, or values that
// cannot all be kept (two modes the mode rules exclude, a later value that
// moves an earlier one) raise EConflictingValues; entering a mode whose engine
// holds a value outside its range raises EConflictingValues unless forced; a
// setup no engine can send (planned before anything goes out) raises
// EUnsendableSetup. Each time nothing changes and nothing is sent.
ZUGEN_API void SetProps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                        bool update = true);
ZUGEN_API void SetProps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                        const TSetOptions& options);

// A whole setup (every stored property given, as a text form writes it): the
// values are set starting from the defaults, as a component read from a form
// starts from its defaults, so the result does not depend on what was set
// before. The defaults are stored directly; then as SetProps, all or nothing.
ZUGEN_API void SetWholeSetup(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                             bool update = true);

// What a face's reset does: the setup of a generator made afresh (through
// CopySetupTo), then, while linked, the reset command, unless the update the
// defaults brought (automatic update on) began with it already.
ZUGEN_API void ResetToDefaults(TZuGen4& gen);

// Raises EUnsendableSetup when the present setup cannot be sent (an engine
// refuses it while planning), or when it holds a value the instrument cannot
// take at all (a mode or enumerator that names nothing, a channel frequency
// beyond the system clock): what a face checks after reading a settings
// record, before it sends or keeps it.
// Returns the plan (PlanUpdate) when the setup can be sent.
ZUGEN_API TZuGen4Plan CheckSendable(const TZuGen4& gen);

}  // namespace Zu
