#include "zugen4/ZuOptions.h"

#include "platform/PropTable.h"
#include "zugen4/ZuChannel.h"

namespace Zu {

TZuGen4Options::TZuGen4Options(TZuGen4ChannelHost* owner) : FGenerator(owner) {}
TZuGen4Options::~TZuGen4Options() = default;

void TZuGen4Options::SetEnableDuplexIntMod(bool v) {
  if (v == FEnableDuplexIntMod) return;
  FEnableDuplexIntMod = v;
  // Only a running pair has to be restarted in the new form.
  if (FGenerator->ChA()->Mode() == ZGMdC_IntModulation && FGenerator->ChB()->Mode() == ZGMdC_IntModulation)
    FGenerator->TryUpdateMode();
}

// --- published properties ---

const TPropTable& TZuGen4Options::Published() {
  using C = TZuGen4Options;
  static const TPropTable table({
      Prop<&C::EnableDuplexIntMod, &C::SetEnableDuplexIntMod>(
          "EnableDuplexIntMod", "both channels in internal modulation run as one duplex pair, not as a double pair"),
      Prop<&C::OverModulationNotify, &C::SetOverModulationNotify>(
          "OverModulationNotify", "raise OnOverModulation when a mode would over-modulate the amplitude"),
  });
  return table;
}

}  // namespace Zu
