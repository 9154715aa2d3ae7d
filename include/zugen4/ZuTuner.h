// Tuning mode: the instrument tunes one quantity around a base value and keeps
// an ADC reading that is polled on a timer.
#pragma once

#include <memory>

#include "zugen4/Timers.h"
#include "zugen4/extend/ZuEngine.h"

namespace Zu {

class ZUGEN_API TZuGen4Tuner : public TZuGen4Engine {
 public:
  static constexpr const char* MSG_TIMER_ERROR = "Невозможно создать таймер!";

  explicit TZuGen4Tuner(TZuGen4EngineHost* owner);
  ~TZuGen4Tuner() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- the engine interface ---
  const char* EngineName() const override { return "Tuner"; }
  bool Serves(TZuGen4ModesCommon mode) const override;
  int EntryOrder() const override { return 3; }
  void EnterAlone() override;
  void EnterPaired(TZuGen4Engine& b) override;
  double MaxAmplitude() const override { return ScaleLimit(FScale); }
  bool FitScale(double& limit) override;
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream) override;
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream) override;
  const TPropTable& PublishedProperties() const override { return Published(); }

  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes t);
  int Scale() const { return FScale; }
  void SetScale(int s);
  uint32_t ADCValue() const { return FADCValue; }
  bool ADCTimerEnabled() const { return FADCTimerEnabled; }
  void SetADCTimerEnabled(bool v);
  int ADCTimerInterval() const { return FADCTimerInterval; }
  void SetADCTimerInterval(int ms);

  // Stops the polling timer and starts it anew, a full period from now, while
  // polling is wanted (interval > 0, enabled, generator active, channel
  // tuning). Raises EOutOfResources when the timer service refuses.
  void UpdateADCTimer();
  // One poll, run by the timer on the thread that started it.
  void ADCTimer();
  void GetADCValue();
  void SetModeFreqTune();
  void SetModeAmplTune();
  void SetModePhaseTune();

 private:
  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FScale = 0;
  uint32_t FADCValue = 0;
  int FADCTimerInterval = 500;
  bool FADCTimerEnabled = false;
  // The service the running timer came from, kept so that it is stopped
  // there even if the generator's platform changes meanwhile.
  std::shared_ptr<TTimerService> FTimers;
  uint32_t FTimerId = 0;
};

}  // namespace Zu
