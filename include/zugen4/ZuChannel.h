// A channel: one output of the instrument with its sine parameters, its mode
// and one object of each modulation engine.
#pragma once

#include <memory>

#include "zugen4/ZuLink.h"
#include "zugen4/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4Channel : public TPersistent {
 public:
  static constexpr int32_t FREQUENCY_TOP = 200000;
  static constexpr int32_t FREQUENCY_BOT = 400;
  static constexpr int32_t AMPL_TOP = 100;
  static constexpr int32_t AMPL_BOT = 0;
  static constexpr int32_t PHASE_TOP = 360;
  static constexpr int32_t PHASE_BOT = 0;

  ~TZuGen4Channel() override;

  virtual void Loaded();
  virtual bool IsChannelA() const = 0;
  // Asks the generator for an update cycle (it runs if the generator's
  // automatic update permits).
  virtual void UpdateMode();

  TZuGen4* Generator() const { return FGenerator; }
  // The generator's command link: the engines' road to the instrument.
  TZuGen4Link& Link() const;
  TZuGen4Channel* GetOtherCh() const;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- published properties ---
  TZuGen4ModesCommon Mode() const { return FMode; }
  void SetMode(TZuGen4ModesCommon m);
  double Frequency() const { return FFrequency; }  // kHz
  void Set_sinFrequency(double f);
  double Amplitude() const { return FAmplitude; }  // percent of full scale
  void Set_sinAmplitude(double a);
  double Phase() const { return FPhase; }  // degrees
  void SetPhase(double p);
  TZuGen4ChNames ChannelType() const { return FChannelType; }
  TZuGen4IntModulation* IntModulation() const { return FIntModulation.get(); }
  TZuGen4ExtModulation* ExtModulation() const { return FExtModulation.get(); }
  TZuGen4Tuner* Tuner() const { return FTuner.get(); }
  TZuGen4LFM* LFM() const { return FLFM.get(); }
  TZuGen4DDSMod* DDSMod() const { return FDDSMod.get(); }

  // --- checks and limits ---
  bool CheckFreqRange(double f);
  bool CheckPhaseRange(double p);
  double GetMaxAmplAvoidOverMod() const;
  void CorrectAmplAvoidOverModul();
  // Raises OnOverModulation when the mode being entered would over-modulate
  // the amplitude of this channel.
  void NotifyOverModulation(TZuGen4AFPModes engineType);

  // --- mode state machine ---
  bool CheckEnableNewMode(TZuGen4ModesCommon m) const;
  void CheckModesCompat();
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool value);
  bool Opened() const { return FOpened; }
  void SetOpened(bool v);
  bool AutoUpdate() const { return FAutoUpdate; }
  void SetAutoUpdate(bool v);
  bool IsLoaded() const { return FLoaded; }
  void UpdateDependentTimers();

  // --- settings file ---
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream);
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream);

  // --- entry operations ---
  void WriteAFPtoGen();
  void SetModeSinGeneration();
  void SetModeTuning();
  void SetModeIntModulation(bool start);
  void SetModeExtModulation(bool start);
  void SetModeLFM(bool start);
  void SetModeDDSMod();
  void SetModeOff();

 protected:
  TZuGen4Channel(TZuGen4* owner, TZuGen4ChNames type);
  void DestroyEngines();
  void DestroyTuner();

 private:
  void RaiseModeChange(TZuGen4Channel* ch, bool val);
  void Send(uint8_t code);

  bool FAutoUpdate = true;
  bool FEnabled = false;
  TZuGen4* FGenerator;
  TZuGen4ModesCommon FMode = ZGMdC_off;
  bool FLoaded = false;
  bool FOpened = false;
  std::unique_ptr<TZuGen4Tuner> FTuner;
  std::unique_ptr<TZuGen4IntModulation> FIntModulation;
  std::unique_ptr<TZuGen4ExtModulation> FExtModulation;
  std::unique_ptr<TZuGen4LFM> FLFM;
  std::unique_ptr<TZuGen4DDSMod> FDDSMod;
  double FFrequency = 1000.0;
  double FAmplitude = 100.0;
  double FPhase = 0.0;
  TZuGen4ChNames FChannelType;
};

class ZUGEN_API TZuGen4ChannelA : public TZuGen4Channel {
 public:
  explicit TZuGen4ChannelA(TZuGen4* owner);
  ~TZuGen4ChannelA() override;
  void Loaded() override;
  bool IsChannelA() const override { return true; }
};

class ZUGEN_API TZuGen4ChannelB : public TZuGen4Channel {
 public:
  explicit TZuGen4ChannelB(TZuGen4* owner);
  ~TZuGen4ChannelB() override;
  void Loaded() override;
  bool IsChannelA() const override { return false; }
};

}  // namespace Zu
