// The engine interface. A modulation engine (tuner, internal and external
// modulation, sweep, keying) belongs to one channel; it sees that channel only
// through TZuGen4EngineHost, which the channel implements, and the channel and
// the generator drive every engine through TZuGen4Engine alone: entering its
// mode alone or paired, its part of the over-modulation limit, its part of the
// settings record and its published properties.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zugen4/Classes.h"
#include "zugen4/ZuPlan.h"
#include "zugen4/ZuTypes.h"
#include "zugen4/extend/Platform.h"
#include "zugen4/extend/ZuLink.h"

namespace Zu {

class TZuGen4Engine;
class TMathFunction;

// What an engine sees of the channel that owns it.
class ZUGEN_API TZuGen4EngineHost {
 public:
  // The channel's ranges (TZuGen4Channel names them too).
  static constexpr int32_t FREQUENCY_TOP = 200000;
  static constexpr int32_t FREQUENCY_BOT = 400;
  static constexpr int32_t AMPL_TOP = 100;
  static constexpr int32_t AMPL_BOT = 0;
  static constexpr int32_t PHASE_TOP = 360;
  static constexpr int32_t PHASE_BOT = 0;

  // The channel as hosts know it.
  virtual TZuGen4Channel* HostChannel() const = 0;
  virtual TZuGen4ChNames ChannelType() const = 0;
  virtual TZuGen4ModesCommon Mode() const = 0;
  virtual double Frequency() const = 0;  // kHz
  virtual double Amplitude() const = 0;  // percent of full scale
  virtual double Phase() const = 0;      // degrees
  // Range checks that raise OnParamValueError on a refusal.
  virtual bool CheckFreqRange(double f) = 0;
  virtual bool CheckPhaseRange(double p) = 0;
  // Asks for an update cycle (it runs as the generator's automatic update permits).
  virtual void UpdateMode() = 0;
  // The channel's output switch and its sine registers.
  virtual void SetOpened(bool v) = 0;
  virtual void WriteAFPtoGen() = 0;
  // Raises OnOverModulation when entering a mode that modulates the given quantity would over-modulate.
  virtual void NotifyOverModulation(TZuGen4AFPModes engineType) = 0;
  virtual TZuGen4Link& Link() const = 0;
  // The other channel, and its engine of the same kind (nullptr without one).
  virtual TZuGen4EngineHost* OtherHost() const = 0;
  virtual TZuGen4Engine* OtherEngine(const TZuGen4Engine* mine) const = 0;

  // --- what the generator provides ---
  virtual double GenFreq() const = 0;  // system clock, MHz
  virtual bool GeneratorActive() const = 0;
  virtual std::shared_ptr<TTimerService> Timers() const = 0;
  virtual bool DuplexIntModEnabled() const = 0;
  // Raise the generator's OnParamValueError and OnADCTimer for this channel.
  // The ADC event may destroy the generator: nothing may follow it.
  virtual void ReportParamValueError(TZuGen4Parameters param, double value) = 0;
  virtual void ReportADCReading() = 0;

 protected:
  ~TZuGen4EngineHost() = default;
};

class ZUGEN_API TZuGen4Engine : public TPersistent {
 public:
  explicit TZuGen4Engine(TZuGen4EngineHost* owner) : FChannel(owner) {}
  ~TZuGen4Engine() override;

  // The channel that owns the engine.
  TZuGen4Channel* Channel() const { return FChannel->HostChannel(); }
  TZuGen4EngineHost* Host() const { return FChannel; }

  // Its name as the channel publishes it ("IntModulation").
  virtual const char* EngineName() const = 0;
  // Whether a channel in this mode runs this engine.
  virtual bool Serves(TZuGen4ModesCommon mode) const = 0;
  // Where the update cycle enters this engine's modes among the engines:
  // lower first (tables are loaded before anything that may start them).
  virtual int EntryOrder() const = 0;
  // Enters the mode on this channel, the other channel not being in it.
  virtual void EnterAlone() = 0;
  // Both channels are in this engine's modes: called on channel A's engine
  // with channel B's. By default each enters alone, A first.
  virtual void EnterPaired(TZuGen4Engine& b);

  // The highest amplitude (percent) the running mode leaves free of
  // over-modulation; 100 where the engine takes no headroom.
  virtual double MaxAmplitude() const { return 100.0; }
  // Brings the engine's scale into the band its limit is defined for and
  // gives the limit; false for an engine without a scale.
  virtual bool FitScale(double& limit);

  // The table its mode downloads, as its last entry computed it: Quantity,
  // Codes in play order, step time and divider (the generator adds the
  // path, the values and the unit). False when the engine, as it is set,
  // plays no table.
  virtual bool DescribeTable(TZuGen4PlanTable&) const { return false; }
  // Why DescribeTable finds no table, in words.
  virtual std::string NoTableReason() const { return "its modes download no table"; }
  // Why entering its mode raised an exception, when the engine's own values
  // explain it: the property within the engine ("Fm"), its value as text and
  // the reason in words. False when they do not.
  virtual bool ExplainRefusal(std::string& /*property*/, std::string& /*value*/, std::string& /*why*/) const {
    return false;
  }

  // Its part of the settings record, and the settings-file version that
  // first carried it (the FIOMetricsVer it came with): a file of an earlier
  // version lacks the part, and reading one leaves the engine as it is.
  virtual int RecordSince() const { return 1; }
  virtual TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream) = 0;
  virtual TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream) = 0;
  // Its published properties: the class's static Published() (ZuRegistry.h).
  virtual const TPropTable& PublishedProperties() const = 0;

 protected:
  // A table's codes in the order the instrument plays them.
  static std::vector<uint32_t> CodesInPlayOrder(const TMathFunction& f);
  // Amplitude left free when a modulation spans 100 × 2^(scale − 21) percent.
  static double ScaleLimit(int scale);
  // The instrument takes the loaded registers: synchronously, or on its own update.
  void UpdateDDSs(bool sync);
  // A frequency of the engine's own (kHz) that the system clock cannot
  // produce, set before the clock went down, is told to the host as the
  // channel's frequency is (OnParamValueError, ZGPrm_Frequency); its register
  // then gets the top code.
  void ReportBeyondClock(double kHz) const;

  TZuGen4EngineHost* FChannel;
};

}  // namespace Zu
