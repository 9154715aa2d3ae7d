// Tuning mode: the instrument tunes one quantity around a base value and keeps
// an ADC reading that is polled on a timer.
#pragma once

#include "generator/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4Tuner : public TPersistent {
public:
  explicit TZuGen4Tuner(TZuGen4Channel* owner);
  ~TZuGen4Tuner() override;

  TZuGen4Channel* Channel() const { return FChannel; }
  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes t);
  int Scale() const { return FScale; }
  void SetScale(int s);
  uint32_t ADCValue() const { return FADCValue; }
  bool ADCTimerEnabled() const { return FADCTimerEnabled; }
  void SetADCTimerEnabled(bool v);
  int ADCTimerInterval() const { return FADCTimerInterval; }
  void SetADCTimerInterval(int ms);

  void UpdateADCTimer();
  void ADCTimer();
  void GetADCValue();
  void SetModeFreqTune();
  void SetModeAmplTune();
  void SetModePhaseTune();

private:
  TZuGen4Channel* FChannel;
  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FScale = 0;
  uint32_t FADCValue = 0;
  int FADCTimerInterval = 500;
  bool FADCTimerEnabled = false;
};

}  // namespace Zu
