#include "zugen4/ZuModeRules.h"

#include <iterator>

namespace Zu {

namespace {

// Columns of ForcesOff: off, gen, tuning, IntModulation, ExtModulation,
// ExtModulationA12, ExtModulationAB1, LFM, DDSMod, then a value naming no mode.
constexpr TZuGen4ModeRule kRules[] = {
    {ZGMdC_off, false, false, "......x...",
     "joint external modulation (AB1) needs both channels: switching one off ends it on the other"},
    {ZGMdC_gen, false, false, "......x...",
     "joint external modulation (AB1) needs both channels: a channel that generates ends it on the other"},
    {ZGMdC_tuning, false, false, "..xxxxxx..", "tuning: the other channel may only be off, generate or key (DDSMod)"},
    {ZGMdC_IntModulation, false, false, "..x.xxxxx.",
     "internal modulation: the other channel may only be off, generate or modulate internally too"},
    {ZGMdC_ExtModulation, false, false, "..xx.xxx..",
     "external modulation: the other channel may only be off, generate, modulate externally too or key (DDSMod)"},
    {ZGMdC_ExtModulationA12, true, false, "..xxx.xx..",
     "external modulation A12 feeds both inputs to channel A (channel A only): the other channel may only be off, "
     "generate or key (DDSMod)"},
    {ZGMdC_ExtModulationAB1, false, true, "..........",
     "joint external modulation (AB1) drives both channels: the other channel joins it"},
    {ZGMdC_LFM, false, false, "..xxxxx..x",
     "sweep: the other channel may only be off, generate, sweep or key (DDSMod)"},
    {ZGMdC_DDSMod, false, false, "...x..x...",
     "keying (DDSMod): the other channel may not modulate internally nor run joint external modulation (AB1)"},
    // new-engine: mode rows
};
static_assert(std::size(kRules) == ZGMdC_Count);

// Every row has a column for each mode and one for a value naming none, and
// stands at its mode's place.
constexpr bool RowsComplete() {
  for (unsigned i = 0; i < std::size(kRules); ++i) {
    if (kRules[i].Mode != static_cast<TZuGen4ModesCommon>(i)) return false;
    unsigned n = 0;
    while (kRules[i].ForcesOff[n] != '\0') ++n;
    if (n != ZGMdC_Count + 1) return false;
  }
  return true;
}
static_assert(RowsComplete(), "a ForcesOff row lacks a column, or a row stands out of its mode's place");

}  // namespace

std::span<const TZuGen4ModeRule> ModeRules() { return kRules; }

const TZuGen4ModeRule* FindModeRule(TZuGen4ModesCommon mode) { return mode < ZGMdC_Count ? &kRules[mode] : nullptr; }

TZuGen4ModeChange ApplyModeRules(TZuGen4ChNames channel, TZuGen4ModesCommon mode, TZuGen4ModesCommon other) {
  TZuGen4ModeChange change{channel, mode, TZuGen4ModeAction::Keep, other, ""};
  // A value that names no mode is taken as it is and changes nothing else.
  const TZuGen4ModeRule* rule = FindModeRule(mode);
  if (!rule) return change;
  if (rule->ChannelAOnly && channel != ZGCN_A) {
    change.Action = TZuGen4ModeAction::Refuse;
    change.Rule = rule->Text;
    return change;
  }
  if (rule->PullsOtherIn) {
    change.Action = TZuGen4ModeAction::PullIn;
    change.OtherMode = mode;
    change.Rule = rule->Text;
    return change;
  }
  const unsigned column = other < ZGMdC_Count ? unsigned{other} : ZGMdC_Count;
  if (rule->ForcesOff[column] == 'x') {
    change.Action = TZuGen4ModeAction::ForceOff;
    change.OtherMode = ZGMdC_off;
    change.Rule = rule->Text;
  }
  return change;
}

}  // namespace Zu
