// Internal modulation: a table of register codes played out of the
// instrument's memory, one reading per tick of its table timer.
#pragma once

#include <cstdint>
#include <memory>

#include "zugen4/extend/ZuEngine.h"

namespace Zu {

class TMathFunction;

class ZUGEN_API TZuGen4IntModulation : public TZuGen4Engine {
 public:
  static constexpr double FREQ_MOD_BOT = 1.0;
  static constexpr double FREQ_MOD_TOP = 20000.0;
  static constexpr int DEVIAT_AMPL_MAX = 100;
  static constexpr int DEVIAT_FREQ_MAX = 2000000;
  static constexpr int DEVIAT_PHASE_MAX = 180;
  // Clock of the instrument's table timer, Hz.
  static constexpr int F_Ftimer = 88473600;
  static constexpr const char* MSG_DIVIDER_OVERFLOW = "Переполнение делителя! (> FF80 или > FF00 )";

  explicit TZuGen4IntModulation(TZuGen4EngineHost* owner);
  ~TZuGen4IntModulation() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- the engine interface ---
  const char* EngineName() const override { return "IntModulation"; }
  bool Serves(TZuGen4ModesCommon mode) const override;
  int EntryOrder() const override { return 1; }
  void EnterAlone() override;
  void EnterPaired(TZuGen4Engine& b) override;
  double MaxAmplitude() const override;
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream) override;
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream) override;
  const TPropTable& PublishedProperties() const override { return Published(); }

  // The table object; it holds the last table computed.
  const TMathFunction* MathFunction() const { return FMathFunction.get(); }

  // --- published properties ---
  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes t);
  int Fm() const { return FFm; }  // Hz
  void SetFm(int v);
  int dA() const { return FdA; }  // percent of the channel's Amplitude
  void SetdA(int v);
  int dF() const { return FdF; }  // Hz
  void SetdF(int v);
  int dPh() const { return FdPh; }  // degrees
  void SetdPh(int v);
  double CC() const;
  double GetCC() const { return CC(); }
  // Always asks for an update, even when the table object refuses the value.
  void SetCC(double v);
  TMathFuncsTypes MathFuncType() const;
  TMathFuncsTypes GetMathFuncType() const { return MathFuncType(); }
  void SetMathFuncType(TMathFuncsTypes v);
  int RdsCnt() const { return FRdsCnt; }

  // What the last table sent was: its size and the timer reload value.
  int RdsBytes() const { return FRdsBytes; }
  uint32_t La() const { return FLa; }

  // Opens the channel with its sine and loads the table (single: the whole memory).
  void Enter(bool single);

  // --- table and timer ---
  // single: the table may fill the whole memory (single and duplex modulation);
  // otherwise each channel has half of it.
  void WriteReadings(bool single);
  void CreateReadings(bool single);
  // Sends the table and computes La; raises the divider overflow after the
  // table went out, keeping the previous La.
  void OutputReadings(bool single);
  // The most readings the timer can play per period at Fm; unlimited at Fm 0.
  static uint32_t GetMaxReadingsCnt(uint32_t Fm, bool single, bool freq);
  // The timer reload value for cnt readings per period (0: as many as fit);
  // raises the divider overflow when no divider makes that period.
  static uint32_t GetLa(uint32_t Fm, bool single, bool freq, uint32_t cnt);

  // --- start and stop ---
  void StartModulationCmd(TZuGen4Commands code);
  void StartSingleModulation(bool start);
  void StopSingleModulation();
  void StartDoubleModulation(bool start);
  void StopDoubleModulation();
  void StartDuplexModulation(bool start);
  void StopDuplexModulation();

  bool DescribeTable(TZuGen4PlanTable& table) const override;
  bool ExplainRefusal(std::string& property, std::string& value, std::string& why) const override;

 private:
  // The quantity as the instrument encodes it in the start command.
  uint8_t TypeCode() const;
  void Send(TZuGen4Commands code, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0);

  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FFm = 1000;
  int FdA = 50;
  int FdF = 100;
  int FdPh = 90;
  std::unique_ptr<TMathFunction> FMathFunction;
  int FRdsBytes = 0;
  int FRdsCnt = 0;
  uint32_t FLa = 0;
  bool FSingle = true;  // how the last table was made: the whole memory, or half
};

}  // namespace Zu
