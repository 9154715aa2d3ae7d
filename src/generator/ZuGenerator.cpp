// Construction, activation and the update cycle of the generator.
#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/PropTable.h"
#include "platform/ZuFileStream.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

TZuGen4::TZuGen4(TComponent* AOwner)
    : TComponent(AOwner), FPlatform(DefaultPlatform()), FStream(std::make_unique<TZuGen4FileStream>()) {
  FLink.SetPlatform(FPlatform);
  FLink.BindEvents(this, &OnFTError, &OnGenResponseWait);
  FAutoUpdate = true;
  FChA = std::make_unique<TZuGen4ChannelA>(this);
  FChB = std::make_unique<TZuGen4ChannelB>(this);
  FOptions = std::make_unique<TZuGen4Options>(this);
  FUseExtRefFreq = false;
  FRefFreq = REFFREQ_DEF;
  FFreqScale = FREQSCALE_DEF;
  CalcGenFreq();
}

TZuGen4::~TZuGen4() {
  try {
    SetActive(false);
  } catch (...) {
    // Already reported through OnFTError; a destructor must not throw.
  }
  FChB.reset();
  FChA.reset();
  FOptions.reset();
}

void TZuGen4::Loaded() {}

void TZuGen4::SetPlatform(TPlatform platform) {
  if (FLink.IsOpen()) throw std::logic_error("TZuGen4::SetPlatform: the device is open");
  FPlatform = CompletePlatform(std::move(platform));
  FLink.SetPlatform(FPlatform);
}

void TZuGen4::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    // A failing first update leaves with its exception before the state
    // event: the device stays open and Active stays true.
    if (OpenFTPort()) TryUpdateMode();
    Fire(OnChangeActiveState);
    return;
  }
  Deactivate();
}

void TZuGen4::Deactivate() {
  FClosing = true;
  try {
    UpdateDependentTimers();  // the tuners stop polling
  } catch (...) {
    FClosing = false;
    throw;
  }
  FClosing = false;  // the reset frame needs an open link
  try {
    ResetGen();
  } catch (...) {
    // The instrument no longer answers (unplugged, most likely). Let go of the
    // handle anyway, so that a replugged instrument can be opened again.
    try {
      CloseFTPort();
    } catch (...) {
      // Only a host's OnFTError handler can throw here; the handle goes anyway.
    }
    FLink.Forget();
    FireKeepingFailure(OnChangeActiveState);
    throw;
  }
  CloseFTPort();
  Fire(OnChangeActiveState);
}

void TZuGen4::Detach() {
  if (!Active()) return;
  FClosing = true;
  UpdateDependentTimers();  // only stops the tuners' polling
  FClosing = false;
  bool closed = false;
  try {
    closed = FLink.Close();
  } catch (...) {
    // A host's OnFTError handler threw; the handle goes anyway.
    FLink.Forget();
    FireKeepingFailure(OnChangeActiveState);
    throw;
  }
  if (!closed) FLink.Forget();
  Fire(OnChangeActiveState);
}

void TZuGen4::SetAutoUpdate(bool value) {
  if (value == FAutoUpdate) return;
  FAutoUpdate = value;
  if (value) TryUpdateMode();
}

void TZuGen4::TryUpdateMode() {
  if (FAutoUpdate && ComponentState().Contains(csLoading)) UpdateMode();
}

void TZuGen4::UpdateDependentTimers() {
  FChA->UpdateDependentTimers();
  FChB->UpdateDependentTimers();
}

void TZuGen4::ResetGen() { WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_Reset)); }

void TZuGen4::UpdateDDSs(bool value) { WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, value ? ZGCmd_UpdateSync : ZGCmd_Update)); }

void TZuGen4::UpdateMode() {
  UpdateDependentTimers();
  if (!Active()) return;
  {
    // A setup no engine can send is refused before anything changes or goes
    // out, with the engine's own exception.
    TZuGen4Plan trial;
    TPlanRefusal refusal;
    if (!PlanOnCopy(trial, refusal)) std::rethrow_exception(refusal.Error);
  }
  // A frequency set before the clock went down may now be out of its reach:
  // the host hears of it, and the register gets its top code.
  for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(FChA.get()), static_cast<TZuGen4Channel*>(FChB.get())}) {
    double f = ch->Frequency();
    if (ch->Mode() != ZGMdC_off && !FreqFitsClock(f * 1000.0) && OnParamValueError)
      OnParamValueError(ch, ZGPrm_Frequency, &f);
  }
  TZuGen4Plan plan;
  TZuGen4Plan* const outer = FLink.Capture(&plan);
  try {
    EnterModes();
  } catch (...) {
    FLink.Capture(outer);
    throw;
  }
  FLink.Capture(outer);
  SendPlan(plan);
  Fire(AfterUpdate);
}

