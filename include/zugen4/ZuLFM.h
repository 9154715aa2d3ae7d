// Linear frequency sweep between the channel's frequency and FreqTop.
#pragma once

#include "zugen4/extend/ZuEngine.h"

namespace Zu {

class ZUGEN_API TZuGen4LFM : public TZuGen4Engine {
 public:
  // Accepted range of the four times.
  static constexpr double TIME_BOT = 10.0;
  static constexpr double TIME_TOP = 10000000.0;
  // The two factors of the slope: frequency span × MUL_COEF over time × DIV_COEF.
  static constexpr double MUL_COEF = 1073741824.0;
  static constexpr double DIV_COEF = 10000000.0;

  explicit TZuGen4LFM(TZuGen4EngineHost* owner);
  ~TZuGen4LFM() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- the engine interface ---
  const char* EngineName() const override { return "LFM"; }
  bool Serves(TZuGen4ModesCommon mode) const override;
  int EntryOrder() const override { return 5; }
  void EnterAlone() override;
  void EnterPaired(TZuGen4Engine& b) override;
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream) override;
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream) override;
  const TPropTable& PublishedProperties() const override { return Published(); }

  // --- published properties ---
  // Upper end of the sweep, in the unit of the channel's Frequency; refused
  // silently below the channel's Frequency or above the channel's range.
  int FreqTop() const { return FFreqTop; }
  void SetFreqTop(int v);
  int Tinc0() const { return FTinc0; }  // rising ramp, sets the rising slope
  void SetTinc0(int v);
  int Tinc1() const { return FTinc1; }  // added to Tinc0 for the rising phase
  void SetTinc1(int v);
  int Tdec0() const { return FTdec0; }  // falling ramp, sets the falling slope
  void SetTdec0(int v);
  int Tdec1() const { return FTdec1; }  // added to Tdec0 for the falling phase
  void SetTdec1(int v);

  // True within [TIME_BOT, TIME_TOP]; otherwise reports t through
  // OnParamValueError.
  bool CheckTimeRange(double t);
  // Opens the channel with its sine, then StartLFM.
  void Enter(bool startSweep);
  // Loads the sweep; with startSweep also the phase durations and the run
  // command.
  void StartLFM(bool startSweep);

  // Best fraction A/B for X/Y whose terms stay within the bounds (0: none), from
  // the continued-fraction expansion. Negative or non-finite X or Y, or a NaN
  // bound, give 0/0 like a zero X or Y.
  static void XYtoAB(double X, double Y, double MaxA, double MaxB, double& A, double& B);

 private:
  friend class TZuGen4Channel;  // raises FreqTop along with the channel frequency
  void SetTime(int& field, int v);
  void SendRamp(uint8_t code, double X, int time);

  int FFreqTop = 0;
  int FTinc0 = 0;
  int FTinc1 = 0;
  int FTdec0 = 0;
  int FTdec1 = 0;
};

}  // namespace Zu
