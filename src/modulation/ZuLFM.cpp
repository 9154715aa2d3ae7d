// The sweep engine: the sweep registers (control word, rising and falling step
// words with their rate bytes, the top frequency) and the automatic run.
#include "zugen4/ZuLFM.h"

#include <algorithm>
#include <cmath>

#include "platform/PropTable.h"
#include "platform/RecordFields.h"

namespace Zu {

namespace {

// The step word is a 32-bit register: the fraction's numerator must fit it.
constexpr double kMaxStepWord = 4294967295.0;
// The fraction's denominator; the rate byte carries it plus one.
constexpr double kMaxRate = 255.0;
// The phase durations travel as 24-bit numbers.
constexpr double kMaxDuration = 16777215.0;

// Half the sum of two times, cut toward zero and kept within 24 bits. The sum
// is formed in 64 bits: times read from a file may lie outside the setters'
// range.
uint32_t Duration(int t0, int t1) {
  const double d = std::trunc((static_cast<double>(static_cast<int64_t>(t0) + t1)) * 0.5);
  return static_cast<uint32_t>(RoundToInt64(std::clamp(d, 0.0, kMaxDuration)));
}

}  // namespace

TZuGen4LFM::TZuGen4LFM(TZuGen4EngineHost* owner) : TZuGen4Engine(owner) {}
TZuGen4LFM::~TZuGen4LFM() = default;

void TZuGen4LFM::SetFreqTop(int v) {
  if (v == FFreqTop || static_cast<double>(v) < FChannel->Frequency()) return;
  // Above the channel's range the top frequency's code would wrap.
  if (v > TZuGen4EngineHost::FREQUENCY_TOP) return;
  FFreqTop = v;
  FChannel->UpdateMode();
}

void TZuGen4LFM::SetTinc0(int v) { SetTime(FTinc0, v); }
void TZuGen4LFM::SetTinc1(int v) { SetTime(FTinc1, v); }
void TZuGen4LFM::SetTdec0(int v) { SetTime(FTdec0, v); }
void TZuGen4LFM::SetTdec1(int v) { SetTime(FTdec1, v); }

void TZuGen4LFM::SetTime(int& field, int v) {
  if (v == field || !CheckTimeRange(static_cast<double>(v))) return;
  field = v;
  FChannel->UpdateMode();
}

bool TZuGen4LFM::CheckTimeRange(double t) {
  if (t >= TIME_BOT && t <= TIME_TOP) return true;
  FChannel->ReportParamValueError(ZGPrm_LFMTime, t);
  return false;
}

void TZuGen4LFM::XYtoAB(double X, double Y, double MaxA, double MaxB, double& A, double& B) {
  A = 0.0;
  B = 0.0;
  if (!std::isfinite(X) || !std::isfinite(Y) || X < 0.0 || Y < 0.0 || std::isnan(MaxA) || std::isnan(MaxB)) return;
  double p0 = 0.0, p1 = 1.0, q0 = 1.0, q1 = 0.0;
  while (X != 0.0 && Y != 0.0) {
    // The integer part stays a whole double: in a 32-bit register quotients
    // from 2^32 on would wrap.
    const double k = std::trunc(X / Y);
    const double rest = X - Y * k;
    const double a = p1 * k + p0;
    const double b = q1 * k + q0;
    // Without bounds the terms can grow until they overflow.
    if (!std::isfinite(a) || !std::isfinite(b)) break;
    if ((MaxA != 0.0 && a > MaxA) || (MaxB != 0.0 && b > MaxB)) break;
    p0 = p1;
    q0 = q1;
    p1 = a;
    q1 = b;
    A = a;
    B = b;
    // A remainder outside [0, Y) only comes from rounding; the next quotient
    // would be negative or zero and describe nothing.
    if (!(rest >= 0.0 && rest < Y)) break;
    X = Y;
    Y = rest;
  }
}

// One step word and its rate byte for the span X spread over the given time.
void TZuGen4LFM::SendRamp(uint8_t code, double X, int time) {
  const double Y = static_cast<double>(time) * DIV_COEF;
  double A = 0.0;
  double B = 0.0;
  XYtoAB(X, Y, kMaxStepWord, kMaxRate, A, B);
  // B = 255 would make the rate 256, which the byte cannot hold: it is kept at
  // 255 rather than wrapping to 0.
  const auto rate = static_cast<uint8_t>(RoundToInt64(std::min(B + 1.0, kMaxRate)));
  const auto word = static_cast<uint32_t>(RoundToInt64(A));
  const TZuGen4ChNames ch = FChannel->ChannelType();
  TZuGen4Cmd frame(ch, code, rate);
  PutBigEndian(&frame.Bytes[2], word, 4);
  FChannel->Link().WriteCmd(frame);
}

void TZuGen4LFM::StartLFM(bool startSweep) {
  const TZuGen4ChNames ch = FChannel->ChannelType();
  FChannel->Link().WriteCmd(TZuGen4Cmd(ch, ZGCmd_Control, 0x06, 0xA0, 0x02, ch == ZGCN_A ? 0x40 : 0x42, 0));

  // A top below the frequency (from construction, a fractional frequency or a
  // file) would give a negative span and step words that describe no sweep:
  // the sweep then stays at the frequency. A top beyond the channel's range
  // is cut to it.
  const double freq = FChannel->Frequency();
  double top = std::min(static_cast<double>(FFreqTop), static_cast<double>(TZuGen4EngineHost::FREQUENCY_TOP));
  if (top < freq) top = freq;
  const double X = (top - freq) * MUL_COEF;
  SendRamp(ZGCmd_Ramp1, X, FTinc0);
  SendRamp(ZGCmd_Ramp0, X, FTdec0);

  ReportBeyondClock(top);
  const uint32_t code = FreqToRegisterCode(ScaleValue(top, 1000.0, 1.0), FChannel->GenFreq());
  FChannel->Link().WriteCmd(TZuGen4Cmd::With32(ch, ZGCmd_Freq1, code));
  UpdateDDSs(false);
  if (!startSweep) return;

  const uint32_t rise = Duration(FTinc0, FTinc1);
  FChannel->Link().WriteCmd(TZuGen4Cmd::With24(ch, ZGCmd_LFMRiseTime, rise));
  const uint32_t fall = Duration(FTdec0, FTdec1);
  FChannel->Link().WriteCmd(TZuGen4Cmd::With24(ch, ZGCmd_LFMFallTime, fall));
  FChannel->Link().WriteCmd(TZuGen4Cmd(ch, ZGCmd_LFMRun));
}

// --- the engine interface ---

bool TZuGen4LFM::Serves(TZuGen4ModesCommon mode) const { return mode == ZGMdC_LFM; }

void TZuGen4LFM::Enter(bool startSweep) {
  FChannel->SetOpened(true);
  FChannel->WriteAFPtoGen();
  StartLFM(startSweep);
}

void TZuGen4LFM::EnterAlone() { Enter(true); }

// The first sweep is loaded without its run command; the second one starts both.
void TZuGen4LFM::EnterPaired(TZuGen4Engine& b) {
  Enter(false);
  static_cast<TZuGen4LFM&>(b).Enter(true);
}

// --- its part of the settings record ---

TZuGen4FileStream& TZuGen4LFM::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteInt(FFreqTop).WriteInt(FTinc0).WriteInt(FTinc1).WriteInt(FTdec0).WriteInt(FTdec1);
}

