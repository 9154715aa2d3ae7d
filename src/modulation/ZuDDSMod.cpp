// The keying engine: the keying registers (control word, state times, state
// words) for binary and quadrature keying, and the user table with its length
// and step time for continuous modulation.
#include "zugen4/ZuDDSMod.h"

#include <algorithm>
#include <cmath>

#include "mathfun/Zumathfun.h"
#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "platform/RecordFields.h"

namespace Zu {

namespace {

// Bounds of ReadingsCntMin; the instrument's keying memory holds at most the
// top number of readings.
constexpr int kReadingsCntBot = 16;
constexpr int kReadingsCntTop = 1024;
// The instrument's table clock: 10 ns ticks.
constexpr double kTicksPerSecond = 100000000.0;

// Values read from a settings file skip the setters' checks. Where such a
// value would divide by zero or overflow a register field it is used as the
// nearest bound of the setter's range (NaN as the lower bound).
double WithinRange(double v, double lo, double hi) { return std::isnan(v) ? lo : std::clamp(v, lo, hi); }

// The state time in steps of 20 units, cut toward zero; 1 to 65000, so the
// 16-bit field never wraps.
uint16_t StepCount(double t) {
  const double in = WithinRange(t, TZuGen4DDSMod::TIME_BOT, TZuGen4DDSMod::TIME_TOP);
  return static_cast<uint16_t>(RoundToInt64(std::trunc(in * 0.05)));
}

}  // namespace

TZuGen4DDSMod::TZuGen4DDSMod(TZuGen4EngineHost* owner)
    : TZuGen4Engine(owner), FMathFunction(std::make_unique<TMathFunction>()) {
  // The instrument takes four-byte readings, most significant byte first, the
  // last reading of the period first.
  FMathFunction->SetHalfOfPeriod(FContBidiRamp);
  FMathFunction->SetBytesPerReading(ZBPR_4bytes);
  FMathFunction->SetDirectRdsBytes(false);
  FMathFunction->SetDirectRdsOrder(false);
}

TZuGen4DDSMod::~TZuGen4DDSMod() = default;

// --- setters ---

template <typename T>
void TZuGen4DDSMod::Store(T& field, T v) {
  field = v;
  FChannel->UpdateMode();
}

void TZuGen4DDSMod::SetFreq(double& field, double v) {
  if (v == field || !FChannel->CheckFreqRange(v)) return;
  Store(field, v);
}

void TZuGen4DDSMod::SetPhaseValue(double& field, double v) {
  if (v == field || !FChannel->CheckPhaseRange(v)) return;
  Store(field, v);
}

void TZuGen4DDSMod::SetTime(double& field, double v) {
  if (v == field || !CheckTimeRange(v)) return;
  Store(field, v);
}

void TZuGen4DDSMod::SetF1(double v) { SetFreq(FF1, v); }
void TZuGen4DDSMod::SetF2(double v) { SetFreq(FF2, v); }
void TZuGen4DDSMod::SetF3(double v) { SetFreq(FF3, v); }
void TZuGen4DDSMod::SetF4(double v) { SetFreq(FF4, v); }
void TZuGen4DDSMod::SetPh1(double v) { SetPhaseValue(FPh1, v); }
void TZuGen4DDSMod::SetPh2(double v) { SetPhaseValue(FPh2, v); }
void TZuGen4DDSMod::SetPh3(double v) { SetPhaseValue(FPh3, v); }
void TZuGen4DDSMod::SetPh4(double v) { SetPhaseValue(FPh4, v); }
void TZuGen4DDSMod::SetT1(double v) { SetTime(FT1, v); }
void TZuGen4DDSMod::SetT2(double v) { SetTime(FT2, v); }
void TZuGen4DDSMod::SetT3(double v) { SetTime(FT3, v); }
void TZuGen4DDSMod::SetT4(double v) { SetTime(FT4, v); }

void TZuGen4DDSMod::Set_dF(double v) {
  if (v == FdF || !(v >= 0.0 && v <= FREQ_DEVIAT_MAX)) return;
  Store(FdF, v);
}

void TZuGen4DDSMod::Set_dPh(double v) {
  if (v == FdPh || !(v >= 0.0 && v <= PHASE_DEVIAT_MAX)) return;
  Store(FdPh, v);
}

void TZuGen4DDSMod::SetFm(double v) {
  if (v == FFm || !(v >= FREQ_MOD_BOT && v <= FREQ_MOD_TOP)) return;
  Store(FFm, v);
}

void TZuGen4DDSMod::SetReadingsCntMin(int v) {
  if (v == FReadingsCntMin || v < kReadingsCntBot || v > kReadingsCntTop) return;
  Store(FReadingsCntMin, v);
}

void TZuGen4DDSMod::SetType(TZuGen4AFPModes v) {
  // Amplitude cannot be keyed; a byte naming no quantity keys nothing either.
  if (v == FType || (v != ZGAFPms_freq && v != ZGAFPms_phase)) return;
  Store(FType, v);
}

void TZuGen4DDSMod::SetMode(TZuGen4DDSmodModes v) {
  // A byte naming no keying mode would leave the channel without a sequence.
  if (v == FMode || v > ZGTMs_User) return;
  Store(FMode, v);
}

void TZuGen4DDSMod::SetContBidiRamp(bool v) {
  if (v != FContBidiRamp) Store(FContBidiRamp, v);
}

void TZuGen4DDSMod::SetUseExtTimes(bool v) {
  if (v != FUseExtTimes) Store(FUseExtTimes, v);
}

TMathFuncsTypes TZuGen4DDSMod::GetMathFuncType() const { return FMathFunction->FunctionType(); }

void TZuGen4DDSMod::SetMathFuncType(TMathFuncsTypes v) {
  if (v == FMathFunction->FunctionType()) return;
  FMathFunction->SetFunctionType(v);
  // A shape the table refused changes nothing, so nothing needs resending.
  if (FMathFunction->FunctionType() == v) FChannel->UpdateMode();
}

double TZuGen4DDSMod::GetCC() const { return FMathFunction->CC(); }

void TZuGen4DDSMod::SetCC(double v) {
  if (v == FMathFunction->CC()) return;
  // The table ignores a value outside [0, 1]; the update is requested either
  // way, as the internal modulation engine does.
  FMathFunction->Set_CC(v);
  FChannel->UpdateMode();
}

// --- checks and the user table's timing ---

bool TZuGen4DDSMod::CheckTimeRange(double t) {
  if (t >= TIME_BOT && t <= TIME_TOP) return true;
  FChannel->ReportParamValueError(ZGPrm_DDSModTime, t);
  return false;
}

bool TZuGen4DDSMod::CanUseHalfOfPeriod() const { return GetMathFuncType() == ZMFT_sin; }

void TZuGen4DDSMod::Calc_N_Tau() {
  const double fm = WithinRange(FFm, FREQ_MOD_BOT, FREQ_MOD_TOP);
  const int nMin = std::clamp(FReadingsCntMin, kReadingsCntBot, kReadingsCntTop);
  double P = kTicksPerSecond / fm;
  // Only the sine has a half-period table; a triangle or rectangle is a whole
  // period even with ContBidiRamp, and one pass of it keeps lasting 1/Fm.
  if (FContBidiRamp && CanUseHalfOfPeriod()) P = P * 0.5;
  // A step time of 0 ticks plays nothing: at least one tick per reading. This
  // only matters when even the shortest allowed table needs less than half a
  // tick per reading; otherwise a candidate of 1 tick or more wins anyway.
  auto ticks = [P](int i) { return std::max<int64_t>(RoundToInt64(P / i), 1); };
  int n = kReadingsCntTop;
  int64_t tau = ticks(n);
  double E = std::fabs(static_cast<double>(n) * static_cast<double>(tau) - P);
  // Downwards, replacing only on a strictly smaller error: among equal errors
  // the longest table wins.
  for (int i = kReadingsCntTop - 1; i >= nMin; --i) {
    const int64_t t = ticks(i);
    const double e = std::fabs(static_cast<double>(i) * static_cast<double>(t) - P);
    if (e < E) {
      n = i;
      tau = t;
      E = e;
    }
  }
  // P is at most 500000 ticks and i at least 16: Tau stays below 2^15.
  FN = n;
  FTau = static_cast<int>(tau);
}

// --- command sequences ---

void TZuGen4DDSMod::Send(uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5) {
  FChannel->Link().WriteCmd(TZuGen4Cmd(FChannel->ChannelType(), code, b1, b2, b3, b4, b5));
}

// A stored amplitude type (possible only from a settings file) keys the
// frequency, like the default type: the sequence stays one the instrument
// knows.
uint8_t TZuGen4DDSMod::ControlByte() const { return KeysPhase() ? 0xC6 : 0x86; }

uint8_t TZuGen4DDSMod::SelectorByte() const { return FChannel->ChannelType() == ZGCN_A ? 0x40 : 0x42; }

uint32_t TZuGen4DDSMod::FreqWord(double kHz) const {
  return FreqToRegisterCode(ScaleValue(kHz, 1000.0, 1.0), FChannel->GenFreq());
}

// The 14-bit phase code in bits 18 to 31; a code of 16384 (a whole turn)
// drops out of the word and reads as 0 degrees, which it is.
uint32_t TZuGen4DDSMod::PhaseWord(double degrees) { return static_cast<uint32_t>(PhaseToCode(degrees)) << 18; }

uint32_t TZuGen4DDSMod::KeyingWord(int state) const {
  const double freqs[4] = {FF1, FF2, FF3, FF4};
  const double phases[4] = {FPh1, FPh2, FPh3, FPh4};
  if (KeysPhase()) return PhaseWord(phases[state]);
  ReportBeyondClock(freqs[state]);
  return FreqWord(freqs[state]);
}

void TZuGen4DDSMod::StartDDSMod() {
  FChannel->WriteAFPtoGen();
  switch (FMode) {
    case ZGTMs_BxSK:
    case ZGTMs_QxSK: Start_xSK(); break;
    case ZGTMs_User: StartUserMode(); break;
    // A mode byte from a damaged file: the channel keeps its plain sine.
    default: break;
  }
}

void TZuGen4DDSMod::Start_xSK() {
  const bool quad = FMode == ZGTMs_QxSK;
  const int states = quad ? 4 : 2;
  const uint8_t c = ControlByte();
  const uint8_t s = SelectorByte();
  Send(ZGCmd_Control, c, 0x80, 0x02, s);

  static constexpr uint8_t kRamps[4] = {ZGCmd_Ramp0, ZGCmd_Ramp1, ZGCmd_Ramp2, ZGCmd_Ramp3};
  const double times[4] = {FT1, FT2, FT3, FT4};
  for (int k = 0; k < states; ++k) {
    const uint16_t n = StepCount(times[k]);
    Send(kRamps[k], ByteOf(n, 0), ByteOf(n, 1), static_cast<uint8_t>(2 * k + 1), static_cast<uint8_t>(8 * k));
  }
  UpdateDDSs(false);

  for (int k = 0; k < states; ++k) OutputReading(static_cast<char>(k));
  if (FUseExtTimes) {
    Send(ZGCmd_DDSModExtTimes);
    return;
  }
  Send(ZGCmd_Control, static_cast<uint8_t>(c | (quad ? 0x30 : 0x20)), 0x80, 0x02, s);
  UpdateDDSs(false);
}

void TZuGen4DDSMod::OutputReading(char index) {
  const int i = static_cast<unsigned char>(index);
  if (i > 3) return;
  const uint32_t word = KeyingWord(i);
  Send(ZGCmd_DDSModSelect, static_cast<uint8_t>((i >> 1) & 1), static_cast<uint8_t>(i & 1));
  Send(ZGCmd_DDSModData, 0, 8);
  // The state word twice: the instrument's keying memory takes it that way.
  uint8_t block[8];
  PutBigEndian(block, word, 4);
  PutBigEndian(block + 4, word, 4);
  FChannel->Link().WriteBytes(block, sizeof block);
}

void TZuGen4DDSMod::StartUserMode() {
  Calc_N_Tau();
  const bool half = CanUseHalfOfPeriod() && FContBidiRamp;
  FMathFunction->SetHalfOfPeriod(half);
  // Deviations from a settings file may lie outside the setters' range; a
  // negative one would wrap to a huge half swing.
  if (KeysPhase()) {
    FMathFunction->Set_CA(static_cast<double>(PhaseWord(FChannel->Phase())));
    FMathFunction->Set_CB(static_cast<double>(PhaseWord(WithinRange(FdPh, 0.0, PHASE_DEVIAT_MAX))));
  } else {
    FMathFunction->Set_CA(static_cast<double>(FreqWord(FChannel->Frequency())));
    FMathFunction->Set_CB(static_cast<double>(FreqToCode(WithinRange(FdF, 0.0, FREQ_DEVIAT_MAX), FChannel->GenFreq())));
  }
  FMathFunction->SetReadingsCount(FN);

  Send(ZGCmd_Control, ControlByte(), 0x80, 0x02, SelectorByte());
  Send(ZGCmd_DDSModSelect);
  const auto tau = static_cast<uint32_t>(FTau);
  const auto last = static_cast<uint32_t>(FN - 1);
  Send(ZGCmd_Ramp0, ByteOf(tau, 0), ByteOf(tau, 1), ByteOf(last, 0), ByteOf(last & 0x300, 1), half ? 0x60 : 0x80);
  UpdateDDSs(false);
  OutputUserReading();
  UpdateDDSs(false);
}

void TZuGen4DDSMod::OutputUserReading() {
  const int size = FMathFunction->ReadingsSize();
  const uint8_t* readings = FMathFunction->Readings();
  // Before the first StartUserMode there is no table; an empty block would
  // announce nothing the instrument could load.
  if (size <= 0 || !readings) return;
  const auto count = static_cast<uint32_t>(size);
  Send(ZGCmd_DDSModData, ByteOf(count, 1), ByteOf(count, 0));
  FChannel->Link().WriteBytes(readings, count);
}

// --- the engine interface ---

std::string TZuGen4DDSMod::NoTableReason() const {
  return FMode == ZGTMs_User ? "the user mode has no readings to download"
                             : "binary and quadrature keying download no table; the user mode does";
}

bool TZuGen4DDSMod::DescribeTable(TZuGen4PlanTable& table) const {
  if (FMode != ZGTMs_User) return false;  // keying loads states, not a table
  table.Codes = CodesInPlayOrder(*FMathFunction);
  if (table.Codes.empty()) return false;
  // A phase reading is the phase word: its code stands in the top 14 bits.
  if (KeysPhase())
    for (uint32_t& code : table.Codes) code >>= 18;
  table.Quantity = KeysPhase() ? "phase" : "frequency";
  table.Divider = static_cast<uint32_t>(FTau);
  table.StepSeconds = FTau * 10e-9;
  table.DividerText = "Tau " + std::to_string(FTau) + " (10 ns ticks per reading)";
  return true;
}

bool TZuGen4DDSMod::Serves(TZuGen4ModesCommon mode) const { return mode == ZGMdC_DDSMod; }

void TZuGen4DDSMod::EnterAlone() {
  FChannel->SetOpened(true);
  StartDDSMod();
}

// --- its part of the settings record ---

TZuGen4FileStream& TZuGen4DDSMod::WriteDataToFile(TZuGen4FileStream& stream) {
  for (double v : {FF1, FF2, FF3, FF4, FdF, FFm, FPh1, FPh2, FPh3, FPh4, FdPh, FT1, FT2, FT3, FT4})
    stream.WriteDouble(v);
  stream.WriteByte(FMode).WriteByte(FType).WriteBool(FUseExtTimes).WriteBool(FContBidiRamp);
  return stream.WriteInt(FReadingsCntMin).WriteDouble(GetCC()).WriteByte(GetMathFuncType());
}

// Note the order: CC comes before the shape here.
TZuGen4FileStream& TZuGen4DDSMod::ReadDataFromFile(TZuGen4FileStream& stream) {
  bool ok = true;
  for (double* f : {&FF1, &FF2, &FF3, &FF4, &FdF, &FFm, &FPh1, &FPh2, &FPh3, &FPh4, &FdPh, &FT1, &FT2, &FT3, &FT4})
    ok = ok && ReadField(stream, *f);
  ok&& ReadField(stream, FMode) && ReadField(stream, FType) && ReadField(stream, FUseExtTimes) &&
      ReadField(stream, FContBidiRamp) && ReadField(stream, FReadingsCntMin) &&
      ReadInto<double>(stream, [&](double v) { SetCC(v); }) &&
      ReadInto<uint8_t>(stream, [&](uint8_t v) { SetMathFuncType(static_cast<TMathFuncsTypes>(v)); });
  return stream;
}

// --- published properties ---

const TPropTable& TZuGen4DDSMod::Published() {
  using C = TZuGen4DDSMod;
  constexpr double kFreqBot = TZuGen4EngineHost::FREQUENCY_BOT;
  constexpr double kFreqTop = TZuGen4EngineHost::FREQUENCY_TOP;
  constexpr double kPhaseBot = TZuGen4EngineHost::PHASE_BOT;
  constexpr double kPhaseTop = TZuGen4EngineHost::PHASE_TOP;
  // The keying frequencies pass the channel's check, and with it the clock's.
  constexpr auto clock = [](const void* o, TPropInfo& info) {
    LimitToClock(static_cast<const C*>(o)->Host()->GenFreq(), info);
  };
  static const TPropTable table({
      Prop<&C::F1, &C::SetF1>("F1", "frequency of keying state 1").Unit("kHz").Range(kFreqBot, kFreqTop).Dynamic(clock),
      Prop<&C::F2, &C::SetF2>("F2", "frequency of keying state 2").Unit("kHz").Range(kFreqBot, kFreqTop).Dynamic(clock),
      Prop<&C::F3, &C::SetF3>("F3", "frequency of keying state 3").Unit("kHz").Range(kFreqBot, kFreqTop).Dynamic(clock),
      Prop<&C::F4, &C::SetF4>("F4", "frequency of keying state 4").Unit("kHz").Range(kFreqBot, kFreqTop).Dynamic(clock),
      Prop<&C::dF, &C::Set_dF>("dF", "frequency deviation of the user mode").Unit("Hz").Range(0.0, FREQ_DEVIAT_MAX),
      Prop<&C::Fm, &C::SetFm>("Fm", "modulation frequency of the user mode")
          .Unit("Hz")
          .Range(FREQ_MOD_BOT, FREQ_MOD_TOP),
      Prop<&C::Ph1, &C::SetPh1>("Ph1", "phase of keying state 1").Unit("deg").Range(kPhaseBot, kPhaseTop).ExcludeMax(),
      Prop<&C::Ph2, &C::SetPh2>("Ph2", "phase of keying state 2").Unit("deg").Range(kPhaseBot, kPhaseTop).ExcludeMax(),
      Prop<&C::Ph3, &C::SetPh3>("Ph3", "phase of keying state 3").Unit("deg").Range(kPhaseBot, kPhaseTop).ExcludeMax(),
      Prop<&C::Ph4, &C::SetPh4>("Ph4", "phase of keying state 4").Unit("deg").Range(kPhaseBot, kPhaseTop).ExcludeMax(),
      Prop<&C::dPh, &C::Set_dPh>("dPh", "phase deviation of the user mode").Unit("deg").Range(0.0, PHASE_DEVIAT_MAX),
      Prop<&C::T1, &C::SetT1>("T1", "how long keying state 1 is held (counted in steps of 20)")
          .Range(TIME_BOT, TIME_TOP),
      Prop<&C::T2, &C::SetT2>("T2", "how long keying state 2 is held (counted in steps of 20)")
          .Range(TIME_BOT, TIME_TOP),
      Prop<&C::T3, &C::SetT3>("T3", "how long keying state 3 is held (counted in steps of 20)")
          .Range(TIME_BOT, TIME_TOP),
      Prop<&C::T4, &C::SetT4>("T4", "how long keying state 4 is held (counted in steps of 20)")
          .Range(TIME_BOT, TIME_TOP),
      Prop<&C::Mode, &C::SetMode>("Mode", "keying mode").Names(DDSModModeNames()),
      Prop<&C::Type, &C::SetType>("Type", "keyed quantity")
          .Names(AFPModeNames())
          .RangeNote("ZGAFPms_freq or ZGAFPms_phase: amplitude cannot be keyed"),
      Prop<&C::UseExtTimes, &C::SetUseExtTimes>("UseExtTimes",
                                                "binary/quadrature keying: the instrument's external times end the "
                                                "sequence"),
      Prop<&C::ContBidiRamp, &C::SetContBidiRamp>("ContBidiRamp",
                                                  "user mode: a half-period sine table played forwards and backwards"),
      Prop<&C::ReadingsCntMin, &C::SetReadingsCntMin>("ReadingsCntMin", "fewest readings the user table may have")
          .Range(kReadingsCntBot, kReadingsCntTop),
      Prop<&C::CC, &C::SetCC>("CC", "shape parameter of the user table's waveform").Range(0.0, 1.0),
      Prop<&C::MathFuncType, &C::SetMathFuncType>("MathFuncType", "waveform of the user table").Names(MathFuncNames()),
  });
  return table;
}

}  // namespace Zu
