#include "mathfun/Zumathfun.h"

#include <cmath>

namespace Zu {

namespace {
constexpr double kPi = 3.141592653589793;
}  // namespace

TMathFunction::TMathFunction() = default;
TMathFunction::~TMathFunction() = default;

void TMathFunction::Changed() {
  if (FAutoUpdate) UpdateReadings();
}

void TMathFunction::SetReadingsCount(int value) {
  if (value == FReadingsCount || value < 0 || value > READINGS_COUNT_TOP) return;
  FReadingsCount = value;
  Changed();
}

void TMathFunction::SetBytesPerReading(TBytesPerReading value) {
  // A width the buffer layout does not know would leave the samples unwritten.
  if (value == FBytesPerReading || value > ZBPR_4bytes) return;
  FBytesPerReading = value;
  Changed();
}

void TMathFunction::SetFunctionType(TMathFuncsTypes value) {
  if (value == FFunctionType || value > ZMFT_rect) return;
  FFunctionType = value;
  Changed();
}

void TMathFunction::SetDirectRdsBytes(bool value) {
  if (value == FDirectRdsBytes) return;
  FDirectRdsBytes = value;
  Changed();
}

void TMathFunction::SetDirectRdsOrder(bool value) {
  if (value == FDirectRdsOrder) return;
  FDirectRdsOrder = value;
  Changed();
}

void TMathFunction::SetHalfOfPeriod(bool value) {
  if (value == FHalfOfPeriod) return;
  FHalfOfPeriod = value;
  Changed();
}

// Coefficients that are not finite would only yield garbage samples, and a
// NaN, never equal to itself, would recompute the table on every call.
void TMathFunction::Set_CA(double value) {
  if (value == FCA || !std::isfinite(value)) return;
  FCA = value;
  Changed();
}

void TMathFunction::Set_CB(double value) {
  if (value == FCB || !std::isfinite(value)) return;
  FCB = value;
  Changed();
}

void TMathFunction::Set_CC(double value) {
  if (value == FCC || !(value >= 0.0 && value <= 1.0)) return;
  FCC = value;
  Changed();
}

void TMathFunction::SetAutoUpdate(bool value) {
  if (value == FAutoUpdate) return;
  FAutoUpdate = value;
  if (value) UpdateReadings();
}

void TMathFunction::SetPropsLoaded(bool value) {
  if (value == FPropsLoaded) return;
  FPropsLoaded = value;
  UpdateReadings();
}

void TMathFunction::UpdateReadings() {
  if (!FPropsLoaded) return;
  ResizeReadingsMemory();
  CreateReadings();
}

void TMathFunction::ResizeReadingsMemory() {
  DeleteReadingsMemory();
  if (FReadingsCount == 0) return;
  // The count is bounded by READINGS_COUNT_TOP, so the size fits an int.
  const int size = FReadingsCount * BytesPerSample();
  // Size is published only once the buffer exists: a failed allocation leaves
  // no table rather than a size without one.
  FReadings = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
  FReadingsSize = size;
}

void TMathFunction::DeleteReadingsMemory() {
  FReadings.reset();
  FReadingsSize = 0;
}

double TMathFunction::Sample(int i) const {
  const double n = FReadingsCount;
  switch (FFunctionType) {
    case ZMFT_sin: {
      const double m = FHalfOfPeriod ? 1.0 : 2.0;
      const double x = m * kPi * i / n;
      return FCA + FCB * std::sin(x);
    }
    case ZMFT_triangle: {
      // t < 1 always, so CC = 1 never takes the falling branch and CC = 0
      // never the rising one: neither divides by zero.
      const double t = i / n;
      const double y = t < FCC ? t / FCC : (FCC - t) / (1.0 - FCC) + 1.0;
      return (FCA - FCB) + 2.0 * FCB * y;
    }
    case ZMFT_rect: {
      const int64_t k = RoundToInt64(n * FCC);
      return i < k ? FCA + FCB : FCA - FCB;
    }
  }
  return FCA;  // not reached: SetFunctionType refuses unknown shapes
}

void TMathFunction::CreateReadings() {
  const int w = BytesPerSample();
  // A buffer sized for another count or width (a change made while
  // recomputing was off) is left alone rather than overrun.
  if (!FReadings || FReadingsSize != FReadingsCount * w) return;
  const int n = FReadingsCount;
  for (int i = 0; i < n; ++i) {
    const auto s = static_cast<uint32_t>(static_cast<uint64_t>(RoundToInt64(Sample(i))));
    const int p = FDirectRdsOrder ? i : n - 1 - i;
    uint8_t* out = FReadings.get() + static_cast<size_t>(p) * w;
    for (int b = 0; b < w; ++b) out[b] = ByteOf(s, static_cast<unsigned>(FDirectRdsBytes ? b : w - 1 - b));
  }
}

}  // namespace Zu
