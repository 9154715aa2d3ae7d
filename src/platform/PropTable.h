// Published-property tables: each class lists its properties once, as
// type-erased descriptors (getter and setter through a double), and the
// objects it owns as children, so that a dotted path walks from one root
// object down to any property. Knows nothing of the classes that use it.
//
// A class declares its table next to its setters:
//
//   const TPropTable& TFoo::Published() {
//     using C = TFoo;
//     static const TPropTable table({
//         Prop<&C::Level, &C::SetLevel>("Level", "output level").Unit("%").Range(0, 100),
//         Child<&C::Bar, TBar>("Bar"),
//     });
//     return table;
//   }
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "zugen4/Properties.h"

namespace Zu {

class TPropTable;

// One entry of a table: a property, or a child object with a table of its own.
struct TPropDesc {
  std::string Name;
  TPropKind Kind = TPropKind::Double;
  std::string UnitText;
  bool HasRange = false;
  double Min = 0.0;
  double Max = 0.0;
  bool MinExcluded = false;
  bool MaxExcluded = false;
  std::string Note;
  const std::vector<TPropEnumerator>* Enumerators = nullptr;
  bool Stored = true;
  bool HostOption = false;
  std::string Description;
  double (*Get)(const void* object) = nullptr;
  void (*Set)(void* object, double value) = nullptr;  // null: read-only
  // What follows the object's state (a bound, a note), filled in last.
  void (*Refine)(const void* object, TPropInfo& info) = nullptr;
  // Child entries only.
  void* (*ChildObject)(const void* object) = nullptr;
  const TPropTable& (*ChildTable)() = nullptr;
  // A child that names itself (an engine): its name comes from the object.
  const char* (*ChildName)(const void* child) = nullptr;

  bool IsChild() const { return ChildObject != nullptr; }
  // The entry's name below the given owner object.
  std::string NameIn(const void* object) const { return ChildName ? ChildName(ChildObject(object)) : Name; }

  // Declaration helpers, chained after Prop<...>(...).
  TPropDesc& Unit(const char* unit) {
    UnitText = unit;
    return *this;
  }
  TPropDesc& Range(double min, double max) {
    HasRange = true;
    Min = min;
    Max = max;
    return *this;
  }
  TPropDesc& ExcludeMin() {
    MinExcluded = true;
    return *this;
  }
  TPropDesc& ExcludeMax() {
    MaxExcluded = true;
    return *this;
  }
  TPropDesc& RangeNote(const char* note) {
    Note = note;
    return *this;
  }
  TPropDesc& Names(const std::vector<TPropEnumerator>& enumerators) {
    Enumerators = &enumerators;
    return *this;
  }
  TPropDesc& NotStored() {
    Stored = false;
    return *this;
  }
  TPropDesc& OfTheHost() {
    HostOption = true;
    return *this;
  }
  TPropDesc& Dynamic(void (*refine)(const void*, TPropInfo&)) {
    Refine = refine;
    return *this;
  }
};

class TPropTable {
 public:
  explicit TPropTable(std::vector<TPropDesc> entries);
  const std::vector<TPropDesc>& Entries() const { return FEntries; }
  const TPropDesc* Find(std::string_view name) const;

