// The bottom layer: the enumerations every layer shares, rounding to the
// nearest integer, and the byte helpers every frame and table is built with.
// Depends on nothing of the library but the export macro.
#pragma once

#include <cstdint>

#include "zugen4/ZuExport.h"

namespace Zu {

enum TZuGen4ChNames : uint8_t { ZGCN_A = 0, ZGCN_B = 1 };

enum TZuGen4ModesCommon : uint8_t {
  ZGMdC_off = 0,
  ZGMdC_gen = 1,
  ZGMdC_tuning = 2,
  ZGMdC_IntModulation = 3,
  ZGMdC_ExtModulation = 4,
  ZGMdC_ExtModulationA12 = 5,
  ZGMdC_ExtModulationAB1 = 6,
  ZGMdC_LFM = 7,
  ZGMdC_DDSMod = 8,
  // new-engine: modes (append only: the values are wire and file values)
};
// How many modes there are; a stored value at or above it names none.
inline constexpr unsigned ZGMdC_Count = 9;

enum TZuGen4AFPModes : uint8_t { ZGAFPms_freq = 0, ZGAFPms_ampl = 1, ZGAFPms_phase = 2 };
enum TMathFuncsTypes : uint8_t { ZMFT_sin = 0, ZMFT_triangle = 1, ZMFT_rect = 2 };
enum TBytesPerReading : uint8_t { ZBPR_2bytes = 0, ZBPR_4bytes = 1 };
enum TZuGen4DDSmodModes : uint8_t { ZGTMs_BxSK = 0, ZGTMs_QxSK = 1, ZGTMs_User = 2 };

enum TZuGen4Parameters : uint8_t {
  ZGPrm_Frequency = 2,
  ZGPrm_Phase = 3,
  ZGPrm_LFMTime = 11,
  ZGPrm_DDSModTime = 24,
};

// Nearest integer, ties to even, worked out by hand so that a host which
// changed the FPU rounding mode still gets the same codes.
ZUGEN_API double RoundHalfEven(double value);

// Rounds to the nearest integer, ties to even, and brings any double into
// int64 range: NaN gives 0, values beyond the range the nearest bound.
ZUGEN_API int64_t RoundToInt64(double value);

// --- register codes ---
// The instrument's codes of physical values; TZuGen4's Conv_* members forward
// here, and engines use these directly.

// value × (num / den), the quotient formed first.
ZUGEN_API double ScaleValue(double value, double num, double den);
// A frequency in Hz as the 32-bit tuning word at a system clock of genFreqMHz.
ZUGEN_API uint32_t FreqToCode(double hz, double genFreqMHz);
// The same held within the 32-bit register: a frequency beyond what the
// system clock can produce (a low external reference) gives the top code,
// never the low 32 bits of a larger one.
ZUGEN_API uint32_t FreqToRegisterCode(double hz, double genFreqMHz);
// True when the system clock can produce hz: its code fits 32 bits.
ZUGEN_API bool FreqFitsClock(double hz, double genFreqMHz);
// An amplitude in percent of full scale as its 14-bit code; the smallest
// amplitudes give -1.
ZUGEN_API int AmplToCode(double percent);
// The amplitude code as the register takes it, 0 to 16383: -1 sent as 16 bits
// would read as full scale.
ZUGEN_API uint32_t AmplToRegisterCode(double percent);
// A phase in degrees as its 14-bit code (360 degrees give 16384).
ZUGEN_API int PhaseToCode(double degrees);
// The phase code as the register takes it, 0 to 16383. A phase is a turn:
// the code of a whole turn (359.99 degrees rounds to it) is 0, and a phase
// beyond a turn (from a damaged file) lands where it is on the circle.
ZUGEN_API uint32_t PhaseToRegisterCode(double degrees);

// --- bytes ---
// Registers and table words go to the instrument most significant byte first.

// Byte n of a value, n = 0 the least significant. Negative values count in
// two's complement, so the low byte of -1 is 0xFF.
constexpr uint8_t ByteOf(uint64_t value, unsigned n) { return static_cast<uint8_t>(value >> (8 * n)); }

// Writes the low `count` bytes of value at out, most significant first.
constexpr void PutBigEndian(uint8_t* out, uint64_t value, unsigned count) {
  for (unsigned i = 0; i < count; ++i) out[i] = ByteOf(value, count - 1 - i);
}

// Reads `count` bytes at in, most significant first.
constexpr uint32_t GetBigEndian(const uint8_t* in, unsigned count) {
  uint32_t v = 0;
  for (unsigned i = 0; i < count; ++i) v = (v << 8) | in[i];
  return v;
}

}  // namespace Zu
