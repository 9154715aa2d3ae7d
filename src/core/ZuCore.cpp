#include "zugen4/ZuCore.h"

#include <algorithm>
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

double ScaleValue(double value, double num, double den) {
  const double q = num / den;
  return value * q;
}

uint32_t FreqToCode(double hz, double genFreqMHz) {
  const double k = 4294.967296 / genFreqMHz;
  const double code = hz * k;
  return static_cast<uint32_t>(static_cast<uint64_t>(RoundToInt64(code)));
}

bool FreqFitsClock(double hz, double genFreqMHz) {
  const int64_t code = RoundToInt64(hz * (4294.967296 / genFreqMHz));
  return code >= 0 && code <= int64_t{0xFFFFFFFF};
}

uint32_t FreqToRegisterCode(double hz, double genFreqMHz) {
  const int64_t code = RoundToInt64(hz * (4294.967296 / genFreqMHz));
  return static_cast<uint32_t>(std::clamp<int64_t>(code, 0, 0xFFFFFFFF));
}

int AmplToCode(double percent) {
  const double code = 163.84 * percent - 1.0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(RoundToInt64(code))));
}

uint32_t AmplToRegisterCode(double percent) { return static_cast<uint32_t>(std::clamp(AmplToCode(percent), 0, 16383)); }

uint32_t PhaseToRegisterCode(double degrees) { return static_cast<uint32_t>(PhaseToCode(degrees)) & 0x3FFF; }

int PhaseToCode(double degrees) {
  const double code = 45.51111111111111 * degrees;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(RoundToInt64(code))));
}

}  // namespace Zu
