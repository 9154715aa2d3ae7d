// A channel: one output of the instrument with its sine parameters, its mode
// and one object of each modulation engine.
#pragma once

#include <cstddef>
#include <memory>
#include <tuple>
#include <type_traits>
#include <vector>

#include "zugen4/ZuDDSMod.h"
#include "zugen4/ZuExtModulation.h"
#include "zugen4/ZuIntModulation.h"
#include "zugen4/ZuLFM.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuTuner.h"
#include "zugen4/ZuTypes.h"
#include "zugen4/extend/ZuEngine.h"
#include "zugen4/extend/ZuLink.h"
// new-engine: engine headers

namespace Zu {

// The engines every channel has, in the order of the settings record. A new
// engine is one more type here.
using TZuGen4EngineTypes =
    std::tuple<TZuGen4Tuner, TZuGen4IntModulation, TZuGen4ExtModulation, TZuGen4LFM, TZuGen4DDSMod>;

// What a channel sees of the generator that owns it; TZuGen4 implements it.
class ZUGEN_API TZuGen4ChannelHost {
 public:
  // The generator's events that channels and engines raise; a host assigns
  // them on the generator like its other events.
  TParamValueErrorEvent OnParamValueError;
  TChannelEvent OnADCTimer;
  TChModeChangeEvent OnChModeChange;
  TOverModulationEvent OnOverModulation;

  virtual TZuGen4* HostGenerator() const = 0;
  virtual TZuGen4ChannelA* ChA() const = 0;
  virtual TZuGen4ChannelB* ChB() const = 0;
  virtual TZuGen4Options* Options() const = 0;
  virtual void TryUpdateMode() = 0;
  virtual TZuGen4Link& Link() = 0;
  virtual bool Active() const = 0;
  virtual double GenFreq() const = 0;
  virtual const TPlatform& Platform() const = 0;
  // Remembers the outcome of a channel's SetMode (TZuGen4::LastModeChange).
  virtual void NoteModeChange(const TZuGen4ModeChange& change) = 0;

 protected:
  ~TZuGen4ChannelHost() = default;
};

class ZUGEN_API TZuGen4Channel : public TPersistent, public TZuGen4EngineHost {
 public:
  // FREQUENCY_TOP/BOT, AMPL_TOP/BOT and PHASE_TOP/BOT come from TZuGen4EngineHost.

  ~TZuGen4Channel() override;

  virtual void Loaded();
  virtual bool IsChannelA() const = 0;
  // Asks the generator for an update cycle (it runs if the generator's
  // automatic update permits).
  void UpdateMode() override;

  TZuGen4* Generator() const { return FGenerator->HostGenerator(); }
  // The generator's command link: the engines' road to the instrument.
  TZuGen4Link& Link() const override;
  TZuGen4Channel* GetOtherCh() const;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- published properties ---
  TZuGen4ModesCommon Mode() const override { return FMode; }
  void SetMode(TZuGen4ModesCommon m);
  double Frequency() const override { return FFrequency; }  // kHz
  void Set_sinFrequency(double f);
  double Amplitude() const override { return FAmplitude; }  // percent of full scale
  void Set_sinAmplitude(double a);
  double Phase() const override { return FPhase; }  // degrees
  void SetPhase(double p);
  TZuGen4ChNames ChannelType() const override { return FChannelType; }
  TZuGen4IntModulation* IntModulation() const { return Engine<TZuGen4IntModulation>(); }
  TZuGen4ExtModulation* ExtModulation() const { return Engine<TZuGen4ExtModulation>(); }
  TZuGen4Tuner* Tuner() const { return Engine<TZuGen4Tuner>(); }
  TZuGen4LFM* LFM() const { return Engine<TZuGen4LFM>(); }
  TZuGen4DDSMod* DDSMod() const { return Engine<TZuGen4DDSMod>(); }

  // --- engines ---
  // Every engine, in the order of TZuGen4EngineTypes.
  const std::vector<std::unique_ptr<TZuGen4Engine>>& Engines() const { return FEngines; }
  // The engine of the given type.
  template <class E>
  E* Engine() const {
    return static_cast<E*>(FEngines[IndexOf<E>(static_cast<TZuGen4EngineTypes*>(nullptr))].get());
  }

