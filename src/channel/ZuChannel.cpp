// Channel parameters, the over-modulation guard, the mode state machine and
// the entry operation of each mode.
#include "zugen4/ZuChannel.h"

#include <cmath>

#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

TZuGen4Channel::TZuGen4Channel(TZuGen4* owner, TZuGen4ChNames type) : FGenerator(owner), FChannelType(type) {
  FIntModulation = std::make_unique<TZuGen4IntModulation>(this);
  FExtModulation = std::make_unique<TZuGen4ExtModulation>(this);
  FTuner = std::make_unique<TZuGen4Tuner>(this);
  FLFM = std::make_unique<TZuGen4LFM>(this);
  FDDSMod = std::make_unique<TZuGen4DDSMod>(this);
  FFrequency = 1000.0;
  FAmplitude = 100.0;
  FPhase = 0.0;
}

TZuGen4Channel::~TZuGen4Channel() { DestroyEngines(); }

void TZuGen4Channel::DestroyEngines() {
  FIntModulation.reset();
  FExtModulation.reset();
  FTuner.reset();
  FLFM.reset();
  FDDSMod.reset();
}

void TZuGen4Channel::DestroyTuner() { FTuner.reset(); }

TZuGen4ChannelA::TZuGen4ChannelA(TZuGen4* owner) : TZuGen4Channel(owner, ZGCN_A) {}
TZuGen4ChannelA::~TZuGen4ChannelA() {
  // Channel A stops its polling timer before anything else goes away.
  DestroyTuner();
  DestroyEngines();
}
void TZuGen4ChannelA::Loaded() { TZuGen4Channel::Loaded(); }

TZuGen4ChannelB::TZuGen4ChannelB(TZuGen4* owner) : TZuGen4Channel(owner, ZGCN_B) {}
TZuGen4ChannelB::~TZuGen4ChannelB() { DestroyEngines(); }
void TZuGen4ChannelB::Loaded() { TZuGen4Channel::Loaded(); }

void TZuGen4Channel::Loaded() { FLoaded = true; }

TZuGen4Link& TZuGen4Channel::Link() const { return FGenerator->Link(); }

void TZuGen4Channel::UpdateMode() { FGenerator->TryUpdateMode(); }

TZuGen4Channel* TZuGen4Channel::GetOtherCh() const {
  if (IsChannelA()) return FGenerator->ChB();
  return FGenerator->ChA();
}

// --- parameters ---

bool TZuGen4Channel::CheckFreqRange(double f) {
  // Below a low external reference the system clock may not reach the top of
  // the range: such a frequency is refused like one outside it.
  if (f >= FREQUENCY_BOT && f <= FREQUENCY_TOP && FGenerator->FreqFitsClock(f * 1000.0)) return true;
  if (FGenerator->OnParamValueError) FGenerator->OnParamValueError(this, ZGPrm_Frequency, &f);
  return false;
}

bool TZuGen4Channel::CheckPhaseRange(double p) {
  if (p >= PHASE_BOT && p < PHASE_TOP) return true;
  if (FGenerator->OnParamValueError) FGenerator->OnParamValueError(this, ZGPrm_Phase, &p);
  return false;
}

void TZuGen4Channel::Set_sinFrequency(double f) {
  if (f == FFrequency) return;
  if (!CheckFreqRange(f)) return;
  FFrequency = f;
  // The sweep's top follows the frequency up, never down.
  if (static_cast<double>(FLFM->FFreqTop) < f) FLFM->FFreqTop = static_cast<int>(std::trunc(f));
  UpdateMode();
}

void TZuGen4Channel::Set_sinAmplitude(double a) {
  if (a == FAmplitude || !(a > AMPL_BOT && a <= AMPL_TOP)) return;
  FAmplitude = a;
  UpdateMode();
}

void TZuGen4Channel::SetPhase(double p) {
  if (p == FPhase || !CheckPhaseRange(p)) return;
  FPhase = p;
  UpdateMode();
}

// --- over-modulation ---

namespace {
// Amplitude left free when a modulation spans 100 × 2^(scale − 21) percent.
double ScaleLimit(int scale) { return 100.0 - 100.0 * std::exp2(static_cast<double>(scale) - 21.0); }
}  // namespace

