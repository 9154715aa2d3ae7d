// Channel parameters, the over-modulation guard, the mode state machine and
// the entry operation of each mode.
#include "zugen4/ZuChannel.h"

#include <cmath>

#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuOptions.h"

namespace Zu {

TZuGen4Channel::TZuGen4Channel(TZuGen4ChannelHost* owner, TZuGen4ChNames type) : FGenerator(owner), FChannelType(type) {
  MakeEngines(static_cast<TZuGen4EngineTypes*>(nullptr));
  FFrequency = 1000.0;
  FAmplitude = 100.0;
  FPhase = 0.0;
}

TZuGen4Channel::~TZuGen4Channel() { DestroyEngines(); }

void TZuGen4Channel::DestroyEngines() {
  for (auto& engine : FEngines) engine.reset();
}

void TZuGen4Channel::DestroyTuner() {
  FEngines[IndexOf<TZuGen4Tuner>(static_cast<TZuGen4EngineTypes*>(nullptr))].reset();
}

TZuGen4ChannelA::TZuGen4ChannelA(TZuGen4ChannelHost* owner) : TZuGen4Channel(owner, ZGCN_A) {}
TZuGen4ChannelA::~TZuGen4ChannelA() {
  // Channel A stops its polling timer before anything else goes away.
  DestroyTuner();
  DestroyEngines();
}
void TZuGen4ChannelA::Loaded() { TZuGen4Channel::Loaded(); }

TZuGen4ChannelB::TZuGen4ChannelB(TZuGen4ChannelHost* owner) : TZuGen4Channel(owner, ZGCN_B) {}
TZuGen4ChannelB::~TZuGen4ChannelB() { DestroyEngines(); }
void TZuGen4ChannelB::Loaded() { TZuGen4Channel::Loaded(); }

void TZuGen4Channel::Loaded() { FLoaded = true; }

TZuGen4Link& TZuGen4Channel::Link() const { return FGenerator->Link(); }

void TZuGen4Channel::UpdateMode() { FGenerator->TryUpdateMode(); }

TZuGen4Channel* TZuGen4Channel::GetOtherCh() const {
  if (IsChannelA()) return FGenerator->ChB();
  return FGenerator->ChA();
}

// --- what the engines see ---

TZuGen4Engine* TZuGen4Channel::OtherEngine(const TZuGen4Engine* mine) const {
  const TZuGen4Channel* other = GetOtherCh();
  if (!other) return nullptr;
  for (size_t i = 0; i < FEngines.size(); ++i)
    if (FEngines[i].get() == mine) return other->FEngines[i].get();
  return nullptr;
}

double TZuGen4Channel::GenFreq() const { return FGenerator->GenFreq(); }
bool TZuGen4Channel::GeneratorActive() const { return FGenerator->Active(); }
std::shared_ptr<TTimerService> TZuGen4Channel::Timers() const { return FGenerator->Platform().Timers; }
bool TZuGen4Channel::DuplexIntModEnabled() const { return FGenerator->Options()->EnableDuplexIntMod(); }

void TZuGen4Channel::ReportParamValueError(TZuGen4Parameters param, double value) {
  if (FGenerator->OnParamValueError) FGenerator->OnParamValueError(this, param, &value);
}

void TZuGen4Channel::ReportADCReading() {
  // A copy: the handler may destroy the generator, and with it the event.
  const TChannelEvent handler = FGenerator->OnADCTimer;
  if (handler) handler(this);
}

// --- parameters ---

bool TZuGen4Channel::CheckFreqRange(double f) {
  // Below a low external reference the system clock may not reach the top of
  // the range: such a frequency is refused like one outside it.
  if (f >= FREQUENCY_BOT && f <= FREQUENCY_TOP && FreqFitsClock(f * 1000.0, FGenerator->GenFreq())) return true;
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
  if (static_cast<double>(LFM()->FFreqTop) < f) LFM()->FFreqTop = static_cast<int>(std::trunc(f));
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

double TZuGen4Channel::GetMaxAmplAvoidOverMod() const {
  for (const auto& engine : FEngines)
    if (engine->Serves(FMode)) return engine->MaxAmplitude();
  return 100.0;
}

void TZuGen4Channel::CorrectAmplAvoidOverModul() {
  for (const auto& engine : FEngines) {
    if (!engine->Serves(FMode)) continue;
    double limit = 0.0;
    if (engine->FitScale(limit) && FAmplitude > limit) FAmplitude = limit;
    return;
  }
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
  const bool polling = Tuner()->ADCTimerEnabled();
  Tuner()->SetADCTimerEnabled(false);
  try {
    FGenerator->OnOverModulation(this, limit);
  } catch (...) {
    Tuner()->SetADCTimerEnabled(polling);
    throw;
  }
  Tuner()->SetADCTimerEnabled(polling);
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
  FGenerator->NoteModeChange(ApplyModeRules(FChannelType, m, other ? other->FMode : ZGMdC_off));
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

void TZuGen4Channel::UpdateDependentTimers() { Tuner()->UpdateADCTimer(); }

// --- entry operations ---

void TZuGen4Channel::WriteAFPtoGen() {
  const uint32_t freq = FreqToRegisterCode(ScaleValue(FFrequency, 1000.0, 1.0), FGenerator->GenFreq());
  Link().WriteCmd(TZuGen4Cmd::With32(FChannelType, ZGCmd_Freq, freq));
  Link().WriteCmd(TZuGen4Cmd::With16(FChannelType, ZGCmd_Ampl, AmplToRegisterCode(FAmplitude)));
  Link().WriteCmd(TZuGen4Cmd::With16(FChannelType, ZGCmd_Phase, PhaseToRegisterCode(FPhase)));
}

void TZuGen4Channel::SetModeSinGeneration() {
  SetOpened(true);
  WriteAFPtoGen();
}

// The entry of each engine's mode lives with the engine.
void TZuGen4Channel::SetModeTuning() { Tuner()->EnterAlone(); }
void TZuGen4Channel::SetModeIntModulation(bool start) { IntModulation()->Enter(start); }
void TZuGen4Channel::SetModeExtModulation(bool start) { ExtModulation()->Enter(start); }
void TZuGen4Channel::SetModeLFM(bool start) { LFM()->Enter(start); }
void TZuGen4Channel::SetModeDDSMod() { DDSMod()->EnterAlone(); }

void TZuGen4Channel::SetModeOff() { SetOpened(false); }

// Both external starts act on the two channels, so they are defined here.
void TZuGen4ExtModulation::StartDoubleModulation(TZuGen4ChannelA* a, TZuGen4ChannelB* b) {
  if (!a || !b) return;
  StartDouble(*a->ExtModulation(), *b->ExtModulation());
}

void TZuGen4ExtModulation::StartDuplexModulation(TZuGen4ChannelA* a) {
  if (a) a->ExtModulation()->StartDuplex();
}

// --- published properties ---

namespace {

template <class E>
E* EngineOf(const TZuGen4Channel& ch) {
  return ch.Engine<E>();
}

// One child per engine, named by the engine itself: a new engine is
// published without a line here.
template <class... E>
std::vector<TPropDesc> EngineEntries(std::tuple<E...>*) {
  return {NamedChild<TZuGen4Channel, E, &EngineOf<E>>()...};
}

}  // namespace

const TPropTable& TZuGen4Channel::Published() {
  using C = TZuGen4Channel;
  static const TPropTable table = [] {
    std::vector<TPropDesc> entries({
        Prop<&C::Mode, &C::SetMode>("Mode", "what the channel does; may switch the other channel off")
            .Names(ModeNames())
            .RangeNote("ZGMdC_ExtModulationA12 on channel A only"),
        Prop<&C::Frequency, &C::Set_sinFrequency>("Frequency", "output frequency")
            .Unit("kHz")
            .Range(FREQUENCY_BOT, FREQUENCY_TOP)
            .Dynamic([](const void* o, TPropInfo& info) { LimitToClock(static_cast<const C*>(o)->GenFreq(), info); }),
        Prop<&C::Amplitude, &C::Set_sinAmplitude>("Amplitude", "output amplitude, percent of full scale")
            .Unit("%")
            .Range(AMPL_BOT, AMPL_TOP)
            .ExcludeMin(),
        Prop<&C::Phase, &C::SetPhase>("Phase", "output phase").Unit("deg").Range(PHASE_BOT, PHASE_TOP).ExcludeMax(),
    });
    // The engines, in the channel's order, which the settings record follows.
    for (TPropDesc& d : EngineEntries(static_cast<TZuGen4EngineTypes*>(nullptr))) entries.push_back(std::move(d));
    entries.push_back(Prop<&C::ChannelType>("ChannelType", "which output this is").Names(ChannelNames()).NotStored());
    return TPropTable(std::move(entries));
  }();
  return table;
}

}  // namespace Zu