 private:
  std::vector<TPropDesc> FEntries;
};

// Enumerators from full names: the short name is what follows the type's
// prefix ("ZGMdC_IntModulation" gives "IntModulation"); the aliases are
// other names a text may give.
struct TEnumName {
  int Value;
  const char* Name;
  std::initializer_list<const char*> Aliases = {};
};
std::vector<TPropEnumerator> EnumNames(std::initializer_list<TEnumName> names);

namespace PropDetail {

template <class M>
struct TGetter;
template <class C, class R>
struct TGetter<R (C::*)() const> {
  using Class = C;
  using Value = std::remove_cvref_t<R>;
};

template <class M>
struct TSetter;
template <class C, class A>
struct TSetter<void (C::*)(A)> {
  using Class = C;
  using Arg = std::remove_cvref_t<A>;
};

template <class T>
constexpr TPropKind KindOf() {
  if constexpr (std::is_same_v<T, bool>)
    return TPropKind::Bool;
  else if constexpr (std::is_enum_v<T>)
    return TPropKind::Enum;
  else if constexpr (std::is_integral_v<T>)
    return TPropKind::Int;
  else
    return TPropKind::Double;
}

}  // namespace PropDetail

// A property with its getter and, unless it is read-only, its setter. The
// value reaches the setter already checked for its kind (whole, an
// enumerator, 0 or 1), never for its range: that is the setter's business.
template <auto Get, auto Set = nullptr>
TPropDesc Prop(const char* name, const char* description) {
  using G = PropDetail::TGetter<decltype(Get)>;
  using C = typename G::Class;
  TPropDesc d;
  d.Name = name;
  d.Description = description;
  d.Kind = PropDetail::KindOf<typename G::Value>();
  d.Get = [](const void* o) { return static_cast<double>((static_cast<const C*>(o)->*Get)()); };
  if constexpr (!std::is_same_v<decltype(Set), std::nullptr_t>) {
    using S = PropDetail::TSetter<decltype(Set)>;
    using A = typename S::Arg;
    static_assert(std::is_base_of_v<typename S::Class, C> || std::is_base_of_v<C, typename S::Class>);
    d.Set = [](void* o, double v) {
      auto* object = static_cast<typename S::Class*>(static_cast<C*>(o));
      if constexpr (std::is_same_v<A, bool>)
        (object->*Set)(v != 0.0);
      else if constexpr (std::is_enum_v<A> || std::is_integral_v<A>)
        (object->*Set)(static_cast<A>(static_cast<int64_t>(v)));
      else
        (object->*Set)(static_cast<A>(v == 0.0 ? 0.0 : v));  // never a negative zero
    };
  }
  return d;
}

// An owned object reached through a getter; Sub is the class whose table
// describes it.
template <auto Get, class Sub>
TPropDesc Child(const char* name) {
  using C = typename PropDetail::TGetter<decltype(Get)>::Class;
  TPropDesc d;
  d.Name = name;
  d.ChildObject = [](const void* o) -> void* {
    Sub* sub = (static_cast<const C*>(o)->*Get)();
    return sub;
  };
  d.ChildTable = &Sub::Published;
  return d;
}

// A child that names itself: Get(owner) gives it, Sub::Published() describes
// it and its EngineName() is its name.
template <class Owner, class Sub, Sub* (*Get)(const Owner&)>
TPropDesc NamedChild() {
  TPropDesc d;
  d.ChildObject = [](const void* o) -> void* { return Get(*static_cast<const Owner*>(o)); };
  d.ChildTable = &Sub::Published;
  d.ChildName = [](const void* child) { return static_cast<const Sub*>(child)->EngineName(); };
  return d;
}

// One property found by path: its entry, the object that has it.
struct TPropRef {
  const TPropDesc* Desc = nullptr;
  void* Object = nullptr;
  std::string Path;
};

// EUnknownProperty when the path names no property (a child alone is none).
TPropRef ResolveProp(const TPropTable& table, const void* object, std::string_view path);
// Every property below the object, depth first in table order.
void ForEachProp(const TPropTable& table, const void* object, const std::function<void(const TPropRef&)>& visit);
TPropInfo DescribeProp(const TPropRef& ref);
inline double ReadProp(const TPropRef& ref) { return ref.Desc->Get(ref.Object); }
// EBadValue when the value is none of the property's kind (a fraction for a
// whole number, a number that names no enumerator, 2 for a boolean, NaN or an
// infinity anywhere but a double); `text` is the value as the caller gave it.
void CheckPropValue(const TPropInfo& info, double value, const std::string& text);

}  // namespace Zu
