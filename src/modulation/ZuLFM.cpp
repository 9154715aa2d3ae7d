#include "modulation/ZuLFM.h"

#include "generator/Zugen4.h"

namespace Zu {

TZuGen4LFM::TZuGen4LFM(TZuGen4Channel* owner) : FChannel(owner) {}
TZuGen4LFM::~TZuGen4LFM() = default;

void TZuGen4LFM::SetFreqTop(int v) {
  if (v == FFreqTop || static_cast<double>(v) < FChannel->Frequency()) return;
  FFreqTop = v;
  FChannel->UpdateMode();
}

// The sweep's command sequence is not built yet: this sends nothing.
void TZuGen4LFM::StartLFM(bool) {}

}  // namespace Zu
