#include "modulation/ZuExtModulation.h"

#include "generator/Zugen4.h"

namespace Zu {

TZuGen4ExtModulation::TZuGen4ExtModulation(TZuGen4Channel* owner) : FChannel(owner) {}
TZuGen4ExtModulation::~TZuGen4ExtModulation() = default;

void TZuGen4ExtModulation::SetType(TZuGen4AFPModes t) {
  if (t == FType) return;
  FType = t;
  FChannel->UpdateMode();
}

void TZuGen4ExtModulation::SetScale(int s) {
  if (s == FScale) return;
  FScale = s;
  FChannel->UpdateMode();
}

int TZuGen4ExtModulation::GetTypeAsInt() const {
  switch (FType) {
    case ZGAFPms_freq: return 3;
    case ZGAFPms_ampl: return 1;
    case ZGAFPms_phase: return 2;
  }
  return 0;
}

// The command sequences of external modulation are not built yet: these send
// nothing.
void TZuGen4ExtModulation::SetModeFreqMod(bool, bool) {}
void TZuGen4ExtModulation::SetModeAmplMod(bool, bool) {}
void TZuGen4ExtModulation::SetModePhaseMod(bool, bool) {}
void TZuGen4ExtModulation::StartSingleModulation(bool) {}
void TZuGen4ExtModulation::StartDoubleModulation(TZuGen4ChannelA*, TZuGen4ChannelB*) {}
void TZuGen4ExtModulation::StartDuplexModulation(TZuGen4ChannelA*) {}

}  // namespace Zu