void TZuGen4::SendPlan(const TZuGen4Plan& plan) {
  if (!FLink.IsOpen()) return;
  TZuGen4SendOutcome outcome;
  try {
    FLink.Send(plan, &outcome);
  } catch (...) {
    if (OnPlanSent) OnPlanSent(plan, outcome);
    throw;
  }
  if (OnPlanSent) OnPlanSent(plan, outcome);
}

void TZuGen4::EnterModes() {
  ResetGen();
  if (FUseExtRefFreq) WriteExtFreqScale();

  TZuGen4Channel* const a = FChA.get();
  TZuGen4Channel* const b = FChB.get();
  if (a->Mode() == ZGMdC_gen || b->Mode() == ZGMdC_gen) {
    if (a->Mode() == ZGMdC_gen) a->SetModeSinGeneration();
    if (b->Mode() == ZGMdC_gen) b->SetModeSinGeneration();
    UpdateDDSs(true);
  }
  // Then each engine's modes, in the order the instrument needs them loaded.
  const auto& enginesA = a->Engines();
  const auto& enginesB = b->Engines();
  std::vector<size_t> order(enginesA.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t x, size_t y) { return enginesA[x]->EntryOrder() < enginesA[y]->EntryOrder(); });
  for (size_t i : order) {
    TZuGen4Engine& ea = *enginesA[i];
    TZuGen4Engine& eb = *enginesB[i];
    const bool inA = ea.Serves(a->Mode());
    const bool inB = eb.Serves(b->Mode());
    FEnteringA = inA ? &ea : nullptr;
    FEnteringB = inB ? &eb : nullptr;
    if (inA && inB) {
      ea.EnterPaired(eb);
    } else if (inA) {
      ea.EnterAlone();
    } else if (inB) {
      eb.EnterAlone();
    }
  }
  FEnteringA = FEnteringB = nullptr;
}

void TZuGen4::SetModeIntModulation(TZuGen4Channel* first, TZuGen4Channel* second) {
  if (!first) return;
  if (second) {
    first->IntModulation()->EnterPaired(*second->IntModulation());
  } else {
    first->IntModulation()->EnterAlone();
  }
}

void TZuGen4::SetModeExtModulation(TZuGen4Channel* first, TZuGen4Channel* second) {
  if (!first) return;
  if (second) {
    first->ExtModulation()->EnterDouble(*second->ExtModulation());
  } else {
    first->SetModeExtModulation(true);
  }
}

void TZuGen4::SetModeLFM(TZuGen4Channel* first, TZuGen4Channel* second) {
  if (!first) return;
  if (second) {
    first->LFM()->EnterPaired(*second->LFM());
  } else {
    first->LFM()->EnterAlone();
  }
}

bool TZuGen4::CompareIntModForDuplex() const { return FChA->IntModulation()->Type() == FChB->IntModulation()->Type(); }

// --- published properties ---

const TPropTable& TZuGen4::Published() {
  using C = TZuGen4;
  constexpr double kUnbounded = std::numeric_limits<double>::infinity();
  static const TPropTable table({
      Prop<&C::Active>("Active", "the link to the instrument is open (set by activation, not by path)").NotStored(),
      Prop<&C::AutoUpdate, &C::SetAutoUpdate>("AutoUpdate", "every accepted change is sent to the instrument at once")
          .NotStored()
          .OfTheHost(),
      Prop<&C::UseExtRefFreq, &C::SetUseExtRefFreq>(
          "UseExtRefFreq", "the reference clock comes from outside; switching it off restores 25 MHz and 16"),
      Prop<&C::FreqScale, &C::SetFreqScale>("FreqScale", "reference multiplier of the external reference clock")
          .Range(FREQSCALE_MIN, FREQSCALE_MAX)
          .RangeNote("only while UseExtRefFreq is true"),
      Prop<&C::RefFreq, &C::SetRefFreq>("RefFreq", "reference clock")
          .Unit("MHz")
          .Range(0.0, kUnbounded)
          .ExcludeMin()
          .RangeNote("only while UseExtRefFreq is true"),
      Child<&C::ChA, TZuGen4Channel>("ChA"),
      Child<&C::ChB, TZuGen4Channel>("ChB"),
      Child<&C::Options, TZuGen4Options>("Options"),
      Prop<&C::GenFreq>("GenFreq", "system clock, FreqScale times RefFreq").Unit("MHz").NotStored(),
      Prop<&C::Status>("Status", "result of the last driver call (0 is success)").NotStored(),
  });
  return table;
}

}  // namespace Zu