  // --- checks and limits ---
  bool CheckFreqRange(double f) override;
  bool CheckPhaseRange(double p) override;
  double GetMaxAmplAvoidOverMod() const;
  void CorrectAmplAvoidOverModul();
  // Raises OnOverModulation when the mode being entered would over-modulate
  // the amplitude of this channel.
  void NotifyOverModulation(TZuGen4AFPModes engineType) override;

  // --- mode state machine ---
  bool CheckEnableNewMode(TZuGen4ModesCommon m) const;
  void CheckModesCompat();
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool value);
  bool Opened() const { return FOpened; }
  void SetOpened(bool v) override;
  bool AutoUpdate() const { return FAutoUpdate; }
  void SetAutoUpdate(bool v);
  bool IsLoaded() const { return FLoaded; }
  // Puts back the two flags the settings record keeps beside the mode, with
  // no command: for code that rebuilds the setup in place.
  void RestoreHistory(bool loaded, bool opened) {
    FLoaded = loaded;
    FOpened = opened;
  }
  void UpdateDependentTimers();

  // --- settings file ---
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream);
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream);

  // --- entry operations ---
  void WriteAFPtoGen() override;
  void SetModeSinGeneration();
  void SetModeTuning();
  void SetModeIntModulation(bool start);
  void SetModeExtModulation(bool start);
  void SetModeLFM(bool start);
  void SetModeDDSMod();
  void SetModeOff();

 protected:
  TZuGen4Channel(TZuGen4ChannelHost* owner, TZuGen4ChNames type);
  void DestroyEngines();
  void DestroyTuner();

 private:
  template <class E, class... T>
  static constexpr size_t IndexOf(std::tuple<T...>*) {
    constexpr bool match[] = {std::is_same_v<E, T>...};
    for (size_t i = 0; i < sizeof...(T); ++i)
      if (match[i]) return i;
    return sizeof...(T);
  }
  template <class... E>
  void MakeEngines(std::tuple<E...>*) {
    (FEngines.push_back(std::make_unique<E>(this)), ...);
  }

  // --- what the engines see (TZuGen4EngineHost) ---
  TZuGen4Channel* HostChannel() const override { return const_cast<TZuGen4Channel*>(this); }
  TZuGen4EngineHost* OtherHost() const override { return GetOtherCh(); }
  TZuGen4Engine* OtherEngine(const TZuGen4Engine* mine) const override;
  double GenFreq() const override;
  bool GeneratorActive() const override;
  std::shared_ptr<TTimerService> Timers() const override;
  bool DuplexIntModEnabled() const override;
  void ReportParamValueError(TZuGen4Parameters param, double value) override;
  void ReportADCReading() override;

  void RaiseModeChange(TZuGen4Channel* ch, bool val);
  void Send(uint8_t code);

  bool FAutoUpdate = true;
  bool FEnabled = false;
  TZuGen4ChannelHost* FGenerator;
  TZuGen4ModesCommon FMode = ZGMdC_off;
  bool FLoaded = false;
  bool FOpened = false;
  std::vector<std::unique_ptr<TZuGen4Engine>> FEngines;
  double FFrequency = 1000.0;
  double FAmplitude = 100.0;
  double FPhase = 0.0;
  TZuGen4ChNames FChannelType;
};

class ZUGEN_API TZuGen4ChannelA : public TZuGen4Channel {
 public:
  explicit TZuGen4ChannelA(TZuGen4ChannelHost* owner);
  ~TZuGen4ChannelA() override;
  void Loaded() override;
  bool IsChannelA() const override { return true; }
};

class ZUGEN_API TZuGen4ChannelB : public TZuGen4Channel {
 public:
  explicit TZuGen4ChannelB(TZuGen4ChannelHost* owner);
  ~TZuGen4ChannelB() override;
  void Loaded() override;
  bool IsChannelA() const override { return false; }
};

}  // namespace Zu
