// What several classes' property tables share: the enumerators of the
// library's enumerations as the registry names them (full and short names),
// and the reach of the system clock over a frequency's range.
#pragma once

#include <vector>

#include "platform/PropTable.h"
#include "zugen4/ZuTypes.h"

namespace Zu {

// A frequency in kHz is refused where the system clock (MHz) cannot make it:
// below a low external reference that is short of the range's top.
inline void LimitToClock(double genFreqMHz, TPropInfo& info) {
  const double reach = genFreqMHz * 1000.0;
  if (!(reach < info.Max)) return;
  info.Max = reach;
  info.MaxExcluded = true;
  info.RangeNote = "the system clock reaches no higher";
}

// The channel modes: the protocol's names, and beside them the names people
// use (the one table of them; README and HACKING show it).
inline const std::vector<TPropEnumerator>& ModeNames() {
  static const std::vector<TPropEnumerator> names = EnumNames({
      {ZGMdC_off, "ZGMdC_off"},
      {ZGMdC_gen, "ZGMdC_gen", {"sine"}},
      {ZGMdC_tuning, "ZGMdC_tuning"},
      {ZGMdC_IntModulation, "ZGMdC_IntModulation", {"intmod"}},
      {ZGMdC_ExtModulation, "ZGMdC_ExtModulation", {"extmod"}},
      {ZGMdC_ExtModulationA12, "ZGMdC_ExtModulationA12", {"extmodA12"}},
      {ZGMdC_ExtModulationAB1, "ZGMdC_ExtModulationAB1", {"extmodAB1"}},
      {ZGMdC_LFM, "ZGMdC_LFM", {"sweep"}},
      {ZGMdC_DDSMod, "ZGMdC_DDSMod", {"keying"}},
      // new-engine: mode names
  });
  return names;
}

inline const std::vector<TPropEnumerator>& AFPModeNames() {
  static const std::vector<TPropEnumerator> names = EnumNames({
      {ZGAFPms_freq, "ZGAFPms_freq"},
      {ZGAFPms_ampl, "ZGAFPms_ampl"},
      {ZGAFPms_phase, "ZGAFPms_phase"},
  });
  return names;
}

inline const std::vector<TPropEnumerator>& MathFuncNames() {
  static const std::vector<TPropEnumerator> names = EnumNames({
      {ZMFT_sin, "ZMFT_sin"},
      {ZMFT_triangle, "ZMFT_triangle"},
      {ZMFT_rect, "ZMFT_rect"},
  });
  return names;
}

inline const std::vector<TPropEnumerator>& DDSModModeNames() {
  static const std::vector<TPropEnumerator> names = EnumNames({
      {ZGTMs_BxSK, "ZGTMs_BxSK"},
      {ZGTMs_QxSK, "ZGTMs_QxSK"},
      {ZGTMs_User, "ZGTMs_User"},
  });
  return names;
}

inline const std::vector<TPropEnumerator>& ChannelNames() {
  static const std::vector<TPropEnumerator> names = EnumNames({{ZGCN_A, "ZGCN_A"}, {ZGCN_B, "ZGCN_B"}});
  return names;
}

}  // namespace Zu
