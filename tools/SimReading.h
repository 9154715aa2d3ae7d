// What the simulated instrument's ADC reads: a slow wave, so that tuning mode
// has something to show. `poll --sim` reads it at virtual time, the front
// panel at the wall clock.
#pragma once

#include <cmath>
#include <cstdint>

namespace Zu::Tool {

inline uint32_t SimulatedReading(double seconds) {
  return static_cast<uint32_t>(32768.0 + 12000.0 * std::sin(seconds * 1.3) + 3000.0 * std::sin(seconds * 7.1));
}

}  // namespace Zu::Tool
