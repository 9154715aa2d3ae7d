#include "zugen4/ZuIntModulation.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "mathfun/Zumathfun.h"
#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "platform/RecordFields.h"

namespace Zu {

namespace {

// The instrument's table memory, bytes; double modulation gives each channel half.
constexpr int kTableMemory = 8192;
constexpr int kChannelBTableBase = 4096;

}  // namespace

TZuGen4IntModulation::TZuGen4IntModulation(TZuGen4EngineHost* owner)
    : TZuGen4Engine(owner), FMathFunction(std::make_unique<TMathFunction>()) {
  FMathFunction->SetHalfOfPeriod(false);
  FMathFunction->SetDirectRdsBytes(false);  // most significant byte first
  FMathFunction->SetDirectRdsOrder(true);
}

TZuGen4IntModulation::~TZuGen4IntModulation() = default;

double TZuGen4IntModulation::CC() const { return FMathFunction->CC(); }
TMathFuncsTypes TZuGen4IntModulation::MathFuncType() const { return FMathFunction->FunctionType(); }

// --- setters ---

void TZuGen4IntModulation::SetType(TZuGen4AFPModes t) {
  if (t == FType) return;
  FType = t;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetFm(int v) {
  const double f = static_cast<double>(v);
  if (v == FFm || !(f >= FREQ_MOD_BOT && f <= FREQ_MOD_TOP)) return;
  FFm = v;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetdA(int v) {
  if (v == FdA || v < 0 || v > DEVIAT_AMPL_MAX) return;
  FdA = v;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetdF(int v) {
  if (v == FdF || v < 0 || v > DEVIAT_FREQ_MAX) return;
  FdF = v;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetdPh(int v) {
  if (v == FdPh || v < 0 || v > DEVIAT_PHASE_MAX) return;
  FdPh = v;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetCC(double v) {
  if (v == FMathFunction->CC()) return;
  FMathFunction->Set_CC(v);
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetMathFuncType(TMathFuncsTypes v) {
  if (v == FMathFunction->FunctionType()) return;
  FMathFunction->SetFunctionType(v);
  FChannel->UpdateMode();
}

// --- table and timer ---

void TZuGen4IntModulation::WriteReadings(bool single) {
  FSingle = single;
  CreateReadings(single);
  OutputReadings(single);
}

void TZuGen4IntModulation::CreateReadings(bool single) {
  FRdsBytes = single ? kTableMemory : kTableMemory / 2;
  // Everything below changes together: the table is computed once, at the end.
  FMathFunction->SetAutoUpdate(false);
  const bool freq = FType == ZGAFPms_freq;
  const int w = freq ? 4 : 2;
  FMathFunction->SetBytesPerReading(freq ? ZBPR_4bytes : ZBPR_2bytes);
  FRdsCnt = FRdsBytes / w;
  const uint32_t m = GetMaxReadingsCnt(static_cast<uint32_t>(FFm), single, freq);
  if (static_cast<uint32_t>(FRdsCnt) > m) FRdsCnt = static_cast<int>(m);
  FRdsBytes = w * FRdsCnt;

  const double genFreq = FChannel->GenFreq();
  switch (FType) {
    case ZGAFPms_freq:
      FMathFunction->Set_CA(FreqToRegisterCode(ScaleValue(FChannel->Frequency(), 1000.0, 1.0), genFreq));
      FMathFunction->Set_CB(FreqToCode(FdF, genFreq));
      break;
    case ZGAFPms_ampl:
      // Amplitudes too small for a code (a deviation of 0 above all) count as
      // code 0: as −1 they would swing the table across the whole 32-bit range.
      FMathFunction->Set_CA(AmplToRegisterCode(FChannel->Amplitude()));
      FMathFunction->Set_CB(AmplToRegisterCode(FChannel->Amplitude() * FdA * 0.01));
      break;
    case ZGAFPms_phase:
      FMathFunction->Set_CA(static_cast<uint32_t>(PhaseToCode(FChannel->Phase())));
      FMathFunction->Set_CB(static_cast<uint32_t>(PhaseToCode(FdPh)));
      break;
  }
  FMathFunction->SetReadingsCount(FRdsCnt);
  FMathFunction->SetAutoUpdate(true);
}

void TZuGen4IntModulation::OutputReadings(bool single) {
  // An empty table is nothing to send (the period cannot be divided at all,
  // which GetLa reports below).
  if (FRdsCnt > 0) {
    const uint32_t bytes = static_cast<uint32_t>(FRdsBytes);
    if (FChannel->ChannelType() == ZGCN_B) {
      // Channel B names its memory range: from base to base + size.
      const uint32_t base = single ? 0 : kChannelBTableBase;
      FChannel->Link().WriteCmd(TZuGen4Cmd(ZGCN_B, ZGCmd_IntModTable, ByteOf(base, 1), ByteOf(base, 0),
                                           ByteOf(base + bytes, 1), ByteOf(base + bytes, 0)));
    } else {
      FChannel->Link().WriteCmd(TZuGen4Cmd(ZGCN_A, ZGCmd_IntModTable, ByteOf(bytes, 1), ByteOf(bytes, 0)));
    }
    FChannel->Link().WriteBytes(FMathFunction->Readings(), static_cast<unsigned>(FMathFunction->ReadingsSize()));
  }
  FLa = GetLa(static_cast<uint32_t>(FFm), single, FType == ZGAFPms_freq, static_cast<uint32_t>(FRdsCnt));
}

uint32_t TZuGen4IntModulation::GetMaxReadingsCnt(uint32_t Fm, bool single, bool freq) {
  // Each reading needs this many timer ticks at least.
  uint64_t k = freq ? 512 : 288;
  if (!single) k *= 2;
  // A period without end has room for any number of readings.
  if (Fm == 0) return std::numeric_limits<uint32_t>::max();
  // In 64 bits: k × Fm wrapped to 32 bits would allow far too many readings.
  return static_cast<uint32_t>(static_cast<uint64_t>(F_Ftimer) / (k * Fm));
}

uint32_t TZuGen4IntModulation::GetLa(uint32_t Fm, bool single, bool freq, uint32_t cnt) {
  if (cnt == 0) cnt = GetMaxReadingsCnt(Fm, single, freq);
  // In 64 bits: a product wrapped to 32 bits could give a divider that looks
  // valid. With Fm or cnt 0 there is nothing to divide by: no divider fits.
  const uint64_t product = uint64_t{Fm} * cnt;
  if (product == 0) throw Exception(MSG_DIVIDER_OVERFLOW);
  const double D = std::ceil(static_cast<double>(F_Ftimer) / static_cast<double>(product));
  // La = 65536 − D must not pass 0xFF80 (single) or 0xFF00 (double), nor wrap
  // below 0.
  const double lowest = single ? 128.0 : 256.0;
  if (D < lowest || D > 65536.0) throw Exception(MSG_DIVIDER_OVERFLOW);
  return 65536u - static_cast<uint32_t>(D);
}

// --- start and stop ---

uint8_t TZuGen4IntModulation::TypeCode() const {
  switch (FType) {
    case ZGAFPms_freq: return 3;
    case ZGAFPms_ampl: return 1;
    case ZGAFPms_phase: return 2;
  }
  return 0;
}

void TZuGen4IntModulation::Send(TZuGen4Commands code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
  FChannel->Link().WriteCmd(TZuGen4Cmd(FChannel->ChannelType(), code, b1, b2, b3, b4));
}

void TZuGen4IntModulation::StartModulationCmd(TZuGen4Commands code) {
  Send(code, ByteOf(FLa, 1), ByteOf(FLa, 0), 8, TypeCode());
}

void TZuGen4IntModulation::StartSingleModulation(bool) { StartModulationCmd(ZGCmd_IntModStart); }

void TZuGen4IntModulation::StopSingleModulation() { Send(ZGCmd_IntModStop); }

void TZuGen4IntModulation::StartDoubleModulation(bool start) {
  if (!start) StopDoubleModulation();
  Send(ZGCmd_IntModDoubleStart);
}

void TZuGen4IntModulation::StopDoubleModulation() { Send(ZGCmd_IntModDoubleStop); }

void TZuGen4IntModulation::StartDuplexModulation(bool) { StartModulationCmd(ZGCmd_IntModDuplexStart); }

// Duplex modulation has no stop command.
void TZuGen4IntModulation::StopDuplexModulation() {}

// --- the engine interface ---

bool TZuGen4IntModulation::Serves(TZuGen4ModesCommon mode) const { return mode == ZGMdC_IntModulation; }

void TZuGen4IntModulation::Enter(bool single) {
  FChannel->NotifyOverModulation(FType);
  FChannel->SetOpened(true);
  FChannel->WriteAFPtoGen();
  WriteReadings(single);
}

void TZuGen4IntModulation::EnterAlone() {
  Enter(true);
  StartSingleModulation(true);
}

// Duplex: this table plays on both outputs. Double: each channel its own
// table in half the memory, both prepared, then started together.
void TZuGen4IntModulation::EnterPaired(TZuGen4Engine& second) {
  auto& b = static_cast<TZuGen4IntModulation&>(second);
  if (FChannel->DuplexIntModEnabled()) {
    Enter(true);
    b.FChannel->SetOpened(true);
    b.FChannel->WriteAFPtoGen();
    StartDuplexModulation(true);
    return;
  }
  Enter(false);
  StartModulationCmd(ZGCmd_IntModPrepare);
  b.Enter(false);
  b.StartModulationCmd(ZGCmd_IntModPrepare);
  StartDoubleModulation(true);
}

double TZuGen4IntModulation::MaxAmplitude() const {
  const double limit = 100.0 / (1.0 + static_cast<double>(FdA) / 100.0);
  return static_cast<double>(RoundToInt64(limit));
}

bool TZuGen4IntModulation::DescribeTable(TZuGen4PlanTable& table) const {
  table.Codes = CodesInPlayOrder(*FMathFunction);
  if (table.Codes.empty()) return false;
  table.Quantity = FType == ZGAFPms_freq ? "frequency" : FType == ZGAFPms_ampl ? "amplitude" : "phase";
  // One reading per 65536 − La ticks of the table timer.
  const uint32_t ticks = 65536u - FLa;
  table.Divider = FLa;
  table.StepSeconds = static_cast<double>(ticks) / F_Ftimer;
  char text[96];
  std::snprintf(text, sizeof text, "La 0x%04X (timer clock %d Hz divided by %u)", FLa, F_Ftimer, ticks);
  table.DividerText = text;
  return true;
}

bool TZuGen4IntModulation::ExplainRefusal(std::string& property, std::string& value, std::string& why) const {
  property = "Fm";
  value = std::to_string(FFm);
  const std::string how = FSingle ? "single internal modulation" : "double internal modulation (half the memory each)";
  if (FFm <= 0) {
    why = "a modulation frequency of 0 or less has no period to divide (range " + std::to_string(FREQ_MOD_BOT) +
          " to " + std::to_string(FREQ_MOD_TOP) + " Hz)";
    return true;
  }
  if (FRdsCnt <= 0) return false;
  const double n = FRdsCnt;
  const double divider = std::ceil(F_Ftimer / (static_cast<double>(FFm) * n));
  const double lowest = FSingle ? 128.0 : 256.0;
  char text[256];
  if (divider > 65536.0) {
    std::snprintf(text, sizeof text,
                  "in %s a table of %d readings at %d Hz needs a timer divider of %.0f, above 65536; set Fm to %.0f Hz "
                  "or more",
                  how.c_str(), FRdsCnt, FFm, divider, std::ceil(F_Ftimer / (65536.0 * n)));
  } else if (divider < lowest) {
    std::snprintf(text, sizeof text,
                  "in %s a table of %d readings at %d Hz needs a timer divider of %.0f, below %.0f; set Fm to %.0f Hz "
                  "or less",
                  how.c_str(), FRdsCnt, FFm, divider, lowest, std::floor(F_Ftimer / (lowest * n)));
  } else {
    return false;
  }
  why = text;
  return true;
}

// --- its part of the settings record ---

TZuGen4FileStream& TZuGen4IntModulation::WriteDataToFile(TZuGen4FileStream& stream) {
  stream.WriteByte(FType).WriteInt(FFm).WriteInt(FdA).WriteInt(FdF).WriteInt(FdPh);
  return stream.WriteByte(GetMathFuncType()).WriteDouble(GetCC());
}

// The shape and CC live in the table object and go through their setters; the
// update they ask for waits, automatic update being off while loading.
TZuGen4FileStream& TZuGen4IntModulation::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FFm) && ReadField(stream, FdA) && ReadField(stream, FdF) &&
      ReadField(stream, FdPh) &&
      ReadInto<uint8_t>(stream, [&](uint8_t v) { SetMathFuncType(static_cast<TMathFuncsTypes>(v)); }) &&
      ReadInto<double>(stream, [&](double v) { SetCC(v); });
  return stream;
}

// --- published properties ---

const TPropTable& TZuGen4IntModulation::Published() {
  using C = TZuGen4IntModulation;
  static const TPropTable table({
      Prop<&C::Type, &C::SetType>("Type", "modulated quantity").Names(AFPModeNames()),
      Prop<&C::Fm, &C::SetFm>("Fm", "modulation frequency").Unit("Hz").Range(FREQ_MOD_BOT, FREQ_MOD_TOP),
      Prop<&C::dA, &C::SetdA>("dA", "amplitude deviation, percent of the channel's Amplitude")
          .Unit("%")
          .Range(0, DEVIAT_AMPL_MAX),
      Prop<&C::dF, &C::SetdF>("dF", "frequency deviation").Unit("Hz").Range(0, DEVIAT_FREQ_MAX),
      Prop<&C::dPh, &C::SetdPh>("dPh", "phase deviation").Unit("deg").Range(0, DEVIAT_PHASE_MAX),
      Prop<&C::MathFuncType, &C::SetMathFuncType>("MathFuncType", "waveform of the modulation").Names(MathFuncNames()),
      Prop<&C::CC, &C::SetCC>("CC", "shape parameter of the waveform (duty of the rectangle, peak of the triangle)")
          .Range(0.0, 1.0),
      Prop<&C::RdsCnt>("RdsCnt", "readings of the last table sent").NotStored(),
  });
  return table;
}

}  // namespace Zu
