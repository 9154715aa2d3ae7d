// DDS keying modulation: binary or quadrature shift keying of the frequency or
// the phase among preset states, or continuous modulation along a user table.
#pragma once

#include <cstdint>
#include <memory>

#include "zugen4/extend/ZuEngine.h"

namespace Zu {

class TZuGen4FileStream;
class TMathFunction;

class ZUGEN_API TZuGen4DDSMod : public TZuGen4Engine {
 public:
  // Range of the keying times; the instrument counts them in steps of 20.
  static constexpr int32_t TIME_TOP = 1300000;
  static constexpr int32_t TIME_BOT = 20;
  // Range of the user mode's modulation frequency, Hz.
  static constexpr double FREQ_MOD_TOP = 1500000.0;
  static constexpr double FREQ_MOD_BOT = 200.0;
  // Largest deviations of the user mode: Hz and degrees.
  static constexpr double FREQ_DEVIAT_MAX = 2000000.0;
  static constexpr double PHASE_DEVIAT_MAX = 180.0;

  explicit TZuGen4DDSMod(TZuGen4EngineHost* owner);
  ~TZuGen4DDSMod() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- the engine interface ---
  const char* EngineName() const override { return "DDSMod"; }
  bool Serves(TZuGen4ModesCommon mode) const override;
  int EntryOrder() const override { return 2; }
  void EnterAlone() override;
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream) override;
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream) override;
  const TPropTable& PublishedProperties() const override { return Published(); }

  // --- published properties ---
  // Keying frequencies in the channel's unit (kHz), checked as the channel's.
  double F1() const { return FF1; }
  void SetF1(double v);
  double F2() const { return FF2; }
  void SetF2(double v);
  double F3() const { return FF3; }
  void SetF3(double v);
  double F4() const { return FF4; }
  void SetF4(double v);
  double dF() const { return FdF; }  // Hz, user mode
  void Set_dF(double v);
  // Keying phases in degrees, checked as the channel's.
  double Ph1() const { return FPh1; }
  void SetPh1(double v);
  double Ph2() const { return FPh2; }
  void SetPh2(double v);
  double Ph3() const { return FPh3; }
  void SetPh3(double v);
  double Ph4() const { return FPh4; }
  void SetPh4(double v);
  double dPh() const { return FdPh; }  // degrees, user mode
  void Set_dPh(double v);
  // How long each keying state is held.
  double T1() const { return FT1; }
  void SetT1(double v);
  double T2() const { return FT2; }
  void SetT2(double v);
  double T3() const { return FT3; }
  void SetT3(double v);
  double T4() const { return FT4; }
  void SetT4(double v);
  // User mode: a half-period sine table played forwards and backwards.
  bool ContBidiRamp() const { return FContBidiRamp; }
  void SetContBidiRamp(bool v);
  TZuGen4DDSmodModes Mode() const { return FMode; }
  void SetMode(TZuGen4DDSmodModes v);
  // Frequency or phase; amplitude cannot be keyed.
  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes v);
  double Fm() const { return FFm; }  // Hz, user mode
  void SetFm(double v);
  // Shape and shape parameter of the user table, held by the table itself.
  TMathFuncsTypes MathFuncType() const { return GetMathFuncType(); }
  TMathFuncsTypes GetMathFuncType() const;
  void SetMathFuncType(TMathFuncsTypes v);
  double CC() const { return GetCC(); }
  double GetCC() const;
  void SetCC(double v);
  int ReadingsCntMin() const { return FReadingsCntMin; }
  void SetReadingsCntMin(int v);

  // --- public, not published ---
  // Binary/quadrature keying: the instrument's external times end the sequence.
  bool UseExtTimes() const { return FUseExtTimes; }
  void SetUseExtTimes(bool v);
  // Length and step time (10 ns ticks) of the user table, as last chosen.
  int N() const { return FN; }
  bool DescribeTable(TZuGen4PlanTable& table) const override;
  std::string NoTableReason() const override;
  int Tau() const { return FTau; }
  const TMathFunction* MathFunction() const { return FMathFunction.get(); }

  // True within [TIME_BOT, TIME_TOP]; otherwise reports t through
  // OnParamValueError.
  bool CheckTimeRange(double t);
  // Only the sine has a half-period table.
  bool CanUseHalfOfPeriod() const;
  // Chooses N and Tau so that one pass of the table lasts as close to 1/Fm as
  // the instrument allows.
  void Calc_N_Tau();

  // The channel's sine parameters, then the sequence of the keying mode.
  void StartDDSMod();
  void Start_xSK();
  void StartUserMode();
  // Loads keying state index + 1 (index 0 to 3; others send nothing).
  void OutputReading(char index);
  // Sends the user table as computed by the last StartUserMode (nothing while
  // there is none).
  void OutputUserReading();

 private:
  void SetFreq(double& field, double v);
  void SetPhaseValue(double& field, double v);
  void SetTime(double& field, double v);
  template <typename T>
  void Store(T& field, T v);
  void Send(uint8_t code, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0, uint8_t b5 = 0);
  bool KeysPhase() const { return FType == ZGAFPms_phase; }
  uint8_t ControlByte() const;
  uint8_t SelectorByte() const;
  uint32_t FreqWord(double kHz) const;
  static uint32_t PhaseWord(double degrees);
  uint32_t KeyingWord(int state) const;

  double FF1 = 1000.0;
  double FF2 = 1000.0;
  double FF3 = 1000.0;
  double FF4 = 1000.0;
  double FdF = 1000.0;
  double FPh1 = 0.0;
  double FPh2 = 180.0;
  double FPh3 = 90.0;
  double FPh4 = 270.0;
  double FdPh = 90.0;
  double FT1 = 1000.0;
  double FT2 = 1000.0;
  double FT3 = 1000.0;
  double FT4 = 1000.0;
  TZuGen4DDSmodModes FMode = ZGTMs_BxSK;
  TZuGen4AFPModes FType = ZGAFPms_freq;
  bool FUseExtTimes = false;
  bool FContBidiRamp = false;
  double FFm = 1000.0;
  int FN = 0;
  int FTau = 0;
  std::unique_ptr<TMathFunction> FMathFunction;
  int FReadingsCntMin = 32;
};

}  // namespace Zu