double TZuGen4Channel::GetMaxAmplAvoidOverMod() const {
  switch (FMode) {
    case ZGMdC_tuning: return ScaleLimit(FTuner->Scale());
    case ZGMdC_IntModulation: {
      const double limit = 100.0 / (1.0 + static_cast<double>(FIntModulation->dA()) / 100.0);
      return static_cast<double>(RoundToInt64(limit));
    }
    case ZGMdC_ExtModulation:
    case ZGMdC_ExtModulationA12:
    case ZGMdC_ExtModulationAB1: return ScaleLimit(FExtModulation->Scale());
    default: return 100.0;
  }
}

void TZuGen4Channel::CorrectAmplAvoidOverModul() {
  int s = 0;
  switch (FMode) {
    case ZGMdC_tuning:
      if (FTuner->Scale() < 7 || FTuner->Scale() > 21) FTuner->SetScale(20);
      s = FTuner->Scale();
      break;
    case ZGMdC_ExtModulation:
    case ZGMdC_ExtModulationA12:
    case ZGMdC_ExtModulationAB1:
      if (FExtModulation->Scale() < 7 || FExtModulation->Scale() > 20) FExtModulation->SetScale(20);
      s = FExtModulation->Scale();
      break;
    default: return;
  }
  const double limit = ScaleLimit(s);
  if (FAmplitude > limit) FAmplitude = limit;
}

void TZuGen4Channel::NotifyOverModulation(TZuGen4AFPModes engineType) {
  const double limit = GetMaxAmplAvoidOverMod();
  if (!(limit < FAmplitude) || engineType != ZGAFPms_ampl) return;
  if (!FGenerator->Options()->OverModulationNotify() || !FGenerator->OnOverModulation) return;
  if (FMode != ZGMdC_tuning) {
    FGenerator->OnOverModulation(this, limit);
    return;
  }
  // No poll may interrupt the host while it decides what to do.
  const bool polling = FTuner->ADCTimerEnabled();
  FTuner->SetADCTimerEnabled(false);
  try {
    FGenerator->OnOverModulation(this, limit);
  } catch (...) {
    FTuner->SetADCTimerEnabled(polling);
    throw;
  }
  FTuner->SetADCTimerEnabled(polling);
}

// --- mode state machine ---

bool TZuGen4Channel::CheckEnableNewMode(TZuGen4ModesCommon m) const {
  const TZuGen4ModeRule* rule = FindModeRule(m);
  return !(rule && rule->ChannelAOnly && FChannelType != ZGCN_A);
}

void TZuGen4Channel::RaiseModeChange(TZuGen4Channel* ch, bool val) {
  if (FGenerator->OnChModeChange) FGenerator->OnChModeChange(ch, val);
}

void TZuGen4Channel::SetMode(TZuGen4ModesCommon m) {
  if (m == FMode) return;
  // Recorded first, so that the handlers of the events below can tell which
  // rule applied.
  const TZuGen4Channel* other = GetOtherCh();
  FGenerator->FLastModeChange = ApplyModeRules(FChannelType, m, other ? other->FMode : ZGMdC_off);
  if (!CheckEnableNewMode(m)) return;
  FMode = m;
  RaiseModeChange(this, false);
  CheckModesCompat();
  UpdateMode();
}

void TZuGen4Channel::CheckModesCompat() {
  TZuGen4Channel* other = GetOtherCh();
  if (!other) return;
  const TZuGen4ModeChange change = ApplyModeRules(FChannelType, FMode, other->FMode);
  if (change.Action != TZuGen4ModeAction::ForceOff && change.Action != TZuGen4ModeAction::PullIn) return;
  other->FMode = change.OtherMode;
  RaiseModeChange(other, true);
}

void TZuGen4Channel::SetEnabled(bool) {}

void TZuGen4Channel::Send(uint8_t code) { Link().WriteCmd(TZuGen4Cmd(FChannelType, code)); }

void TZuGen4Channel::SetOpened(bool v) {
  FOpened = v;
  Send(v ? ZGCmd_OutputOn : ZGCmd_OutputOff);
}

void TZuGen4Channel::SetAutoUpdate(bool v) {
  if (v == FAutoUpdate) return;
  FAutoUpdate = v;
  if (v) UpdateMode();
}

void TZuGen4Channel::UpdateDependentTimers() { FTuner->UpdateADCTimer(); }

