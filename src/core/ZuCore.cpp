#include "zugen4/ZuCore.h"

#include <cmath>
#include <limits>

namespace Zu {

double RoundHalfEven(double v) {
  double r = std::floor(v);
  const double frac = v - r;  // exact for every finite double
  if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

int64_t RoundToInt64(double value) {
  if (std::isnan(value)) return 0;
  const double r = RoundHalfEven(value);
  constexpr double kTop = 9223372036854775808.0;  // 2^63
  if (r >= kTop) return std::numeric_limits<int64_t>::max();
  if (r < -kTop) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

}  // namespace Zu
