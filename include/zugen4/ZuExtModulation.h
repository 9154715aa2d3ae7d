// External modulation: the channel follows a signal at the instrument's
// external inputs.
#pragma once

#include "zugen4/extend/ZuEngine.h"

namespace Zu {

class ZUGEN_API TZuGen4ExtModulation : public TZuGen4Engine {
 public:
  explicit TZuGen4ExtModulation(TZuGen4EngineHost* owner);
  ~TZuGen4ExtModulation() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // --- the engine interface ---
  const char* EngineName() const override { return "ExtModulation"; }
  bool Serves(TZuGen4ModesCommon mode) const override;
  int EntryOrder() const override { return 4; }
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
  int GetTypeAsInt() const;

  // Opens the channel with its sine and loads the base value; start also
  // starts this channel's modulation.
  void Enter(bool start);
  // This channel and the other one both in external modulation: loaded in
  // this order, then started together.
  void EnterDouble(TZuGen4ExtModulation& second);
  void SetModeFreqMod(bool start, bool a12);
  void SetModeAmplMod(bool start, bool a12);
  void SetModePhaseMod(bool start, bool a12);
  void StartSingleModulation(bool a12);
  static void StartDoubleModulation(TZuGen4ChannelA* a, TZuGen4ChannelB* b);
  static void StartDuplexModulation(TZuGen4ChannelA* a);
  // What the two above send, given the engines of channels A and B.
  static void StartDouble(const TZuGen4ExtModulation& a, const TZuGen4ExtModulation& b);
  void StartDuplex();

 private:
  // Sends the base value frame, then the single start when asked to.
  void SendBaseValue(const TZuGen4Cmd& frame, bool start, bool a12);

  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FScale = 0;
};

}  // namespace Zu
