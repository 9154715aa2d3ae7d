// Physical values to register codes and back, and the reference clock.
#include <algorithm>
#include <cmath>

#include "zugen4/Zugen4.hpp"

namespace Zu {

uint32_t TZuGen4::Conv_FreqToCode(double freq) const { return FreqToCode(freq, FGenFreq); }

bool TZuGen4::FreqFitsClock(double freq) const { return Zu::FreqFitsClock(freq, FGenFreq); }

uint32_t TZuGen4::FreqToRegister(double freq) const { return FreqToRegisterCode(freq, FGenFreq); }

double TZuGen4::Conv_CodeToFreq(const double code) const { return (code + 1.0) * (0.000232830643654 * FGenFreq); }

int TZuGen4::Conv_AmplToCode(double ampl) { return AmplToCode(ampl); }

uint32_t TZuGen4::AmplToRegister(double ampl) { return AmplToRegisterCode(ampl); }

double TZuGen4::Conv_CodeToAmpl(const double code) { return (code + 1.0) * 0.0061035156; }

int TZuGen4::Conv_PhaseToCode(double phase) { return PhaseToCode(phase); }

double TZuGen4::Conv_CodeToPhase(const double code) {
  double p = code * 0.0219726563;
  if (p >= 360.0) p = p - 360.0;
  return p;
}

double TZuGen4::Conv_AmplTodB(const double ampl) {
  const long double ratio = 0.01L * static_cast<long double>(ampl);
  return 20.0 * static_cast<double>(std::log10(ratio));
}

double TZuGen4::Conv_AdBToAmpl(const double dB) { return 100.0 * std::pow(1.12201845430196, dB); }

double TZuGen4::Conv_Value(double value, const double num, const double den) { return ScaleValue(value, num, den); }

double TZuGen4::Conv_Value(double value, const double num, const double den, const signed char digit) {
  const double x = Conv_Value(value, num, den);
  if (!std::isfinite(x)) return x;
  if (digit == 0) return RoundHalfEven(x);
  // From 2^52 on every double is whole, so already a multiple of any 10^-n;
  // scaling it up could only overflow to infinity.
  if (digit < 0 && std::fabs(x) >= 4503599627370496.0) return x;
  // Scale by an exact power of ten where possible: 100 is exact, 0.01 is not.
  // Built by multiplying, which stays exact up to 10^22 in every rounding
  // mode; pow() may be one ulp off outside round-to-nearest.
  double factor = 1.0;
  for (int i = digit < 0 ? -digit : digit; i > 0; --i) factor *= 10.0;
  return digit < 0 ? RoundHalfEven(x * factor) / factor : RoundHalfEven(x / factor) * factor;
}

void TZuGen4::CalcGenFreq() { FGenFreq = static_cast<double>(FFreqScale) * FRefFreq; }

void TZuGen4::SetUseExtRefFreq(bool value) {
  if (value == FUseExtRefFreq) return;
  FUseExtRefFreq = value;
  if (!value) {
    FRefFreq = REFFREQ_DEF;
    FFreqScale = FREQSCALE_DEF;
    CalcGenFreq();
  }
  TryUpdateMode();
}

void TZuGen4::SetRefFreq(double value) {
  if (!FUseExtRefFreq || value == FRefFreq) return;
  // The system clock divides every frequency code: it must stay finite and positive.
  if (!std::isfinite(value) || value <= 0.0) return;
  FRefFreq = value;
  CalcGenFreq();
}

void TZuGen4::SetFreqScale(int value) {
  if (!FUseExtRefFreq || value == FFreqScale) return;
  if (value > FREQSCALE_MAX) value = FREQSCALE_MAX;
  if (value < FREQSCALE_MIN) value = FREQSCALE_MIN;
  FFreqScale = value;
  CalcGenFreq();
}

void TZuGen4::WriteExtFreqScale() {
  WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_ExtFreqScale, static_cast<uint8_t>(FFreqScale)));
}

}  // namespace Zu
