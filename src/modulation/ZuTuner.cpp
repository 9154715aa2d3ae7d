#include "zugen4/ZuTuner.h"

#include <limits>

#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "platform/RecordFields.h"

namespace Zu {

TZuGen4Tuner::TZuGen4Tuner(TZuGen4EngineHost* owner) : TZuGen4Engine(owner) {}

TZuGen4Tuner::~TZuGen4Tuner() {
  FADCTimerEnabled = false;
  try {
    UpdateADCTimer();  // only stops: polling is no longer enabled
  } catch (...) {
    // Stopping a timer cannot fail; nothing to report while going away.
  }
}

void TZuGen4Tuner::SetType(TZuGen4AFPModes t) {
  if (t == FType) return;
  FType = t;
  FChannel->UpdateMode();
}

void TZuGen4Tuner::SetScale(int s) {
  if (s == FScale) return;
  FScale = s;
  FChannel->UpdateMode();
}

void TZuGen4Tuner::SetADCTimerEnabled(bool v) {
  if (v == FADCTimerEnabled) return;
  FADCTimerEnabled = v;
  UpdateADCTimer();
}

void TZuGen4Tuner::SetADCTimerInterval(int ms) {
  if (ms == FADCTimerInterval || ms < 0) return;
  FADCTimerInterval = ms;
  UpdateADCTimer();
}

void TZuGen4Tuner::UpdateADCTimer() {
  if (FTimerId != 0) {
    FTimers->Stop(FTimerId);
    FTimerId = 0;
    FTimers.reset();
  }
  // The tuner's own fields come first: the destructor relies on touching nothing else.
  if (!(FADCTimerInterval > 0 && FADCTimerEnabled && FChannel->GeneratorActive() && FChannel->Mode() == ZGMdC_tuning))
    return;
  std::shared_ptr<TTimerService> timers = FChannel->Timers();
  const uint32_t id = timers ? timers->Start(static_cast<uint32_t>(FADCTimerInterval), [this] { ADCTimer(); }) : 0;
  if (id == 0) throw EOutOfResources(MSG_TIMER_ERROR);
  FTimers = std::move(timers);
  FTimerId = id;
}

void TZuGen4Tuner::ADCTimer() {
  GetADCValue();
  // The handler may destroy the generator: nothing may follow.
  FChannel->ReportADCReading();
}

void TZuGen4Tuner::GetADCValue() {
  FChannel->Link().WriteCmd(TZuGen4Cmd(FChannel->ChannelType(), ZGCmd_ReadADC, 0, 0, 0, 0, 0, 1));
  unsigned char b[4] = {};
  // An inactive link reads nothing; the last reading stays.
  if (FChannel->Link().ReadBytes(b, 4) != 4) return;
  uint32_t v = GetBigEndian(b, 4);
  if (FType == ZGAFPms_ampl || FType == ZGAFPms_phase) v >>= 16;
  FADCValue = v;
}

void TZuGen4Tuner::SetModeFreqTune() {
  const TZuGen4ChNames ch = FChannel->ChannelType();
  FChannel->Link().WriteCmd(TZuGen4Cmd::With32(
      ch, ZGCmd_BaseValue, FreqToRegisterCode(ScaleValue(FChannel->Frequency(), 1000.0, 1.0), FChannel->GenFreq())));
  FChannel->Link().WriteCmd(TZuGen4Cmd(ch, ZGCmd_TuneFreq, static_cast<uint8_t>(FScale)));
}

void TZuGen4Tuner::SetModeAmplTune() {
  const TZuGen4ChNames ch = FChannel->ChannelType();
  FChannel->Link().WriteCmd(TZuGen4Cmd::With16(ch, ZGCmd_BaseValue, AmplToRegisterCode(FChannel->Amplitude())));
  FChannel->Link().WriteCmd(TZuGen4Cmd(ch, ZGCmd_TuneAmpl, static_cast<uint8_t>(FScale)));
}

void TZuGen4Tuner::SetModePhaseTune() {
  const TZuGen4ChNames ch = FChannel->ChannelType();
  FChannel->Link().WriteCmd(
      TZuGen4Cmd::With16(ch, ZGCmd_BaseValue, static_cast<uint32_t>(PhaseToCode(FChannel->Phase()))));
  FChannel->Link().WriteCmd(TZuGen4Cmd(ch, ZGCmd_TunePhase, static_cast<uint8_t>(FScale)));
}

// --- the engine interface ---

bool TZuGen4Tuner::Serves(TZuGen4ModesCommon mode) const { return mode == ZGMdC_tuning; }

void TZuGen4Tuner::EnterAlone() {
  FChannel->NotifyOverModulation(FType);
  FChannel->SetOpened(true);
  FChannel->WriteAFPtoGen();
  switch (FType) {
    case ZGAFPms_freq: SetModeFreqTune(); break;
    case ZGAFPms_ampl: SetModeAmplTune(); break;
    case ZGAFPms_phase: SetModePhaseTune(); break;
  }
}

// Only one channel tunes at a time; a pair (only from a settings file) tunes A.
void TZuGen4Tuner::EnterPaired(TZuGen4Engine&) { EnterAlone(); }

bool TZuGen4Tuner::FitScale(double& limit) {
  if (FScale < 7 || FScale > 21) SetScale(20);
  limit = ScaleLimit(FScale);
  return true;
}

// --- its part of the settings record ---

TZuGen4FileStream& TZuGen4Tuner::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteByte(FType).WriteInt(FScale).WriteBool(FADCTimerEnabled).WriteInt(FADCTimerInterval);
}

TZuGen4FileStream& TZuGen4Tuner::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FScale) && ReadField(stream, FADCTimerEnabled) &&
      ReadField(stream, FADCTimerInterval);
  return stream;
}

// --- published properties ---

const TPropTable& TZuGen4Tuner::Published() {
  using C = TZuGen4Tuner;
  static const TPropTable table({
      Prop<&C::Type, &C::SetType>("Type", "quantity being tuned").Names(AFPModeNames()),
      Prop<&C::Scale, &C::SetScale>("Scale", "tuning span exponent, sent as one byte (7 to 21 is the usual band)"),
      Prop<&C::ADCTimerEnabled, &C::SetADCTimerEnabled>("ADCTimerEnabled", "poll the ADC while tuning"),
      Prop<&C::ADCTimerInterval, &C::SetADCTimerInterval>("ADCTimerInterval", "polling period (0: no polling)")
          .Unit("ms")
          .Range(0.0, std::numeric_limits<double>::infinity()),
      Prop<&C::ADCValue>("ADCValue", "last ADC reading").NotStored(),
  });
  return table;
}

}  // namespace Zu
