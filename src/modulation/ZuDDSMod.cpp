#include "modulation/ZuDDSMod.h"

#include "generator/Zugen4.h"

namespace Zu {

TZuGen4DDSMod::TZuGen4DDSMod(TZuGen4Channel* owner) : FChannel(owner) {}
TZuGen4DDSMod::~TZuGen4DDSMod() = default;

// The keying command sequence is not built yet: this sends nothing.
void TZuGen4DDSMod::StartDDSMod() {}

}  // namespace Zu
