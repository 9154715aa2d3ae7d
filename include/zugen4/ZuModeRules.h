// The mode compatibility rules: what setting a mode on one channel does to the
// other channel. One table, one row per mode, each with the rule in words, so
// that a tool or a panel can say which rule switched the other channel off or
// pulled it into the joint mode (TZuGen4::LastModeChange has the last one).
#pragma once

#include <cstdint>
#include <span>

#include "zugen4/ZuCore.h"

namespace Zu {

// What a mode change does to the other channel.
enum class TZuGen4ModeAction : uint8_t {
  Keep,      // the other channel keeps its mode
  ForceOff,  // the other channel is switched off
  PullIn,    // the other channel joins the new mode
  Refuse,    // the mode is refused on this channel; nothing changes
};

struct TZuGen4ModeRule {
  TZuGen4ModesCommon Mode;  // the mode being set
  bool ChannelAOnly;        // refused on channel B
  bool PullsOtherIn;        // the other channel joins this mode, whatever it was in
  // One character per mode of the other channel, in enumerator order, then
  // one for a stored value that names no mode: 'x' switches it off.
  const char* ForcesOff;
  const char* Text;  // the rule in words
};

// Every row, in enumerator order.
ZUGEN_API std::span<const TZuGen4ModeRule> ModeRules();
// The row of a mode; nullptr for a value that names no mode.
ZUGEN_API const TZuGen4ModeRule* FindModeRule(TZuGen4ModesCommon mode);

// One mode change and its outcome.
struct TZuGen4ModeChange {
  TZuGen4ChNames Channel = ZGCN_A;  // the channel whose mode was set
  TZuGen4ModesCommon Mode = ZGMdC_off;
  TZuGen4ModeAction Action = TZuGen4ModeAction::Keep;
  TZuGen4ModesCommon OtherMode = ZGMdC_off;  // the other channel's mode afterwards
  const char* Rule = "";                     // the rule that decided; "" when the other channel kept its mode
};

// What setting `mode` on `channel` does while the other channel is in `other`.
ZUGEN_API TZuGen4ModeChange ApplyModeRules(TZuGen4ChNames channel, TZuGen4ModesCommon mode, TZuGen4ModesCommon other);

}  // namespace Zu
