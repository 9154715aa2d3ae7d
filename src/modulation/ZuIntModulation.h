// Internal modulation: a table played from the instrument's memory.
#pragma once

#include "generator/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4IntModulation : public TPersistent {
public:
  explicit TZuGen4IntModulation(TZuGen4Channel* owner);
  ~TZuGen4IntModulation() override;

  TZuGen4Channel* Channel() const { return FChannel; }
  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes t);
  int Fm() const { return FFm; }
  int dA() const { return FdA; }
  void SetdA(int v);
  int dF() const { return FdF; }
  int dPh() const { return FdPh; }

  void WriteReadings(bool single);
  void StartModulationCmd(TZuGen4Commands code);
  void StartSingleModulation(bool start);
  void StartDoubleModulation(bool start);
  void StartDuplexModulation(bool start);

private:
  TZuGen4Channel* FChannel;
  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FFm = 1000;
  int FdA = 50;
  int FdF = 100;
  int FdPh = 90;
};

}  // namespace Zu