// --- entry operations ---

void TZuGen4Channel::WriteAFPtoGen() {
  TZuGen4& gen = *FGenerator;
  const uint32_t freq = gen.FreqToRegister(TZuGen4::Conv_Value(FFrequency, 1000.0, 1.0));
  Link().WriteCmd(TZuGen4Cmd::With32(FChannelType, ZGCmd_Freq, freq));
  Link().WriteCmd(TZuGen4Cmd::With16(FChannelType, ZGCmd_Ampl, TZuGen4::AmplToRegister(FAmplitude)));
  const auto phase = static_cast<uint32_t>(TZuGen4::Conv_PhaseToCode(FPhase));
  Link().WriteCmd(TZuGen4Cmd::With16(FChannelType, ZGCmd_Phase, phase));
}

void TZuGen4Channel::SetModeSinGeneration() {
  SetOpened(true);
  WriteAFPtoGen();
}

void TZuGen4Channel::SetModeTuning() {
  NotifyOverModulation(FTuner->Type());
  SetOpened(true);
  WriteAFPtoGen();
  switch (FTuner->Type()) {
    case ZGAFPms_freq: FTuner->SetModeFreqTune(); break;
    case ZGAFPms_ampl: FTuner->SetModeAmplTune(); break;
    case ZGAFPms_phase: FTuner->SetModePhaseTune(); break;
  }
}

void TZuGen4Channel::SetModeIntModulation(bool start) {
  NotifyOverModulation(FIntModulation->Type());
  SetOpened(true);
  WriteAFPtoGen();
  FIntModulation->WriteReadings(start);
}

void TZuGen4Channel::SetModeExtModulation(bool start) {
  NotifyOverModulation(FExtModulation->Type());
  SetOpened(true);
  WriteAFPtoGen();
  const bool a12 = FMode == ZGMdC_ExtModulationA12;
  switch (FExtModulation->Type()) {
    case ZGAFPms_freq: FExtModulation->SetModeFreqMod(start, a12); break;
    case ZGAFPms_ampl: FExtModulation->SetModeAmplMod(start, a12); break;
    case ZGAFPms_phase: FExtModulation->SetModePhaseMod(start, a12); break;
  }
}

void TZuGen4Channel::SetModeLFM(bool start) {
  SetOpened(true);
  WriteAFPtoGen();
  FLFM->StartLFM(start);
}

void TZuGen4Channel::SetModeDDSMod() {
  SetOpened(true);
  FDDSMod->StartDDSMod();
}

void TZuGen4Channel::SetModeOff() { SetOpened(false); }

// --- published properties ---

const TPropTable& TZuGen4Channel::Published() {
  using C = TZuGen4Channel;
  static const TPropTable table({
      Prop<&C::Mode, &C::SetMode>("Mode", "what the channel does; may switch the other channel off")
          .Names(ModeNames())
          .RangeNote("ZGMdC_ExtModulationA12 on channel A only"),
      Prop<&C::Frequency, &C::Set_sinFrequency>("Frequency", "output frequency")
          .Unit("kHz")
          .Range(FREQUENCY_BOT, FREQUENCY_TOP)
          .Dynamic([](const void* o, TPropInfo& info) {
            LimitToClock(static_cast<const C*>(o)->Generator()->GenFreq(), info);
          }),
      Prop<&C::Amplitude, &C::Set_sinAmplitude>("Amplitude", "output amplitude, percent of full scale")
          .Unit("%")
          .Range(AMPL_BOT, AMPL_TOP)
          .ExcludeMin(),
      Prop<&C::Phase, &C::SetPhase>("Phase", "output phase").Unit("deg").Range(PHASE_BOT, PHASE_TOP).ExcludeMax(),
      Child<&C::Tuner, TZuGen4Tuner>("Tuner"),
      Child<&C::IntModulation, TZuGen4IntModulation>("IntModulation"),
      Child<&C::ExtModulation, TZuGen4ExtModulation>("ExtModulation"),
      Child<&C::LFM, TZuGen4LFM>("LFM"),
      Child<&C::DDSMod, TZuGen4DDSMod>("DDSMod"),
      Prop<&C::ChannelType>("ChannelType", "which output this is").Names(ChannelNames()).NotStored(),
  });
  return table;
}

}  // namespace Zu