TZuGen4FileStream& TZuGen4LFM::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FFreqTop) && ReadField(stream, FTinc0) && ReadField(stream, FTinc1) && ReadField(stream, FTdec0) &&
      ReadField(stream, FTdec1);
  return stream;
}

// --- published properties ---

const TPropTable& TZuGen4LFM::Published() {
  using C = TZuGen4LFM;
  static const TPropTable table({
      Prop<&C::FreqTop, &C::SetFreqTop>("FreqTop", "upper end of the sweep")
          .Unit("kHz")
          .Range(TZuGen4EngineHost::FREQUENCY_BOT, TZuGen4EngineHost::FREQUENCY_TOP)
          .Dynamic(
              [](const void* o, TPropInfo& info) { info.Min = static_cast<const TZuGen4LFM*>(o)->Host()->Frequency(); })
          .RangeNote("not below the channel's Frequency"),
      Prop<&C::Tinc0, &C::SetTinc0>("Tinc0", "rising ramp time; sets the rising slope").Range(TIME_BOT, TIME_TOP),
      Prop<&C::Tinc1, &C::SetTinc1>("Tinc1", "added to Tinc0 for the rising phase").Range(TIME_BOT, TIME_TOP),
      Prop<&C::Tdec0, &C::SetTdec0>("Tdec0", "falling ramp time; sets the falling slope").Range(TIME_BOT, TIME_TOP),
      Prop<&C::Tdec1, &C::SetTdec1>("Tdec1", "added to Tdec0 for the falling phase").Range(TIME_BOT, TIME_TOP),
  });
  return table;
}

}  // namespace Zu
