#include "modulation/ZuIntModulation.h"

#include "generator/Zugen4.h"

namespace Zu {

TZuGen4IntModulation::TZuGen4IntModulation(TZuGen4Channel* owner) : FChannel(owner) {}
TZuGen4IntModulation::~TZuGen4IntModulation() = default;

void TZuGen4IntModulation::SetType(TZuGen4AFPModes t) {
  if (t == FType) return;
  FType = t;
  FChannel->UpdateMode();
}

void TZuGen4IntModulation::SetdA(int v) {
  if (v == FdA || v < 0 || v > 100) return;
  FdA = v;
  FChannel->UpdateMode();
}

// The table download and the start commands of internal modulation are not
// built yet: these send nothing.
void TZuGen4IntModulation::WriteReadings(bool) {}
void TZuGen4IntModulation::StartModulationCmd(TZuGen4Commands) {}
void TZuGen4IntModulation::StartSingleModulation(bool) {}
void TZuGen4IntModulation::StartDoubleModulation(bool) {}
void TZuGen4IntModulation::StartDuplexModulation(bool) {}

}  // namespace Zu
