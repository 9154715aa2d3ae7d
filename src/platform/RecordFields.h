// Reading the fields of the settings record: each class reads its own part
// with these. A value is applied only when it was read whole; a file that ends
// early leaves the field, and every later one, as it was.
#pragma once

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "platform/ZuFileStream.h"

namespace Zu {

// Reads one T (bool, uint8_t, int32_t or double) and hands it to apply.
template <typename T, typename Apply>
bool ReadInto(TZuGen4FileStream& s, Apply apply) {
  T v{};
  bool ok = false;
  if constexpr (std::is_same_v<T, bool>)
    ok = s.ReadBool(v);
  else if constexpr (std::is_same_v<T, uint8_t>)
    ok = s.ReadByte(v);
  else if constexpr (std::is_same_v<T, int32_t>)
    ok = s.ReadInt(v);
  else
    ok = s.ReadDouble(v);
  if (ok) apply(v);
  return ok;
}

inline bool ReadField(TZuGen4FileStream& s, bool& field) {
  return ReadInto<bool>(s, [&](bool v) { field = v; });
}
inline bool ReadField(TZuGen4FileStream& s, int& field) {
  return ReadInto<int32_t>(s, [&](int32_t v) { field = v; });
}
// An enumeration is stored in one byte.
template <typename E>
requires std::is_enum_v<E>
bool ReadField(TZuGen4FileStream& s, E& field) {
  return ReadInto<uint8_t>(s, [&](uint8_t v) { field = static_cast<E>(v); });
}
// Not-a-number and infinities are nothing any property can hold.
inline bool ReadField(TZuGen4FileStream& s, double& field) {
  return ReadInto<double>(s, [&](double v) {
    if (std::isfinite(v)) field = v;
  });
}

}  // namespace Zu
