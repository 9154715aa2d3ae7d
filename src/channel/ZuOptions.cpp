#include "zugen4/ZuOptions.h"

#include "zugen4/Zugen4.hpp"

namespace Zu {

TZuGen4Options::TZuGen4Options(TZuGen4* owner) : FGenerator(owner) {}
TZuGen4Options::~TZuGen4Options() = default;

void TZuGen4Options::SetEnableDuplexIntMod(bool v) {
  if (v == FEnableDuplexIntMod) return;
  FEnableDuplexIntMod = v;
  // Only a running pair has to be restarted in the new form.
  if (FGenerator->ChA()->Mode() == ZGMdC_IntModulation && FGenerator->ChB()->Mode() == ZGMdC_IntModulation)
    FGenerator->TryUpdateMode();
}

}  // namespace Zu
