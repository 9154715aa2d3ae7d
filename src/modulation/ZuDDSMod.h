// DDS keying modulation: binary or quadrature shift keying, or a user table.
#pragma once

#include "generator/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4DDSMod : public TPersistent {
public:
  explicit TZuGen4DDSMod(TZuGen4Channel* owner);
  ~TZuGen4DDSMod() override;

  TZuGen4Channel* Channel() const { return FChannel; }
  TZuGen4DDSmodModes Mode() const { return FMode; }
  TZuGen4AFPModes Type() const { return FType; }
  void StartDDSMod();

private:
  TZuGen4Channel* FChannel;
  TZuGen4DDSmodModes FMode = ZGTMs_BxSK;
  TZuGen4AFPModes FType = ZGAFPms_freq;
};

}  // namespace Zu
